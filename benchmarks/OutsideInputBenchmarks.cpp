// The cost of text from outside, read by the reader alone and through each place that takes it,
// on the documents that cost the most. Each time is that of one call; what is done between calls
// (restoring the processor's first state, emptying the name pool) is not timed.
//   Reader/DOC/POOL        parseUntrustedXml, with the tree's destruction
//   StateRestore/DOC/POOL  setStateInformation with the document as the blob's text
//   UserPreset/DOC/POOL    the preset browser loading the document as a user preset
//   MapLoad/DOC/POOL       the controller map's LOAD of the document as a map file
//   MidiSlot/DOC/POOL      one processBlock (512 samples, 44.1 kHz, no editor open) carrying the
//                          program change whose slot file is the document (DOC None: no change)
//   StateSave/DOC/Fresh    getStateInformation after the document was restored as the host's
//                          state (what a save writes of it, checked to read back)
// POOL is the framework's pool of names: Fresh holds what the plug-in and the framework use;
// Pool32k and Pool175k also hold 32,768 or 175,000 names left by earlier loads (sixteen times
// what 128 slot files at the limit on new names can leave; as many as one document of distinct
// names left before there were limits), all sorting after the document's names, so that every new
// name is inserted in front of them.

#include <benchmark/benchmark.h>

#include <juce_audio_processors/juce_audio_processors.h>

#include "editor/Footer.h"
#include "orvn/CCMapperUIManager.h"
#include "processor/QuorilAudioProcessor.h"
#include "processor/UntrustedXml.h"
#include "support/HostileInputs.h"

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{
constexpr double sampleRate = 44100.0;
constexpr int blockSize = 512;

enum class Entry { reader, stateRestore, userPreset, mapLoad, midiSlot, stateSave };

struct Document
{
    const char* name;
    std::string (*make)();
};

// The state the plug-in itself writes, with two bindings in its map.
std::string ownState()
{
    QuorilAudioProcessor p;
    p.midiMap.lastCC = 74;
    p.midiMap.assignToLastCC ("x_pos");
    p.midiMap.lastCC = 1;
    p.midiMap.assignToLastCC ("dry_wet");
    juce::MemoryBlock blob;
    p.getStateInformation (blob);
    return std::string (static_cast<const char*> (blob.getData()) + 8, blob.getSize() - 9);
}

const Document documents[] = {
    { "OwnState", ownState },
    { "FallingNames", [] { return hostile::fallingNames(); } },
    { "FallingNamesUtf16", [] { return hostile::utf16 (hostile::fallingNames (hostile::fileBytes / 2 - 1)); } },
    { "AttributeNames512", [] { return hostile::attributeNames (512); } },
    { "SameAttributes512", [] { return hostile::attributeNames (512, false); } },
    { "EmptyElements", [] { return "<Quoril>" + hostile::repeated ("<a/>", (int) (hostile::fileBytes - 17) / 4) + "</Quoril>"; } },
    { "DeepChains", [] {
          const auto chain = hostile::repeated ("<a>", maxUntrustedXmlDepth - 1) + hostile::repeated ("</a>", maxUntrustedXmlDepth - 1);
          return "<Quoril>" + hostile::repeated (chain, (int) ((hostile::fileBytes - 17) / chain.size())) + "</Quoril>"; } },
    { "Value", [] { return hostile::bigValue(); } },
    { "ValueUtf16", [] { return hostile::utf16 (hostile::bigValue ('v', hostile::fileBytes / 2 - 1)); } },
    { "Comment", [] { return hostile::bigComment(); } },
    { "Text", [] { return hostile::bigText(); } },
    { "ValueTabs", [] { return hostile::bigValue ('\t'); } },
    { "ValueReferences", [] { return hostile::manyReferences ("&#1;", true); } },
    { "ValueCharacters", [] { return hostile::manyReferences ("&#65;", true); } },
    { "Cdata", [] { return hostile::bigCdata(); } },
    { "CdataSections", [] { return hostile::filled ("<Quoril>" + hostile::repeated ("<![CDATA[x]]>", maxUntrustedXmlElements - 1) + "<!--", 'c',
                                                    "--></Quoril>", hostile::fileBytes); } },
    { "TextEntities", [] { return hostile::manyReferences ("&amp;", false); } },
    { "TextLines", [] { return hostile::bigText ('\n'); } },
    { "TextReturns", [] { return hostile::bigText ('\r'); } },
    { "TextBrackets", [] { return hostile::bigText (']'); } },
    { "CdataLinesThenReturns", [] { return hostile::cdataLinesThenReturns(); } },
    { "CjkPrefix333", [] { return hostile::sharedPrefixNames (333, 127); } },
    { "CjkNames127", [] { return hostile::sharedPrefixNames ((int) ((hostile::fileBytes - 17) / 127 - 5) / 3, 127); } },
    { "LongName", [] { return hostile::longName(); } },
    { "LongInstruction", [] { return hostile::longInstruction(); } },
    { "MostNames", [] { return hostile::mostNames(); } },
    { "MostNamesBase64", [] { return hostile::mostNames (true); } },
    { "MostAttributes", [] { return hostile::mostAttributes(); } },
    { "MostParameters", [] { return hostile::mostParameters(); } },
    { "MostDeepChains", [] { return hostile::mostDeepChains(); } },
    { "MostOfAll", [] { return hostile::mostOfAll(); } },
    { "FallingNamesOverCap", [] { return hostile::fallingNames (4 * hostile::fileBytes); } },
};

const std::string& bytesOf (const Document& document)
{
    static std::map<std::string, std::string> made;
    auto& bytes = made[document.name];
    if (bytes.empty())
        bytes = document.make();
    return bytes;
}

juce::MemoryBlock blobOf (const std::string& text)
{
    juce::MemoryBlock blob;
    juce::MemoryOutputStream out (blob, false);
    out.writeInt (0x21324356);
    out.writeInt ((int) text.size());
    out.write (text.data(), text.size());
    out.writeByte (0);
    out.flush();
    return blob;
}

// Names that sort after every three-letter name, held for the benchmark's run.
struct PrimedPool
{
    explicit PrimedPool (int count)
    {
        names.reserve ((size_t) count);
        for (int i = 0; i < count; ++i)
            names.emplace_back (juce::String ("zzz") + hostile::nameAt (i, 4));
    }

    std::vector<juce::Identifier> names;
};

struct Context
{
    explicit Context (const std::string& text)
        : folder (presetsFolderPath()), preset (folder.getChildFile ("bench.qpst")),
          slot (folder.getChildFile ("MIDI").getChildFile ("bench.qpst")), blob (blobOf (text))
    {
        slot.getParentDirectory().createDirectory();
        preset.replaceWithData (text.data(), text.size());
        slot.replaceWithData (text.data(), text.size());

        p.prepareToPlay (sampleRate, blockSize);
        p.getStateInformation (initialState);
        p.midiPresetFiles = juce::StringArray ("bench.qpst");
    }

    ~Context()
    {
        preset.deleteFile();
        slot.deleteFile();
    }

    // The processor as it was, and a pool without the names of earlier calls.
    void reset()
    {
        p.setStateInformation (initialState.getData(), (int) initialState.getSize());
        juce::StringPool::getGlobalPool().garbageCollect();
    }

    const juce::File folder, preset, slot;
    const juce::MemoryBlock blob;
    QuorilAudioProcessor p;
    quoril::Footer footer { p };
    juce::MemoryBlock initialState;
    juce::AudioBuffer<float> buffer { 2, blockSize };
};

void run (benchmark::State& state, Entry entry, const Document* document, int primed)
{
    const auto& text = document != nullptr ? bytesOf (*document) : std::string();
    PrimedPool pool (primed);
    Context context (text);
    const juce::StringArray presetNames ("bench");
    juce::MidiBuffer programChange;
    if (document != nullptr)
        programChange.addEvent (juce::MidiMessage::programChange (1, 0), 0);

    bool read = false;

    for (auto _ : state)
    {
        context.reset();
        context.buffer.clear();
        auto midi = programChange;
        juce::MemoryBlock saved;

        if (entry == Entry::stateSave)
            context.p.setStateInformation (context.blob.getData(), (int) context.blob.getSize());

        const auto start = std::chrono::steady_clock::now();
        switch (entry)
        {
            case Entry::reader:       read = parseUntrustedXml (text.data(), text.size()) != nullptr; break;
            case Entry::stateRestore: context.p.setStateInformation (context.blob.getData(), (int) context.blob.getSize()); break;
            case Entry::userPreset:   context.footer.loadUserPreset (presetNames, 0); break;
            case Entry::mapLoad:      orvnlib::CCMapperUIManager::loadMapFile (context.p.midiMap, context.preset); break;
            case Entry::midiSlot:     context.p.processBlock (context.buffer, midi); break;
            case Entry::stateSave:    context.p.getStateInformation (saved); break;
        }
        state.SetIterationTime (std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count());
    }
    context.reset();

    // Whether the reader took the document (1) or refused it (0), and its size.
    if (entry == Entry::reader)
        state.counters["read"] = read ? 1.0 : 0.0;
    state.counters["KiB"] = (double) text.size() / 1024.0;
}

[[maybe_unused]] const bool registered = []
{
    const std::pair<Entry, const char*> entries[] = { { Entry::reader, "Reader" }, { Entry::stateRestore, "StateRestore" },
                                                      { Entry::userPreset, "UserPreset" }, { Entry::mapLoad, "MapLoad" },
                                                      { Entry::midiSlot, "MidiSlot" }, { Entry::stateSave, "StateSave" } };
    const auto add = [] (const std::string& name, Entry entry, const Document* document, int primed)
    {
        benchmark::RegisterBenchmark (("Outside/" + name).c_str(), run, entry, document, primed)
            ->UseManualTime()
            ->Unit (benchmark::kMicrosecond)
            ->MinTime (0.05);
    };

    for (const auto& [entry, entryName] : entries)
    {
        if (entry == Entry::midiSlot)
            add ("MidiSlot/None/Fresh", entry, nullptr, 0);

        for (const auto& document : documents)
        {
            // Only the host's state has no file behind it, so only it could be larger.
            if (std::string (document.name).find ("OverCap") != std::string::npos && entry != Entry::stateRestore)
                continue;

            for (const auto& [primed, poolName] : { std::pair<int, const char*> { 0, "Fresh" }, { 32768, "Pool32k" }, { 175000, "Pool175k" } })
                if (entry != Entry::stateSave || primed == 0)
                    add (std::string (entryName) + "/" + document.name + "/" + poolName, entry, &document, primed);
        }
    }
    return true;
}();
} // namespace
