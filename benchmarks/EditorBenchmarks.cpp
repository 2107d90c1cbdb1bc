// Paint cost of the editor, drawn through JUCE's software renderer into an image as the window's
// backing store is. Argument: the editor window's width (800 is the design size, 1600 twice it).
//   BM_PadPaint     one frame of the X/Y pad alone (trajectory on, mid level), as the pad's
//                   50 ms timer asks for it
//   BM_EditorPaint  the whole editor window

#include <benchmark/benchmark.h>

#include <juce_audio_processors/juce_audio_processors.h>

#include "editor/QuorilAudioProcessorEditor.h"
#include "editor/QuorilPad.h"
#include "processor/ParameterTable.h"
#include "processor/QuorilAudioProcessor.h"

#include <memory>

namespace
{
void publishTrajectory (QuorilAudioProcessor& p)
{
    p.parameters.getParameter ("trajectory")->setValueNotifyingHost (1.0f);
    p.currentX = 0.35f;
    p.currentY = 0.6f;
    p.trajectoryBounds.xMin = 0.2f;
    p.trajectoryBounds.xMax = 0.7f;
    p.trajectoryBounds.yMin = 0.3f;
    p.trajectoryBounds.yMax = 0.8f;
    p.outputLevel = 0.25f;
}

void BM_PadPaint (benchmark::State& state)
{
    const auto scale = (float) state.range (0) / 800.0f;

    QuorilAudioProcessor p;
    publishTrajectory (p);
    const auto& ids = p.parameterTable->ids;
    QuorilPad pad (*p.parameters.getParameter (ids[ParameterTable::xPos]),
                   *p.parameters.getParameter (ids[ParameterTable::yPos]), p);
    pad.setBounds (0, 0, 262, 262);
    pad.timerCallback();

    const auto side = juce::roundToInt (262.0f * scale);
    juce::Image image (juce::Image::ARGB, side, side, true, juce::SoftwareImageType());

    for (auto _ : state)
    {
        juce::Graphics g (image);
        g.addTransform (juce::AffineTransform::scale (scale));
        pad.paintEntireComponent (g, true);
    }

    benchmark::DoNotOptimize (image.getPixelAt (side / 2, side / 2));
}

void BM_EditorPaint (benchmark::State& state)
{
    const auto width = (int) state.range (0);

    QuorilAudioProcessor p;
    publishTrajectory (p);
    std::unique_ptr<juce::AudioProcessorEditor> editor (p.createEditorIfNeeded());
    editor->setSize (width, (int) (width / 1.6));

    juce::Image image (juce::Image::ARGB, editor->getWidth(), editor->getHeight(), true, juce::SoftwareImageType());

    for (auto _ : state)
    {
        juce::Graphics g (image);
        editor->paintEntireComponent (g, true);
    }

    benchmark::DoNotOptimize (image.getPixelAt (width / 2, 10));
    p.editorBeingDeleted (editor.get());
}
} // namespace

BENCHMARK (BM_PadPaint)->Arg (800)->Arg (1600)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_EditorPaint)->Arg (800)->Arg (1600)->Unit (benchmark::kMicrosecond);
