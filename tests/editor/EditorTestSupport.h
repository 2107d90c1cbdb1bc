#pragma once

// Helpers shared by the editor tests: an editor open on a processor, pictures and icon colours,
// simulated mouse events and clicks, modal menus worked from a timer, listeners that log what
// they hear, and the engine-setting records and controller bindings in comparable form.
#include <gtest/gtest.h>

#include "editor/QuorilAudioProcessorEditor.h"
#include "processor/QuorilAudioProcessor.h"
#include "support/MessageLoop.h"

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace editortest
{
using testsupport::runMessageLoop;
using testsupport::runMessageLoopUntil;

// The editor a host would open on the processor, closed as a host closes it.
struct OpenEditor
{
    explicit OpenEditor (QuorilAudioProcessor& p) : processor (p), editor (p.createEditorIfNeeded()) {}
    ~OpenEditor() { processor.editorBeingDeleted (editor.get()); }

    MainComponent& main() { return dynamic_cast<QuorilAudioProcessorEditor&> (*editor).mainComponent; }
    MainComponent::EngineHeader& header (int pole) { return main().engineHeaders[(size_t) pole]; }

    QuorilAudioProcessor& processor;
    std::unique_ptr<juce::AudioProcessorEditor> editor;
};

inline juce::Image snapshot (juce::Component& c, float scale = 1.0f) { return c.createComponentSnapshot (c.getLocalBounds(), true, scale); }

// Kept under the test output folder, to be looked at.
inline void savePng (const juce::Image& image, const juce::String& name)
{
    const juce::File dir (QUORIL_TEST_OUTPUT_DIR);
    dir.createDirectory();
    const auto file = dir.getChildFile (name + ".png");
    file.deleteFile();
    juce::FileOutputStream out (file);
    juce::PNGImageFormat().writeImageToStream (image, out);
}

// The visible colours of a drawable tree (fills and strokes, ignoring "none").
inline std::set<juce::uint32> coloursOf (const juce::Component* drawable)
{
    std::set<juce::uint32> colours;
    std::function<void (const juce::Component&)> walk = [&] (const juce::Component& c)
    {
        if (auto* shape = dynamic_cast<const juce::DrawableShape*> (&c))
            for (const auto& fill : { shape->getFill(), shape->getStrokeFill() })
                if (fill.isColour() && fill.colour.getAlpha() != 0)
                    colours.insert (fill.colour.getARGB());
        for (auto* child : c.getChildren())
            walk (*child);
    };
    if (drawable != nullptr)
        walk (*drawable);
    return colours;
}

inline std::set<juce::uint32> only (juce::Colour c) { return { c.getARGB() }; }

inline juce::MouseEvent mouseEvent (juce::Component& target, juce::Point<float> position,
                                    juce::ModifierKeys mods = juce::ModifierKeys::leftButtonModifier,
                                    std::optional<juce::Point<float>> downPosition = {})
{
    const auto down = downPosition.value_or (position);
    const auto now = juce::Time::getCurrentTime();
    return { juce::Desktop::getInstance().getMainMouseSource(), position, mods, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f,
             &target, &target, now, down, now, 1, position != down };
}

// A click as the framework delivers it: posted, then handled by the message loop.
inline void click (juce::Button& button)
{
    button.triggerClick();
    runMessageLoop (20);
}

// Acts on an open menu as soon as it is there: menus under Xvfb close themselves once they notice
// that no window has focus, so the action must come before the menu's first own check. Gives up
// after two seconds, dismissing every menu.
struct MenuDriver : juce::Timer
{
    explicit MenuDriver (std::function<void (juce::Component& menu)> actionToTake) : action (std::move (actionToTake))
    {
        startTimer (1);
    }

    // A menu's show call returns while it is open: runs the message loop until the driver has
    // acted, every menu and dialog has closed, and what they post for the choice has run.
    bool finish()
    {
        const bool closed = runMessageLoopUntil ([this]
        {
            return acted && juce::ModalComponentManager::getInstance()->getNumModalComponents() == 0;
        });
        runMessageLoop (30);
        return closed;
    }

    void timerCallback() override
    {
        auto* menu = juce::Component::getCurrentlyModalComponent();
        if (menu != nullptr && ! acted)
        {
            acted = true;
            action (*menu);
        }
        else if (++ticks > 2000)
        {
            juce::PopupMenu::dismissAllActiveMenus();
        }
    }

    std::function<void (juce::Component&)> action;
    bool acted = false;
    int ticks = 0;
};

// Keys for an open menu: to the top menu window, or to the sub-menu window that a "right" opened.
struct MenuKey { bool toSubMenu; int code; };

inline std::function<void (juce::Component&)> pressKeys (std::vector<MenuKey> keys)
{
    return [keys] (juce::Component& menu)
    {
        auto& desktop = juce::Desktop::getInstance();
        for (const auto& key : keys)
        {
            auto* target = key.toSubMenu ? desktop.getComponent (desktop.getNumComponents() - 1) : &menu;
            if (target == nullptr || (key.toSubMenu && target == &menu))
                return;
            target->keyPressed (juce::KeyPress (key.code));
        }
    };
}

// The component of a type inside c (c itself included), depth first; nullptr when there is none.
template <typename Type>
Type* findInside (juce::Component& c, std::function<bool (Type&)> matches = nullptr)
{
    if (auto* found = dynamic_cast<Type*> (&c); found != nullptr && (matches == nullptr || matches (*found)))
        return found;
    for (auto* child : c.getChildren())
        if (auto* found = findInside<Type> (*child, matches))
            return found;
    return nullptr;
}

inline juce::TextButton* buttonLabelled (juce::Component& c, const juce::String& text)
{
    return findInside<juce::TextButton> (c, [text] (juce::TextButton& b) { return b.getButtonText() == text; });
}

// Works the framework's own file dialog (FileChooserDialogBox) as soon as it is the modal
// component, as a user would: once, with the dialog and its browser. Cancels any dialog still
// modal after three seconds.
struct FileDialogDriver : juce::Timer
{
    using Step = std::function<void (juce::FileChooserDialogBox&, juce::FileBrowserComponent&)>;

    explicit FileDialogDriver (Step stepToTake) : step (std::move (stepToTake)) { startTimer (5); }

    // Types a file's full path as its name and presses the dialog's Open or Save button.
    static Step choose (const juce::File& file)
    {
        return [file] (juce::FileChooserDialogBox& box, juce::FileBrowserComponent& browser)
        {
            browser.setFileName (file.getFullPathName());
            pressOk (box, browser);
        };
    }

    static void pressOk (juce::FileChooserDialogBox& box, juce::FileBrowserComponent& browser)
    {
        if (auto* ok = buttonLabelled (box, browser.getActionVerb()))
            ok->triggerClick();
    }

    void timerCallback() override
    {
        auto* box = dynamic_cast<juce::FileChooserDialogBox*> (juce::Component::getCurrentlyModalComponent());
        if (box != nullptr && ! acted)
        {
            if (auto* browser = findInside<juce::FileBrowserComponent> (*box))
            {
                acted = true;
                step (*box, *browser);
            }
        }
        else if (++ticks > 600 && box != nullptr)
        {
            box->exitModalState (0);
        }
    }

    // Runs the message loop until the driver has acted and no dialog or question is left open.
    bool finish()
    {
        const bool closed = runMessageLoopUntil ([this]
        {
            return acted && juce::ModalComponentManager::getInstance()->getNumModalComponents() == 0;
        });
        runMessageLoop (30);
        return closed;
    }

    Step step;
    bool acted = false;
    int ticks = 0;
};

// Answers each question that comes up (an AlertWindow as the modal component) with the button
// labelled answer, and keeps the questions' titles.
struct QuestionDriver : juce::Timer
{
    explicit QuestionDriver (juce::String buttonToPress) : answer (std::move (buttonToPress)) { startTimer (5); }

    void timerCallback() override
    {
        auto* alert = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent());
        if (alert == nullptr || alert == answered.getComponent())
            return;
        answered = alert;
        asked.add (alert->getName());
        if (auto* button = buttonLabelled (*alert, answer))
            button->triggerClick();
    }

    juce::String answer;
    juce::StringArray asked;
    juce::Component::SafePointer<juce::AlertWindow> answered;
};

// The broadcasters it heard from, in order.
struct ChangeLog : juce::ChangeListener
{
    void changeListenerCallback (juce::ChangeBroadcaster* source) override { sources.add (source); }
    int count() const { return sources.size(); }
    juce::Array<juce::ChangeBroadcaster*> sources;
};

// Value changes and gestures of the parameters it listens to, as "v3", "b3", "e3".
struct ParameterLog : juce::AudioProcessorParameter::Listener
{
    explicit ParameterLog (std::vector<juce::AudioProcessorParameter*> toWatch) : params (std::move (toWatch))
    {
        for (auto* param : params)
            param->addListener (this);
    }
    ~ParameterLog() override
    {
        for (auto* param : params)
            param->removeListener (this);
    }

    void parameterValueChanged (int index, float) override { all.add ("v" + juce::String (index)); }
    void parameterGestureChanged (int index, bool starting) override
    {
        all.add ((starting ? "b" : "e") + juce::String (index));
        gestures.add (all[all.size() - 1]);
    }

    // Whole pairs only: no begin while one is open, no end without a begin, none left open.
    bool balanced() const
    {
        std::map<juce::String, int> open;
        for (const auto& g : gestures)
            if (auto& n = open[g.substring (1)]; (n += g[0] == 'b' ? 1 : -1) < 0 || n > 1)
                return false;
        return std::all_of (open.begin(), open.end(), [] (auto& entry) { return entry.second == 0; });
    }

    int begins() const
    {
        return (int) std::count_if (gestures.begin(), gestures.end(), [] (auto& g) { return g[0] == 'b'; });
    }

    std::vector<juce::AudioProcessorParameter*> params;
    juce::StringArray all, gestures;
};

inline juce::RangedAudioParameter& parameterAt (QuorilAudioProcessor& p, int index)
{
    return *p.parameters.getParameter (p.parameterTable->ids[index]);
}

inline void setParameter (QuorilAudioProcessor& p, int index, float normalised) { parameterAt (p, index).setValueNotifyingHost (normalised); }

inline float raw (const QuorilAudioProcessor& p, int index) { return p.parameterTable->raw (index); }

// Every field of a pole's engine-setting records for one channel.
inline std::vector<double> recordOf (const QuorilAudioProcessor& p, int pole, int channel)
{
    const auto& g = p.granulizerSettings[(size_t) pole][(size_t) channel];
    const auto& r = p.resonatorSettings[(size_t) pole][(size_t) channel];
    return { (double) g.density, (double) g.envelope, g.size, g.sizeMs, g.speed, g.sizeRnd, g.speedRnd, g.ampRnd,
             g.outGain, (double) g.freeze, r.freq, r.feed };
}

inline std::vector<double> allRecords (const QuorilAudioProcessor& p)
{
    std::vector<double> all;
    for (int pole = 0; pole < 4; ++pole)
        for (int channel = 0; channel < 2; ++channel)
            for (auto v : recordOf (p, pole, channel))
                all.push_back (v);
    return all;
}

inline juce::MidiBuffer controller (int number, int value)
{
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::controllerEvent (1, number, value), 0);
    return midi;
}

// The map's bindings in order, as "x_pos=74,in_gain=7".
inline juce::String bindingsOf (const juce::ValueTree& map)
{
    juce::StringArray out;
    for (const auto& child : map)
        out.add (child.getType().toString() + "=" + child.getProperty ("cc").toString());
    return out.joinIntoString (",");
}
} // namespace editortest
