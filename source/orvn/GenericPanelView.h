#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

#include "PanelHeaderComponent.h"

namespace orvn::gui
{
// A panel with a 30-unit title strip at its top, filled with the look-and-feel's window colour.
// Subclasses that lay out their own children call layoutHeader() and use the area below it.
class GenericPanelView : public juce::Component
{
public:
    static constexpr int headerHeight = 30;

    explicit GenericPanelView (const juce::String& title);
    ~GenericPanelView() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    // Places the header across the top; returns the y where the panel's own area starts.
    int layoutHeader();

    std::unique_ptr<PanelHeaderComponent> header;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (GenericPanelView)
};
} // namespace orvn::gui
