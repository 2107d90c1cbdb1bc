#include "EditorShared.h"

std::unique_ptr<juce::Drawable> makeIconDrawable (const char* svgData, int svgSize)
{
    if (svgData == nullptr || svgSize <= 0)
        return {};

    return juce::Drawable::createFromImageData (svgData, (size_t) svgSize);
}

std::unique_ptr<orvn::gui::IconButtonControl> makeIconButton (const char* svgData, int svgSize, bool highlightOnImage)
{
    auto normal = makeIconDrawable (svgData, svgSize);
    auto on = makeIconDrawable (svgData, svgSize);

    if (highlightOnImage && on != nullptr)
        on->replaceColour (juce::Colours::white, highlightColour);

    return std::make_unique<orvn::gui::IconButtonControl> (std::move (normal), std::move (on));
}

std::unique_ptr<ButtonAttachmentHolder> makeButtonAttachment (juce::AudioProcessorValueTreeState& state,
                                                              const juce::String& parameterId,
                                                              juce::Button& button)
{
    auto holder = std::make_unique<ButtonAttachmentHolder>();

    if (auto* parameter = state.getParameter (parameterId))
        holder->attachment = std::make_unique<juce::ButtonParameterAttachment> (*parameter, button, state.undoManager);

    return holder;
}
