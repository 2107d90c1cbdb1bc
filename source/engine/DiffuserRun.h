#pragma once

// A diffuser's state held in locals while a block runs through it: the same step as
// Diffuser::processSample with the delay-line positions advanced incrementally. Internal
// linkage on purpose: the AVX2 pole bank compiles it for its own instruction set. Include the
// standard and JUCE headers before this one.

#include "Diffuser.h"

namespace
{
struct DiffuserRun
{
    struct Line
    {
        float* data;
        int length, writeIndex, readIndex;
        float gain;
    };

    Line lines[Diffuser::numStages];
    float feed, damp, keep, inputScale, feedbackState, lastOut;

    // True when every stage has a delay line.
    static bool canRun (const Diffuser& d) noexcept
    {
        for (const auto& stage : d.stages)
            if (stage.buffer.getNumSamples() <= 0 || stage.buffer.getNumChannels() < 1)
                return false;

        return true;
    }

    explicit DiffuserRun (Diffuser& d) noexcept
    {
        for (int k = 0; k < Diffuser::numStages; ++k)
        {
            auto& stage = d.stages[k];
            const int length = stage.buffer.getNumSamples();

            if (stage.writeIndex < 0 || stage.writeIndex >= length)
                stage.writeIndex = 0;

            // The read index moves with the write index, one step per sample.
            lines[k] = { stage.buffer.getWritePointer (0), length, stage.writeIndex, stage.readIndex(), stage.gain };
        }

        feed = d.effectiveFeed();
        damp = d.effectiveDamp();
        keep = 1.0f - damp;
        inputScale = 1.0f - feed * 0.65f;
        feedbackState = d.feedbackState;
        lastOut = d.lastOut;
    }

    float step (float send) noexcept
    {
        feedbackState = lastOut * feed * damp + keep * feedbackState;
        float x = inputScale * send + feedbackState;

        for (auto& line : lines)
        {
            const float rd = line.data[line.readIndex];
            const float v = line.gain * rd + x;
            line.data[line.writeIndex] = v;
            x = rd - line.gain * v;

            if (++line.writeIndex == line.length)
                line.writeIndex = 0;

            if (++line.readIndex == line.length)
                line.readIndex = 0;
        }

        lastOut = x;
        return x;
    }

    void finish (Diffuser& d) const noexcept
    {
        d.feedbackState = feedbackState;
        d.lastOut = lastOut;

        for (int k = 0; k < Diffuser::numStages; ++k)
            d.stages[k].writeIndex = lines[k].writeIndex;
    }
};

// Where the pole bank puts each sample's blend: the direct parts and sends as they are ...
struct SeparateParts
{
    float* const* direct;
    float* const* send;

    void before (int) noexcept {}
    void after (int ch, int i, float d, float s) noexcept { direct[ch][i] = d; send[ch][i] = s; }
    void end (int) noexcept {}
};

// ... or through both channels' diffusers into the engine output. Each sample's diffuser step
// runs at the start of the next sample, so that it overlaps with that sample's resonators.
struct DiffusedOutput
{
    DiffuserRun runs[2];
    float* const* out;
    float direct[2] {}, send[2] {};

    void before (int i) noexcept
    {
        if (i > 0)
            flush (i - 1);
    }

    void after (int ch, int, float d, float s) noexcept
    {
        direct[ch] = d;
        send[ch] = s;
    }

    void end (int numSamples) noexcept
    {
        if (numSamples > 0)
            flush (numSamples - 1);
    }

    void flush (int i) noexcept
    {
        out[0][i] = runs[0].step (send[0]) + direct[0];
        out[1][i] = runs[1].step (send[1]) + direct[1];
    }
};

// Runs a pole bank, runPoles (sink), through both channels' diffusers into out and hands the
// diffusers' state back to them.
template <typename RunPoles>
void runThroughDiffusers (Diffuser& left, Diffuser& right, float* const* out, RunPoles&& runPoles) noexcept
{
    DiffusedOutput sink { { DiffuserRun (left), DiffuserRun (right) }, out };
    runPoles (sink);
    sink.runs[0].finish (left);
    sink.runs[1].finish (right);
}
} // namespace
