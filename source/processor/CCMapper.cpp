#include "CCMapper.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

const juce::String midiMapTreeType = juce::String ("Quoril") + "_MIDI_MAP";
const juce::String ccPropertyName = "cc";

namespace
{
constexpr int numControllers = 128;
constexpr int allNotesOffController = 123;

// The framework's integer conversion, without the undefined cast of an out-of-range double.
int toControllerNumber (const juce::var& v)
{
    if (v.isDouble())
    {
        const auto d = (double) v;
        if (! (d > (double) std::numeric_limits<int>::min() && d < (double) std::numeric_limits<int>::max()))
            return -1;
    }

    return (int) v;
}
} // namespace

// Marks the audio thread as a reader of the published table for its lifetime.
class CCMapper::ReadScope
{
public:
    explicit ReadScope (CCMapper& m) noexcept : mapper (m)
    {
        mapper.activeReaders.fetch_add (1);
        table = mapper.published.load();
    }

    ~ReadScope() { mapper.activeReaders.fetch_sub (1); }

    CCMapper& mapper;
    const BindingTable* table = nullptr;
};

CCMapper::CCMapper() : mapTree (juce::Identifier (midiMapTreeType))
{
    mapTree.addListener (this);
    refreshBindings();
}

CCMapper::~CCMapper()
{
    fileDialogQuestion.reset();
    fileDialog.reset();
    cancelPendingUpdate();
    mapTree.removeListener (this);
    published.store (nullptr);
}

//==============================================================================
void CCMapper::processMidi (const juce::MidiBuffer& midi, juce::AudioProcessorValueTreeState& parameters)
{
    std::array<int, numControllers> latest;
    latest.fill (-1);
    bool anySet = false;

    for (const auto event : midi)
    {
        if (event.numBytes < 3 || (event.data[0] & 0xf0) != 0xb0)
            continue;

        const int controller = event.data[1];
        if (controller >= numControllers || controller == allNotesOffController)
            continue;

        lastCC.store (controller);
        latest[(size_t) controller] = event.data[2];
        anySet = true;
    }

    if (! anySet)
        return;

    ReadScope scope (*this);

    if (scope.table == nullptr || scope.table->items.empty())
        return;

    for (int c = 0; c < numControllers; ++c)
        if (latest[(size_t) c] >= 0)
            applyFromTable (*scope.table, c, latest[(size_t) c], parameters);
}

void CCMapper::applyControllerValue (int controller, int value, juce::AudioProcessorValueTreeState& parameters)
{
    ReadScope scope (*this);

    if (scope.table != nullptr)
        applyFromTable (*scope.table, controller, value, parameters);
}

void CCMapper::applyFromTable (const BindingTable& table, int controller, int value,
                               juce::AudioProcessorValueTreeState& parameters)
{
    if (controller < 0 || controller >= numControllers)
        return;

    const auto normalised = (float) value * 0.007874016f;

    for (int i = table.firstOf[(size_t) controller]; i < table.firstOf[(size_t) controller + 1]; ++i)
    {
        // A binding whose id names no parameter does nothing.
        // The gesture is the message thread's (sendHostEdits): a client passes on no gesture
        // from the audio thread.
        if (auto* parameter = parameters.getParameter (table.items[(size_t) i].parameterId))
        {
            parameter->setValueNotifyingHost (normalised);

            const int index = parameter->getParameterIndex();
            if (index >= 0 && index < numMovedParameters)
            {
                auto& slot = movedParameters[(size_t) index];
                slot.value.store (parameter->getValue());
                slot.moved.store (true);
            }
        }
    }
}

//==============================================================================
static_assert (std::atomic<float>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
               "the audio thread notes a move without a lock");

void CCMapper::prepareHostEdits (int numParameters)
{
    jassert (movedParameters == nullptr); // once, before any block
    movedParameters = std::make_unique<MovedParameter[]> ((size_t) juce::jmax (0, numParameters));
    numMovedParameters = juce::jmax (0, numParameters);
}

int CCMapper::sendHostEdits (const juce::Array<juce::AudioProcessorParameter*>& processorParameters)
{
    if (gesturesToEnd.exchange (false))
        endGestures (processorParameters);

    int edits = 0;

    for (int i = 0; i < juce::jmin (numMovedParameters, processorParameters.size()); ++i)
    {
        auto& slot = movedParameters[(size_t) i];
        auto* parameter = processorParameters.getUnchecked (i);

        // The flag is lowered before the value is read: a move noted in between raises it again,
        // and the next call sends that move's value. The audio thread sets the parameter before it
        // notes the value, so a parameter holding another value has been set since by something
        // else (or by a move this call or the next will see).
        if (slot.moved.exchange (false))
        {
            const auto value = slot.value.load();

            if (parameter->getValue() == value)
            {
                if (! std::exchange (slot.inGesture, true))
                    parameter->beginChangeGesture();

                // The host is told the value; the parameter is not set again, which could undo a
                // move the audio thread makes meanwhile.
                parameter->sendValueChangedMessageToListeners (value);
                slot.callsAtRest = 0;
                slot.callsHeldBack = 0;
                ++edits;
                continue;
            }

            // Held back while the parameter holds another value, for as long as a controller at
            // rest keeps its gesture: a host that hands the block's output changes back to the
            // plug-in may set it to an older move's value for a moment. A restore has dropped the
            // move already; automation since keeps it held back until it is let go.
            if (++slot.callsHeldBack < hostEditRestCalls)
                slot.moved.store (true);
            else
                slot.callsHeldBack = 0;
        }

        if (slot.inGesture && ++slot.callsAtRest >= hostEditRestCalls)
        {
            slot.inGesture = false;
            parameter->endChangeGesture();
        }
    }

    return edits;
}

void CCMapper::dropUnsentMoves() noexcept
{
    for (int i = 0; i < numMovedParameters; ++i)
        movedParameters[(size_t) i].moved.store (false);

    gesturesToEnd.store (true);
}

void CCMapper::endHostEdits (const juce::Array<juce::AudioProcessorParameter*>& processorParameters)
{
    dropUnsentMoves();
    gesturesToEnd.store (false);
    endGestures (processorParameters);
}

void CCMapper::endGestures (const juce::Array<juce::AudioProcessorParameter*>& processorParameters)
{
    for (int i = 0; i < juce::jmin (numMovedParameters, processorParameters.size()); ++i)
    {
        auto& slot = movedParameters[(size_t) i];
        slot.callsAtRest = 0;

        if (std::exchange (slot.inGesture, false))
            processorParameters.getUnchecked (i)->endChangeGesture();
    }
}

//==============================================================================
bool CCMapper::assignToLastCC (const juce::String& parameterId)
{
    if (! mapTree.isValid() || parameterId.isEmpty())
        return false;

    const juce::Identifier type (parameterId), cc (ccPropertyName);
    const juce::var controller (lastCC.load());
    auto child = mapTree.getChildWithName (type);

    if (child.isValid() && child.getPropertyPointer (cc) != nullptr && child[cc] == controller)
        return false;

    if (! child.isValid())
    {
        child = juce::ValueTree (type);
        mapTree.appendChild (child, nullptr);
    }

    child.setProperty (cc, controller, nullptr);
    refreshBindings();
    return true;
}

bool CCMapper::clearMapping (const juce::String& parameterId)
{
    if (! mapTree.isValid() || parameterId.isEmpty())
        return false;

    auto child = mapTree.getChildWithName (juce::Identifier (parameterId));

    if (! child.isValid())
        return false;

    mapTree.removeChild (child, nullptr);
    refreshBindings();
    return true;
}

bool CCMapper::loadFromXml (const juce::XmlElement& xml)
{
    if (! xml.getTagName().equalsIgnoreCase (midiMapTreeType))
        return false;

    mapTree = juce::ValueTree::fromXml (xml);
    refreshBindings();
    return true;
}

juce::ValueTree CCMapper::ownBindings (const juce::ValueTree& map)
{
    juce::ValueTree own { juce::Identifier (midiMapTreeType) };
    const juce::Identifier cc (ccPropertyName);

    for (const auto& child : map)
    {
        const int controller = toControllerNumber (child.getProperty (cc));

        if (controller >= 0 && controller < numControllers && ! own.getChildWithName (child.getType()).isValid())
        {
            juce::ValueTree binding (child.getType());
            binding.setProperty (cc, controller, nullptr);
            own.appendChild (binding, nullptr);
        }
    }

    return own;
}

//==============================================================================
void CCMapper::refreshBindings()
{
    cancelPendingUpdate();

    auto table = std::make_unique<BindingTable>();
    const juce::Identifier cc (ccPropertyName);

    if (mapTree.isValid())
    {
        for (const auto& child : mapTree)
        {
            // A child without "cc" reads as controller 0; numbers no message can carry never match.
            const int controller = toControllerNumber (child.getProperty (cc));
            if (controller >= 0 && controller < numControllers)
                table->items.push_back ({ controller, child.getType().toString() });
        }
    }

    std::stable_sort (table->items.begin(), table->items.end(),
                      [] (const Binding& a, const Binding& b) { return a.controller < b.controller; });

    size_t index = 0;
    for (int c = 0; c <= numControllers; ++c)
    {
        while (index < table->items.size() && table->items[index].controller < c)
            ++index;
        table->firstOf[(size_t) c] = (int) index;
    }

    publish (std::move (table));
}

int CCMapper::getNumPublishedBindings() const noexcept
{
    auto* table = published.load();
    return table != nullptr ? (int) table->items.size() : 0;
}

void CCMapper::publish (std::unique_ptr<BindingTable> table)
{
    published.store (table.get());

    if (current != nullptr)
        retired.push_back (std::move (current));

    current = std::move (table);
    reclaimRetiredTables();
}

void CCMapper::reclaimRetiredTables()
{
    // A reader counts itself before it loads the pointer, so once the count is seen at zero
    // after the new table was stored, no reader can still hold a retired one.
    if (! retired.empty() && activeReaders.load() == 0)
        retired.clear();
}

//==============================================================================
void CCMapper::handleAsyncUpdate() { refreshBindings(); }

void CCMapper::valueTreePropertyChanged (juce::ValueTree&, const juce::Identifier&) { triggerAsyncUpdate(); }
void CCMapper::valueTreeChildAdded (juce::ValueTree&, juce::ValueTree&) { triggerAsyncUpdate(); }
void CCMapper::valueTreeChildRemoved (juce::ValueTree&, juce::ValueTree&, int) { triggerAsyncUpdate(); }
void CCMapper::valueTreeChildOrderChanged (juce::ValueTree&, int, int) { triggerAsyncUpdate(); }
void CCMapper::valueTreeRedirected (juce::ValueTree&) { triggerAsyncUpdate(); }
