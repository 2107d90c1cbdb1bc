#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>

#include "../orvn/CCMapperUIManager.h"
#include "../orvn/IconButtonControl.h"

class QuorilAudioProcessor;

namespace quoril
{
// The strip along the bottom: wordmark, preset browser (previous, name, next), main menu, logo.
//
// The preset browser's operations (listing, stepping and loading factory and user presets, and
// the pending MIDI slot) live in PresetBrowser.cpp.
class Footer : public juce::Component
{
public:
    explicit Footer (QuorilAudioProcessor& p);
    ~Footer() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    //==============================================================================
    // Main menu. The show functions open a menu and return while it is open; they run no
    // message loop of their own, which would stop the host's.
    void showMenu();

    // The main menu as shown by showMenu; each item carries its own action, which does nothing
    // once this footer has gone.
    juce::PopupMenu createMainMenu();

    static constexpr int versionItemId = -10;

    void onReseed();
    void onOpenPresetsDirectory();
    void onShowPreferencesFile();
    void onClearMidiMap();

    //==============================================================================
    // Preset browser.
    juce::StringArray getUserPresetNames() const;
    void showPresetList();

    // The preset menu (FACTORY and USER sub-menus) for the given user names, with the entry
    // named like the current preset highlighted.
    juce::PopupMenu createPresetMenu (const juce::StringArray& userNames);

    // Loads the preset of a preset-menu result (0: nothing) from the names that built the menu.
    void handlePresetMenuResult (int result, const juce::StringArray& userNames);

    void loadFactoryPreset (int index);
    void loadUserPreset (const juce::StringArray& names, int index);

    // Loads the preset of the pending MIDI program change and clears the pending flag.
    void loadPendingPresetFile();

    void onNextPresetClicked();
    void onPreviousPresetClicked();
    void onPresetListClicked();
    void onMenuClicked();

    //==============================================================================
    QuorilAudioProcessor& processor;
    std::unique_ptr<orvn::gui::IconButtonControl> previousButton;
    std::unique_ptr<orvn::gui::IconButtonControl> nextButton;
    juce::TextButton presetButton;
    std::unique_ptr<orvn::gui::IconButtonControl> menuButton;
    std::unique_ptr<juce::Drawable> logo;
    std::unique_ptr<juce::Drawable> wordmark;
    orvnlib::CCMapperUIManager ccMapperUIManager;

private:
    // How both menus are shown: attached to the given button, with the given column limit.
    juce::PopupMenu::Options menuOptions (juce::Component& attachTo, int maximumColumns);

    // Applies a state document with processing suspended; names it after the file when the
    // document named nothing, and asks the host for a save only when that changed the saved state.
    // Returns false (and changes nothing) when the file is not readable.
    bool loadPresetFile (const juce::File& file);
    void stepPreset (bool forward);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Footer)
};
} // namespace quoril
