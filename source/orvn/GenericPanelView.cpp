#include "GenericPanelView.h"

namespace orvn::gui
{
GenericPanelView::GenericPanelView (const juce::String& title)
    : header (std::make_unique<PanelHeaderComponent> (title))
{
    addAndMakeVisible (*header);
}

GenericPanelView::~GenericPanelView()
{
    header.reset();
}

void GenericPanelView::paint (juce::Graphics& g)
{
    g.fillAll (getLookAndFeel().findColour (juce::ResizableWindow::backgroundColourId));
}

void GenericPanelView::resized()
{
    layoutHeader();
}

int GenericPanelView::layoutHeader()
{
    if (header == nullptr)
        return 0;

    header->setBounds (0, 0, getWidth(), headerHeight);
    return headerHeight;
}
} // namespace orvn::gui
