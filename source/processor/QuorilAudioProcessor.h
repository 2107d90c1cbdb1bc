#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_dsp/juce_dsp.h>

#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "../engine/EngineSettings.h"
#include "../engine/ResonatorState.h"
#include "CCMapper.h"
#include "ParameterTable.h"
#include "PoleClipboard.h"
#include "QuorilFactoryPresetsManager.h"
#include "SettingsFile.h"
#include "UntrustedXml.h"

class Granulizer;
class Diffuser;

// The user preset folder (~/.config/Orvane_Studio/Presets/Quoril on Linux). It is worked out
// once, on first use, and stays fixed for the life of the library.
const juce::String& presetsFolderPath();

// A preset file larger than this is not read (a real state document is a few kilobytes); the
// host's state is held to the same size.
constexpr juce::int64 maxPresetFileBytes = (juce::int64) maxUntrustedXmlBytes;

// Reads a preset file into an XML element, or returns nullptr when it is missing, not a
// plain file, too large or not well-formed. External entities are never resolved.
std::unique_ptr<juce::XmlElement> readPresetFile (const juce::File& file);

// The file called name inside folder, the name taken literally as one file name (a leading '~',
// "..", or a separator in it are never interpreted); an empty File for a name that is no
// single file name.
juce::File childFileNamed (const juce::File& folder, const juce::String& name);

// The key of the editor window's width in the per-user settings file.
inline constexpr const char* panelWidthSetting = "panel_width";

// Opens the per-user settings file at file with the keys Quoril keeps (the window's width, a whole
// number the window can open at); see SettingsFile::open for what it does with a damaged or
// unreadable file, and when it gives nullptr.
std::unique_ptr<SettingsFile> openSettingsFile (const juce::File& file);

class ParameterRamp;
class EngineWorkspace;

// Holds the plug-in's message loop for a call that the host may make on a thread of its own.
//
// On Linux, while no window of the plug-in is open, the framework runs the plug-in's message loop
// on a private thread, and the host goes on calling the plug-in (state saves and restores among
// others) on its own thread. Quoril's timers and asynchronous updates run on that loop and touch
// what those calls touch (the state tree, the controller map and its tables, the pending host
// edits), so every such call holds the loop, as the framework's client does when it releases the
// plug-in: at most one thread runs Quoril's non-audio code. On the message thread, or with the
// loop already held by this thread, it costs nothing; otherwise it waits for the loop to finish its
// current message (about a millisecond when the loop is idle). Never used on the audio thread, and
// nothing the loop runs waits for the host's thread, so the wait always ends.
//
// While a host call waits for the loop, the loop goes on with the messages before it; the client
// may already be inside a restore then, and passes no gesture on to the host. So the loop's
// callbacks that begin or end gestures ask isHostCallPending first and wait for their next turn.
class MessageLoopHold
{
public:
    MessageLoopHold() { acquire(); }
    ~MessageLoopHold() { release(); }

    // Takes the loop unless this thread runs it or holds it already, or there is no loop yet.
    void acquire();
    void release() noexcept;

    // Whether a call of any instance is waiting for the loop or holding it.
    static bool isHostCallPending() noexcept;

private:
    std::optional<juce::MessageManagerLock> lock;

    JUCE_DECLARE_NON_COPYABLE (MessageLoopHold)
};

// Groups of parameter ids that the editor acts on together (group 0: the trajectory rates
// and ranges), with the generator that the trajectory's random action draws from.
class ParameterGroups
{
public:
    explicit ParameterGroups (juce::AudioProcessorValueTreeState& parametersToUse);

    juce::AudioProcessorValueTreeState& parameters;
    juce::OwnedArray<juce::StringArray> groups;
    juce::Random random;
    int numGroups = 1;
    bool hostIsAbletonLive = false;
};

// The published trajectory range, for the X/Y pad.
struct TrajectoryBounds
{
    std::atomic<float> xMin { 0.0f }, xMax { 0.0f }, yMin { 0.0f }, yMax { 0.0f };
};

class QuorilAudioProcessor : public juce::AudioProcessor
{
public:
    QuorilAudioProcessor();
    ~QuorilAudioProcessor() override;

    //==============================================================================
    const juce::String getName() const override;
    void prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override;
    using AudioProcessor::processBlock;
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool isMidiEffect() const override;
    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;
    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int) override;
    const juce::String getProgramName (int) override;
    void changeProgramName (int, const juce::String&) override;
    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;
    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    //==============================================================================
    // Sound engine set-up and the trajectory.
    void buildEngine();
    void prepareEngine (double newSampleRate);
    void createParameterRamps();
    void groupTrajectoryParameters();
    void advanceTrajectory();

    // State document.
    void createDefaultState();
    juce::ValueTree createStateTree();
    juce::ValueTree createOwnStateTree();
    void applyStateTree (const juce::ValueTree& tree);
    // Loads a preset document: its state, then nameIfUnnamed as the preset name when the document
    // names none. Returns whether the state a save writes changed (parameters as they hold their
    // values, engine settings, name and whatever else the document brought): loading the preset
    // that is already loaded changes nothing, and the host need not hear of it. Message thread: the
    // comparison is no work for the audio thread's slot load.
    bool applyPresetDocument (const juce::ValueTree& document, const juce::String& nameIfUnnamed = {});
    void appendMissingEngineNodes (juce::ValueTree& tree);
    void writeEngineRecords (juce::ValueTree& tree);

    // Random engine settings.
    void randomizeSettings();
    void randomizePole (int pole);

    // User presets, MIDI preset slots and the preset name.
    void loadMidiPreset (int program);
    static juce::StringArray getMidiPresetFiles();
    static juce::File getMidiPresetFile (const juce::StringArray& files, int index);
    void setPresetName (const juce::String& name);
    juce::String getPresetName() const;

    // Pole clipboard.
    void copyPoleSettings (int pole);
    void pastePoleSettings (int pole);

    // The per-user settings file; nullptr when there is one that could not be read or moved aside.
    SettingsFile* getSettingsFile() const noexcept { return settingsFile.get(); }

    // Changes that the host's parameters do not show.
    //
    // The saved state also holds the engine settings, the preset name and the controller map,
    // which the host never hears of by itself. Whatever the user does to them calls
    // noteStateChange; a restore by the host does not. On the message thread the call tells the
    // host at once that the state needs saving, before control returns to the host. On any other
    // thread it only raises a flag, and a short message-thread timer passes it on at its next
    // tick, once for all the changes noted since the last. (A MIDI slot loaded in processBlock
    // raises that flag itself: asking which thread it runs on would take the framework's lock.)
    // The host taking the state never drops a notice: hosts take it for backups, undo and
    // comparisons as well as for saves.
    void noteStateChange() noexcept;

    // One tick of that timer (public so that tests can run it without a message loop): passes a
    // raised flag on to the host and lowers it. Returns whether the host was told.
    bool sendStateChangeNotice();

    static constexpr int stateChangeNoticeIntervalMs = 10;

    //==============================================================================
    // Held from the first member's construction to the end of the constructor, and from the start
    // of the destructor to the last member's destruction: the framework may make and delete the
    // processor on the host's thread while the message loop runs the timers of its members.
    MessageLoopHold lifetimeHold;

    std::atomic<float> outputLevel { 0.0f };
    std::atomic<bool> midiPresetLoadPending { false };
    // Editors alive on this processor, counted by the editor itself: the audio thread asks this
    // rather than getActiveEditor, which takes a lock.
    std::atomic<int> openEditorCount { 0 };
    std::atomic<int> midiProgram { 0 };
    juce::StringArray midiPresetFiles;

    // The MIDI slots are the programs a host lists. Selecting one (setCurrentProgram, on any
    // thread) only records its number here; the next block, or the editor's timer when no block
    // comes first, takes the request and loads the slot as a MIDI program change.
    // takeProgramRequest gives -1 when none waits, and each request to one taker only.
    int takeProgramRequest() noexcept { return programRequest.exchange (-1); }
    juce::String panelWidthKey { panelWidthSetting };
    quoril::QuorilFactoryPresetsManager factoryPresets { "Metadata", "preset_name" };
    int selectedPole = 0;

    juce::AudioProcessorValueTreeState parameters;
    std::unique_ptr<ParameterTable> parameterTable;

    double sampleRate = 44100.0;
    juce::dsp::Gain<float> inputGain, outputGain;
    float dryWetCoefficient = 0.0f;
    float dryWetValue = 0.5f;
    float dryWetLastTarget = 0.5f;

    std::unique_ptr<ParameterRamp> xPosRamp, yPosRamp;
    std::array<std::unique_ptr<ParameterRamp>, 4> diffRamps;

    int trajectoryPeriod = 256;
    int trajectoryCounter = 0;
    float trajectoryX = 0.0f, trajectoryY = 0.0f;

    std::vector<std::vector<Granulizer>> granulizers;
    std::vector<std::vector<ResonatorState>> resonatorStates;
    std::array<std::unique_ptr<Diffuser>, 2> diffusers;
    DcBlocker dcBlockers[2];

    std::vector<std::vector<GranulizerSettings>> granulizerSettings;
    std::vector<std::vector<ResonatorSettings>> resonatorSettings;
    DiffuserSettings diffuserSettings[2];

    std::atomic<float> currentX { 0.0f }, currentY { 0.0f };
    bool xRising = true, yRising = true;
    TrajectoryBounds trajectoryBounds;

    ParameterGroups parameterGroups { parameters };

    juce::AudioBuffer<float> dryBuffer;
    std::unique_ptr<EngineWorkspace> engineWorkspace; // block scratch memory, sized with dryBuffer

    const juce::NormalisableRange<float> resonatorFreqRange { 80.0f, 960.0f, 1.0f };
    const juce::NormalisableRange<float> resonatorFeedRange { 0.0f, 0.9f, 0.001f };
    const juce::NormalisableRange<float> grainSizeShortRange { 20.0f, 100.0f, 1.0f };
    const juce::NormalisableRange<float> grainSizeLongRange { 100.0f, 599.0f, 1.0f };
    const juce::NormalisableRange<float> grainSizeRange { 20.0f, 599.0f, 0.0f };
    const juce::NormalisableRange<float> grainSpeedNarrowRange { 0.95f, 1.025f, 0.001f };
    const juce::NormalisableRange<float> grainSpeedWideRange { 0.5f, 2.0f, 0.001f };
    const juce::NormalisableRange<float> sizeJitterRange { 0.0f, 0.25f, 0.001f };
    const juce::NormalisableRange<float> speedJitterFineRange { 0.0f, 0.01f, 0.0001f };
    const juce::NormalisableRange<float> speedJitterWideRange { 0.0f, 0.5f, 0.001f };
    const juce::NormalisableRange<float> diffuserFeedRange { 0.1f, 0.9f, 0.001f };

    CCMapper midiMap;

    // Passes the controller map's moves on to the host (CCMapper::sendHostEdits). It comes after
    // the parameters and the map, so it stops before they go.
    struct ControllerEditTimer : juce::Timer
    {
        explicit ControllerEditTimer (QuorilAudioProcessor& p) : processor (p) {}
        void timerCallback() override
        {
            if (! MessageLoopHold::isHostCallPending())
                processor.midiMap.sendHostEdits (processor.getParameters());
        }
        QuorilAudioProcessor& processor;
    };

    ControllerEditTimer controllerEditTimer { *this };
    std::unique_ptr<SettingsFile> settingsFile;
    PoleClipboard poleClipboard;

    // Held by createStateTree, createOwnStateTree and applyStateTree while they touch the live
    // state tree, so that a MIDI-slot load on the audio thread and a host save or restore on the
    // message thread never work on it at the same time. Each holds it only for one bounded pass
    // over the tree.
    juce::CriticalSection stateLock;

    const juce::String diffuserFeedProperty { "feed" }, diffuserDampProperty { "damp" },
        resonatorFreqProperty { "freq" }, resonatorFeedProperty { "feed" },
        densityProperty { "density" }, envelopeProperty { "envelope" }, sizeProperty { "size" },
        speedProperty { "speed" }, sizeRndProperty { "size_rnd" }, speedRndProperty { "speed_rnd" },
        ampRndProperty { "amp_rnd" }, outGainProperty { "out_gain" };

    // Where the per-user settings file is kept.
    static juce::File getSettingsFileLocation();

private:
    struct StateChangeTimer : juce::Timer
    {
        explicit StateChangeTimer (QuorilAudioProcessor& p) : processor (p) {}
        void timerCallback() override { processor.sendStateChangeNotice(); }
        QuorilAudioProcessor& processor;
    };

    std::atomic<bool> stateChangePending { false };

    // The program a host reads: the one the host last selected, or the one a restored state holds
    // (MIDI program changes load slots without making them the host's program). Atomics alone, so
    // that hosts may select and read it on the audio thread.
    std::atomic<int> currentProgram { 0 }, programRequest { -1 };
    StateChangeTimer stateChangeTimer { *this }; // last: it stops before anything it reads goes

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuorilAudioProcessor)
};
