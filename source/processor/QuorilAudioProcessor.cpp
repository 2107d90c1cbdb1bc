#include "QuorilAudioProcessor.h"

#include "../engine/Diffuser.h"
#include "../engine/EngineWorkspace.h"
#include "../engine/Granulizer.h"
#include "../engine/ParameterRamp.h"
#include "../editor/QuorilAudioProcessorEditor.h"

#include <cstdlib>
#include <ctime>

//==============================================================================
ParameterGroups::ParameterGroups (juce::AudioProcessorValueTreeState& parametersToUse)
    : parameters (parametersToUse)
{
    random.setSeedRandomly();

    for (int i = 0; i < numGroups; ++i)
        groups.add (new juce::StringArray());

    hostIsAbletonLive = juce::PluginHostType().isAbletonLive();
}

//==============================================================================
namespace
{
std::atomic<int> hostCallsPending { 0 };
}

void MessageLoopHold::acquire()
{
    auto* messageManager = juce::MessageManager::getInstanceWithoutCreating();

    if (lock.has_value() || messageManager == nullptr || messageManager->currentThreadHasLockedMessageManager())
        return;

    ++hostCallsPending;
    lock.emplace();
}

void MessageLoopHold::release() noexcept
{
    if (! lock.has_value())
        return;

    lock.reset();
    --hostCallsPending;
}

bool MessageLoopHold::isHostCallPending() noexcept { return hostCallsPending.load() > 0; }

//==============================================================================
juce::File QuorilAudioProcessor::getSettingsFileLocation()
{
    // Where the framework's PropertiesFile would keep a file of these options.
    juce::PropertiesFile::Options options;
    options.applicationName = "Quoril";
    options.filenameSuffix = ".prefs";
   #if JUCE_LINUX || JUCE_BSD
    // Beside the user preset folder, in the user's application data (~/.config).
    options.folderName = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                             .getChildFile ("Orvane_Studio")
                             .getFullPathName();
   #else
    options.folderName = "Orvane_Studio";
   #endif
    options.osxLibrarySubFolder = "Application Support";
    options.commonToAllUsers = false;
    return options.getDefaultFile();
}

std::unique_ptr<SettingsFile> openSettingsFile (const juce::File& file)
{
    const auto checkWidth = [] (const juce::String& text)
    {
        const auto width = storedPanelWidthFrom (text);
        return width > 0 ? juce::String (width) : juce::String();
    };

    return SettingsFile::open (file, { { panelWidthSetting, checkWidth } }, 3000);
}

//==============================================================================
QuorilAudioProcessor::QuorilAudioProcessor()
    : AudioProcessor (BusesProperties()
                          .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                          .withOutput ("Output", juce::AudioChannelSet::stereo(), true)),
      parameters (*this, nullptr)
{
    buildEngine();

    dryBuffer.setSize (2, 512);

    parameterTable = std::make_unique<ParameterTable> (parameters);
    midiMap.prepareHostEdits (getParameters().size());
    controllerEditTimer.startTimer (CCMapper::hostEditIntervalMs);
    parameters.state = juce::ValueTree ("Quoril");
    createDefaultState();

    createParameterRamps();
    groupTrajectoryParameters();

    factoryPresets.loadFactoryPresets();

    // The user preset folder and its MIDI sub-folder; a folder that cannot be made is ignored.
    const juce::File presetsFolder (presetsFolderPath());
    presetsFolder.createDirectory();
    presetsFolder.getChildFile ("MIDI").createDirectory();

    // The MIDI slots are listed once, for the life of this instance.
    midiPresetFiles = getMidiPresetFiles();

    // A damaged settings file is moved aside; one that cannot be read now, or cannot be moved,
    // is left as it is, and the plug-in runs without settings.
    settingsFile = openSettingsFile (getSettingsFileLocation());

    std::srand ((unsigned int) std::time (nullptr));
    randomizeSettings();

    stateChangeTimer.startTimer (stateChangeNoticeIntervalMs);
    lifetimeHold.release();
}

QuorilAudioProcessor::~QuorilAudioProcessor()
{
    lifetimeHold.acquire();

    // A controller gesture still open is ended while the parameters and their listeners are there.
    controllerEditTimer.stopTimer();
    midiMap.endHostEdits (getParameters());
}

//==============================================================================
const juce::String QuorilAudioProcessor::getName() const { return "Quoril"; }

void QuorilAudioProcessor::prepareToPlay (double newSampleRate, int maximumExpectedSamplesPerBlock)
{
    // A negative maximum from the host counts as 0: the buffers still hold the 32 spare samples,
    // so processBlock always has room to work in.
    maximumExpectedSamplesPerBlock = juce::jmax (0, maximumExpectedSamplesPerBlock);
    sampleRate = newSampleRate;

    for (auto* gain : { &inputGain, &outputGain })
    {
        gain->prepare ({ newSampleRate, (juce::uint32) juce::jmax (1, maximumExpectedSamplesPerBlock), 2 });
        gain->reset();
        gain->setRampDurationSeconds (0.06);
    }

    prepareEngine (newSampleRate);

    dryBuffer.setSize (2, maximumExpectedSamplesPerBlock + 32);
    engineWorkspace->prepare (maximumExpectedSamplesPerBlock + 32);

    trajectoryCounter = 0;
    trajectoryPeriod = (int) (newSampleRate * 256.0 / 44100.0);

    for (auto* ramp : { xPosRamp.get(), yPosRamp.get(), diffRamps[0].get(), diffRamps[1].get(),
                        diffRamps[2].get(), diffRamps[3].get() })
        ramp->prepare (newSampleRate, 0.06, maximumExpectedSamplesPerBlock);

    dryWetLastTarget = parameterTable->raw (ParameterTable::dryWet);
    dryWetCoefficient = (float) std::exp (-1.0 / (double) ((float) newSampleRate * 0.06f));

    currentX.exchange (parameterTable->raw (ParameterTable::xPos));
    currentY.exchange (parameterTable->raw (ParameterTable::yPos));
    xRising = yRising = true;
}

void QuorilAudioProcessor::releaseResources() {}

double QuorilAudioProcessor::getTailLengthSeconds() const { return 0.0; }
bool QuorilAudioProcessor::acceptsMidi() const { return true; }
bool QuorilAudioProcessor::producesMidi() const { return false; }
bool QuorilAudioProcessor::isMidiEffect() const { return false; }

static_assert (std::atomic<bool>::is_always_lock_free, "the audio thread raises the change flag without a lock");

void QuorilAudioProcessor::noteStateChange() noexcept
{
    stateChangePending.store (true);

    // The message thread tells the host now (the plug-in client passes a notice made on that
    // thread straight on); the audio thread leaves it to the timer.
    if (juce::MessageManager::existsAndIsCurrentThread())
        sendStateChangeNotice();
}

bool QuorilAudioProcessor::sendStateChangeNotice()
{
    if (! stateChangePending.exchange (false))
        return false;

    // The plug-in client turns this into the host's "needs saving" call.
    updateHostDisplay (juce::AudioProcessorListener::ChangeDetails().withNonParameterStateChanged (true));
    return true;
}

//==============================================================================
juce::AudioProcessorEditor* QuorilAudioProcessor::createEditor()
{
    return new QuorilAudioProcessorEditor (*this);
}

bool QuorilAudioProcessor::hasEditor() const { return true; }

//==============================================================================
// The programs are the MIDI slots, listed once for the life of the instance; with no slot there is
// one program, "Default", which selects nothing. A host gets a program-change parameter only when
// there are two or more.
static_assert (std::atomic<int>::is_always_lock_free, "hosts select and read the program on the audio thread");

int QuorilAudioProcessor::getNumPrograms() { return juce::jmax (1, midiPresetFiles.size()); }
int QuorilAudioProcessor::getCurrentProgram() { return currentProgram.load(); }

void QuorilAudioProcessor::setCurrentProgram (int program)
{
    // Ardour calls this on its audio thread: no lock, no allocation, only the number recorded.
    if (program < 0 || program >= midiPresetFiles.size())
        return;

    currentProgram.store (program);
    programRequest.store (program);
}

// A slot's file name without its extension; hosts may ask from any thread, and the list never
// changes.
const juce::String QuorilAudioProcessor::getProgramName (int program)
{
    if (midiPresetFiles.isEmpty())
        return "Default";

    const auto& file = midiPresetFiles[program];
    const auto name = file.dropLastCharacters (5); // ".qpst"
    return name.isNotEmpty() ? name : file;
}

void QuorilAudioProcessor::changeProgramName (int, const juce::String&) {}

bool QuorilAudioProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto& input = layouts.getMainInputChannelSet();
    const auto& output = layouts.getMainOutputChannelSet();

    if (input.isDisabled() || output.isDisabled())
        return false;

    if (output != juce::AudioChannelSet::stereo())
        return false;

    return input == output;
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new QuorilAudioProcessor();
}
