#include "QuorilAudioProcessor.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <locale>
#include <sstream>

namespace
{
constexpr int numPoles = 4;
constexpr int numChannels = 2;
constexpr int maxGrainDensity = 64; // grain slots a granulizer holds

const juce::Identifier& rootType()       { static const juce::Identifier id ("Quoril"); return id; }
const juce::Identifier& resonatorType()  { static const juce::Identifier id ("Resonator"); return id; }
const juce::Identifier& granulizerType() { static const juce::Identifier id ("Granulizer"); return id; }
const juce::Identifier& diffuserType()   { static const juce::Identifier id ("Diffuser"); return id; }
const juce::Identifier& metadataType()   { static const juce::Identifier id ("Metadata"); return id; }
const juce::Identifier& parameterType()  { static const juce::Identifier id ("PARAM"); return id; }
const juce::Identifier& poleProperty()   { static const juce::Identifier id ("pole"); return id; }
const juce::Identifier& channelProperty(){ static const juce::Identifier id ("channel"); return id; }
const juce::Identifier& nameProperty()   { static const juce::Identifier id ("preset_name"); return id; }
const juce::Identifier& idProperty()     { static const juce::Identifier id ("id"); return id; }
const juce::Identifier& valueProperty()  { static const juce::Identifier id ("value"); return id; }

// The framework's integer conversion of a value, without the undefined cast of a double
// outside the int range (such a double reads as the fallback).
int readInt (const juce::ValueTree& node, const juce::Identifier& property, int fallback)
{
    const auto* v = node.getPropertyPointer (property);
    if (v == nullptr)
        return fallback;

    if (v->isDouble())
    {
        const auto d = (double) *v;
        if (! (d >= (double) std::numeric_limits<int>::min() && d <= (double) std::numeric_limits<int>::max()))
            return fallback;
    }

    return (int) *v;
}

// A real property as a float; absent, not finite or beyond the float range reads as the fallback.
float readFloat (const juce::ValueTree& node, const juce::Identifier& property, float fallback)
{
    const auto* v = node.getPropertyPointer (property);
    if (v == nullptr)
        return fallback;

    const auto d = (double) *v;
    return std::abs (d) <= (double) FLT_MAX ? (float) d : fallback;
}

// Documents keep the grain size in milliseconds, as the records do (GranulizerSettings::sizeMs):
// the double read is the double written, so a document read and saved again does not move.
constexpr double defaultSizeMilliseconds = 100.0;

// The size as the document keeps it. The framework writes a double with 15 or 16 significant
// digits, which does not always read back as the same double; a size that it would change is
// written with as many digits as it takes (at most 17), so a size saved and read back is the size
// that was set, and so are the samples derived from it.
juce::var sizeInDocument (double ms)
{
    const juce::var plain (ms);
    if (plain.toString().getDoubleValue() == ms)
        return plain;

    std::ostringstream text;
    text.imbue (std::locale::classic());
    for (int digits = 16; digits <= 17; ++digits)
    {
        text.str ({});
        text.precision (digits);
        text << ms;
        if (juce::String (text.str()).getDoubleValue() == ms)
            break;
    }

    return juce::String (text.str());
}

// The size in milliseconds; absent, not finite or beyond the float range reads as 100 ms.
double readSizeMilliseconds (const juce::ValueTree& node, const juce::Identifier& property)
{
    const auto* v = node.getPropertyPointer (property);
    if (v == nullptr)
        return defaultSizeMilliseconds;

    const auto ms = (double) *v;
    return std::abs (ms) <= (double) FLT_MAX ? ms : defaultSizeMilliseconds;
}

bool isFiniteNumber (const juce::var& v)
{
    return std::isfinite ((double) v);
}

// The engine nodes' property names, pooled once: a load or save (a MIDI-slot load among them, on
// the audio thread) does not ask the framework's pool for them each time.
struct EngineProperties
{
    juce::Identifier density, envelope, size, speed, sizeRnd, speedRnd, ampRnd, outGain, freq, resonatorFeed,
        diffuserFeed, diffuserDamp;
};

const EngineProperties& engineProperties (const QuorilAudioProcessor& p)
{
    static const EngineProperties names { p.densityProperty, p.envelopeProperty, p.sizeProperty, p.speedProperty,
                                          p.sizeRndProperty, p.speedRndProperty, p.ampRndProperty, p.outGainProperty,
                                          p.resonatorFreqProperty, p.resonatorFeedProperty, p.diffuserFeedProperty,
                                          p.diffuserDampProperty };
    return names;
}

template <typename Record>
Record* recordAt (std::vector<std::vector<Record>>& records, int pole, int channel)
{
    if (pole < 0 || pole >= numPoles || channel < 0 || channel >= numChannels)
        return nullptr;

    if ((size_t) pole >= records.size() || (size_t) channel >= records[(size_t) pole].size())
        return nullptr;

    return &records[(size_t) pole][(size_t) channel];
}

DiffuserSettings* diffuserAt (DiffuserSettings (&records)[numChannels], int channel)
{
    return channel >= 0 && channel < numChannels ? &records[channel] : nullptr;
}
} // namespace

//==============================================================================
void QuorilAudioProcessor::createDefaultState()
{
    auto& tree = parameters.state;
    appendMissingEngineNodes (tree);

    juce::ValueTree metadata (metadataType());
    metadata.setProperty (nameProperty(), "INIT", nullptr);
    tree.appendChild (metadata, nullptr);
}

// A node for every engine record the tree holds none for, appended in the order of a fresh state:
// channel by channel, each pole's resonator and granulizer, then the channel's diffuser. A
// document applied from outside may lack some; without them, the records' values (which the
// document left as they were, and which the window may change) would not be saved.
void QuorilAudioProcessor::appendMissingEngineNodes (juce::ValueTree& tree)
{
    bool granulizers[numPoles][numChannels] = {}, resonators[numPoles][numChannels] = {}, diffusers[numChannels] = {};

    for (const auto& child : tree)
    {
        const int pole = readInt (child, poleProperty(), 0);
        const int channel = readInt (child, channelProperty(), 0);
        const bool onRecord = pole >= 0 && pole < numPoles && channel >= 0 && channel < numChannels;

        if (child.hasType (granulizerType()) && onRecord)
            granulizers[pole][channel] = true;
        else if (child.hasType (resonatorType()) && onRecord)
            resonators[pole][channel] = true;
        else if (child.hasType (diffuserType()) && channel >= 0 && channel < numChannels)
            diffusers[channel] = true;
    }

    const auto append = [&tree] (const juce::Identifier& type, int channel, int pole)
    {
        juce::ValueTree node (type);
        node.setProperty (channelProperty(), channel, nullptr);
        if (pole >= 0)
            node.setProperty (poleProperty(), pole, nullptr);
        tree.appendChild (node, nullptr);
    };

    for (int channel = 0; channel < numChannels; ++channel)
    {
        for (int pole = 0; pole < numPoles; ++pole)
        {
            if (! resonators[pole][channel])
                append (resonatorType(), channel, pole);
            if (! granulizers[pole][channel])
                append (granulizerType(), channel, pole);
        }

        if (! diffusers[channel])
            append (diffuserType(), channel, -1);
    }
}

juce::ValueTree QuorilAudioProcessor::createStateTree()
{
    const juce::ScopedLock lock (stateLock);

    auto live = parameters.state;

    if (live.isValid())
        writeEngineRecords (live);

    auto document = parameters.copyState();

    // A parameter child that the parameter state appended without a value (after a document
    // that did not name the parameter) gets the parameter's current value, so that the saved
    // document restores exactly what the host had.
    for (auto child : document)
    {
        if (! child.hasType (parameterType()) || child.hasProperty (valueProperty()))
            continue;

        if (auto* raw = parameters.getRawParameterValue (child.getProperty (idProperty()).toString()))
            child.setProperty (valueProperty(), raw->load(), nullptr);
    }

    return document;
}

// The engine records into every engine node of the tree: duplicate nodes of one pole and channel
// all receive the same values.
void QuorilAudioProcessor::writeEngineRecords (juce::ValueTree& tree)
{
    const auto& [density, envelope, size, speed, sizeRnd, speedRnd, ampRnd, outGain, freq, resonatorFeed,
                 diffuserFeed, diffuserDamp] = engineProperties (*this);

    for (auto child : tree)
    {
        const int pole = readInt (child, poleProperty(), 0);
        const int channel = readInt (child, channelProperty(), 0);

        if (child.hasType (granulizerType()))
        {
            if (auto* r = recordAt (granulizerSettings, pole, channel))
            {
                child.setProperty (density, r->density, nullptr);
                child.setProperty (envelope, r->envelope, nullptr);
                child.setProperty (size, sizeInDocument (r->sizeMs), nullptr);
                child.setProperty (speed, (double) r->speed, nullptr);
                child.setProperty (sizeRnd, (double) r->sizeRnd, nullptr);
                child.setProperty (speedRnd, (double) r->speedRnd, nullptr);
                child.setProperty (ampRnd, (double) r->ampRnd, nullptr);
                child.setProperty (outGain, (double) r->outGain, nullptr);
            }
        }
        else if (child.hasType (resonatorType()))
        {
            if (auto* r = recordAt (resonatorSettings, pole, channel))
            {
                child.setProperty (freq, (double) r->freq, nullptr);
                child.setProperty (resonatorFeed, (double) r->feed, nullptr);
            }
        }
        else if (child.hasType (diffuserType()))
        {
            if (auto* r = diffuserAt (diffuserSettings, channel))
            {
                child.setProperty (diffuserFeed, (double) r->feed, nullptr);
                child.setProperty (diffuserDamp, (double) r->damp, nullptr);
            }
        }
    }
}

// Quoril's own fields only, as a fresh processor holding these settings would save them: the
// parameters, the engine records and the preset name, cut to a file name's length and to what the
// reader takes.
juce::ValueTree QuorilAudioProcessor::createOwnStateTree()
{
    const juce::ScopedLock lock (stateLock);

    juce::ValueTree tree (rootType());

    for (const auto& id : parameterTable->ids)
    {
        juce::ValueTree child (parameterType());
        child.setProperty (idProperty(), id, nullptr);
        child.setProperty (valueProperty(), parameters.getRawParameterValue (id)->load(), nullptr);
        tree.appendChild (child, nullptr);
    }

    appendMissingEngineNodes (tree);
    writeEngineRecords (tree);

    // The name without what the reader would refuse once written: halves of surrogate pairs
    // (a file name that is not UTF-8 gives them), code points past Unicode, and the
    // noncharacters the reader lets stand in for the references the writer puts for control
    // characters.
    juce::String name;
    for (auto c : getPresetName().substring (0, 255))
        if (! ((c >= 0xd800 && c < 0xe000) || c > 0x10ffff || (c >= 0xfdd0 && c <= 0xfdef) || c == 0x1fffe || c == 0x1ffff))
            name += juce::String::charToString (c);

    juce::ValueTree metadata (metadataType());
    metadata.setProperty (nameProperty(), name, nullptr);
    tree.appendChild (metadata, nullptr);
    return tree;
}

//==============================================================================
void QuorilAudioProcessor::applyStateTree (const juce::ValueTree& tree)
{
    if (! tree.isValid() || ! tree.hasType (rootType()))
        return;

    // Called on the message thread (host restore, editor preset loads) and on the audio thread
    // (MIDI-slot load); createStateTree holds the same lock while it touches the live tree.
    const juce::ScopedLock lock (stateLock);

    // Controller moves noted before the document are not sent over its values.
    midiMap.dropUnsentMoves();

    // A parameter value that is not a finite number counts as absent: the parameter takes its
    // default, as for a child without a value.
    juce::ValueTree document (tree);
    for (auto child : document)
        if (child.hasType (parameterType()))
            if (const auto* v = child.getPropertyPointer (valueProperty()); v != nullptr && ! isFiniteNumber (*v))
                child.removeProperty (valueProperty(), nullptr);

    parameters.replaceState (document);

    auto live = parameters.state;
    if (live.getNumChildren() == 0)
        return;

    const auto& [density, envelope, size, speed, sizeRnd, speedRnd, ampRnd, outGain, freq, resonatorFeed,
                 diffuserFeed, diffuserDamp] = engineProperties (*this);

    for (const auto& child : live)
    {
        const int pole = readInt (child, poleProperty(), 0);
        const int channel = readInt (child, channelProperty(), 0);

        if (child.hasType (granulizerType()))
        {
            auto* r = recordAt (granulizerSettings, pole, channel);
            if (r == nullptr)
                continue;

            // The engine holds a fixed number of grain slots.
            r->density = juce::jlimit (0, maxGrainDensity, readInt (child, density, r->density));
            r->envelope = readInt (child, envelope, r->envelope);

            setGrainSize (*r, readSizeMilliseconds (child, size), sampleRate);

            r->speed = readFloat (child, speed, r->speed);
            r->sizeRnd = readFloat (child, sizeRnd, r->sizeRnd);
            r->speedRnd = readFloat (child, speedRnd, r->speedRnd);
            r->ampRnd = readFloat (child, ampRnd, r->ampRnd);
            r->outGain = readFloat (child, outGain, r->outGain);
        }
        else if (child.hasType (resonatorType()))
        {
            if (auto* r = recordAt (resonatorSettings, pole, channel))
            {
                r->freq = readFloat (child, freq, r->freq);
                r->feed = readFloat (child, resonatorFeed, r->feed);
            }
        }
        else if (child.hasType (diffuserType()))
        {
            if (auto* r = diffuserAt (diffuserSettings, channel))
            {
                r->feed = readFloat (child, diffuserFeed, r->feed);
                r->damp = readFloat (child, diffuserDamp, r->damp);
            }
        }
    }

    // Records the document had no node for keep their values, and saves keep them from now on.
    appendMissingEngineNodes (live);
}

bool QuorilAudioProcessor::applyPresetDocument (const juce::ValueTree& document, const juce::String& nameIfUnnamed)
{
    // The state a save writes (its map and program aside, which no preset changes), with every
    // parameter's value as the parameter holds it: the framework writes a value into the tree only
    // when the parameter moves, so a value a document left in place keeps the document's text
    // ("0.7") where one it moved is written from the parameter (0.7000000476837158). Snapshots only:
    // the live tree is not touched beyond the load.
    const auto snapshot = [this]
    {
        auto state = createStateTree();

        for (auto child : state)
            if (child.hasType (parameterType()))
                if (auto* raw = parameters.getRawParameterValue (child.getProperty (idProperty()).toString()))
                    child.setProperty (valueProperty(), (double) raw->load(), nullptr);

        return state;
    };

    const auto before = snapshot();

    applyStateTree (document);

    if (nameIfUnnamed.isNotEmpty() && getPresetName().isEmpty())
        setPresetName (nameIfUnnamed);

    return ! snapshot().isEquivalentTo (before);
}
