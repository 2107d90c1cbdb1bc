#include "QuorilAudioProcessor.h"

#include "../engine/Diffuser.h"
#include "../engine/EngineMath.h"
#include "../engine/EngineWorkspace.h"
#include "../engine/FastSine.h"
#include "../engine/PoleBank.h"
#include "../engine/Granulizer.h"
#include "../engine/ParameterRamp.h"

using namespace quoril::engine;

namespace
{
constexpr int numPoles = 4;
constexpr int numEngineChannels = 2;

bool engineIsPrepared (const QuorilAudioProcessor& p)
{
    for (const auto& diffuser : p.diffusers)
        if (diffuser == nullptr || diffuser->stages[0].buffer.getNumSamples() <= 0)
            return false;

    return true;
}

// The longest stretch that the dry copy and the ramp buffers hold.
int blockCapacity (const QuorilAudioProcessor& p)
{
    int capacity = std::min (p.dryBuffer.getNumSamples(), p.engineWorkspace->capacity());

    for (auto* ramp : { p.xPosRamp.get(), p.yPosRamp.get(), p.diffRamps[0].get(), p.diffRamps[1].get(),
                        p.diffRamps[2].get(), p.diffRamps[3].get() })
        capacity = std::min (capacity, ramp->capacity());

    return capacity;
}

void applyGain (juce::dsp::Gain<float>& gain, float decibels, juce::AudioBuffer<float>& buffer, int start, int n)
{
    gain.setGainDecibels (decibels);

    if (n <= 0)
        return;

    auto block = juce::dsp::AudioBlock<float> (buffer).getSubBlock ((size_t) start, (size_t) n);
    gain.process (juce::dsp::ProcessContextReplacing<float> (block));
}

// The trajectory clock of channel 0 over n samples, and the blend position of every sample.
void runTrajectoryClock (QuorilAudioProcessor& p, int n, bool trajectoryOn, const float* xRamp, const float* yRamp,
                         float* positionX, float* positionY)
{
    const auto& table = *p.parameterTable;

    for (int i = 0; i < n; ++i)
    {
        if (p.trajectoryCounter == 0)
        {
            if (trajectoryOn)
            {
                p.advanceTrajectory();
                p.trajectoryX = p.currentX.load();
                p.trajectoryY = p.currentY.load();
            }
            else
            {
                p.currentX.exchange (table.raw (ParameterTable::xPos));
                p.currentY.exchange (table.raw (ParameterTable::yPos));
                p.xRising = p.yRising = true;
            }
        }

        if (++p.trajectoryCounter >= p.trajectoryPeriod)
            p.trajectoryCounter = 0;

        if (trajectoryOn)
        {
            positionX[i] = p.trajectoryX;
            positionY[i] = p.trajectoryY;
        }
        else
        {
            positionX[i] = juce::jlimit (0.0f, 1.0f, xRamp[i]);
            positionY[i] = juce::jlimit (0.0f, 1.0f, yRamp[i]);
        }
    }
}

// The four poles' outputs blended at the position of each sample: direct and diffuser parts.
void blendPoles (const float* const* out, const float* const* diff, const float* __restrict positionX,
                 const float* __restrict positionY, float* __restrict direct, float* __restrict send, int n)
{
    const float* __restrict o0 = out[0];
    const float* __restrict o1 = out[1];
    const float* __restrict o2 = out[2];
    const float* __restrict o3 = out[3];
    const float* __restrict d0 = diff[0];
    const float* __restrict d1 = diff[1];
    const float* __restrict d2 = diff[2];
    const float* __restrict d3 = diff[3];

    for (int i = 0; i < n; ++i)
    {
        const float X = positionX[i], Y = positionY[i];
        const float a0 = (1.0f - d0[i]) * o0[i], a1 = (1.0f - d1[i]) * o1[i];
        const float a2 = (1.0f - d2[i]) * o2[i], a3 = (1.0f - d3[i]) * o3[i];
        const float s0 = d0[i] * o0[i], s1 = d1[i] * o1[i], s2 = d2[i] * o2[i], s3 = d3[i] * o3[i];

        direct[i] = (1.0f - X) * a0 * (1.0f - Y) + X * a1 * (1.0f - Y) + Y * a2 * (1.0f - X) + X * a3 * Y;
        send[i] = (1.0f - X) * s0 * (1.0f - Y) + X * s1 * (1.0f - Y) + Y * s2 * (1.0f - X) + X * s3 * Y;
    }
}

// The sound engine: granulizers, resonators, blend and diffuser of every channel, on samples
// start .. start + n - 1 of the buffer (after the input gain).
//
// The work is done stage by stage over the whole stretch rather than sample by sample; every
// value is computed with the same operations in the same order as the sample-by-sample chain.
// Only the trajectory clock couples the channels (channel 1 uses the position that channel 0's
// pass ended with), so the clock runs first over the stretch.
void runEngine (QuorilAudioProcessor& p, juce::AudioBuffer<float>& buffer, int start, int n, int nIn,
                const bool* linked, bool trajectoryOn, const float* xRamp, const float* yRamp, const float* const* diffRamp)
{
    auto& ws = *p.engineWorkspace;

    // Channel set-up: settings records and coefficients.
    for (int ch = 0; ch < nIn; ++ch)
    {
        auto& diffuser = *p.diffusers[(size_t) ch];
        diffuser.feed = p.diffuserSettings[ch].feed;
        diffuser.damp = p.diffuserSettings[ch].damp;
        diffuser.recoverIfNonFinite();

        for (int pole = 0; pole < numPoles; ++pole)
        {
            const int source = linked[pole] ? 0 : ch;
            p.granulizers[(size_t) pole][(size_t) ch].setParameters (p.granulizerSettings[(size_t) pole][(size_t) source]);

            auto& r = p.resonatorStates[(size_t) pole][(size_t) ch];
            const auto& settings = p.resonatorSettings[(size_t) pole][(size_t) source];
            r.freq = settings.freq;
            r.feed = settings.feed;
            r.coefficient = resonatorCoefficient (r.freq, r.sampleRate);
            recoverIfNonFinite (r);
        }
    }

    if (n <= 0)
        return;

    runTrajectoryClock (p, n, trajectoryOn, xRamp, yRamp, ws.positionX, ws.positionY);

    ResonatorState* states[EngineWorkspace::numChains];
    const int numChains = numPoles * nIn;

    for (int ch = 0; ch < nIn; ++ch)
        for (int pole = 0; pole < numPoles; ++pole)
            states[ch * numPoles + pole] = &p.resonatorStates[(size_t) pole][(size_t) ch];

    // Grain sums of every pole and channel.
    for (int ch = 0; ch < nIn; ++ch)
    {
        const float* input = buffer.getReadPointer (ch, start);

        for (int pole = 0; pole < numPoles; ++pole)
            p.granulizers[(size_t) pole][(size_t) ch].processBlock (input, ws.chains[ch * numPoles + pole], n);
    }

    if (nIn == 2)
    {
        // Both channels at once: the eight resonators in lanes, the blend and both diffusers.
        makeBlendWeights (ws.positionX, ws.positionY, ws.weights[0], n);

        if (trajectoryOn)
        {
            std::fill_n (ws.positionX, n, p.trajectoryX);
            std::fill_n (ws.positionY, n, p.trajectoryY);
            makeBlendWeights (ws.positionX, ws.positionY, ws.weights[1], n);
        }

        const float* weights[2] = { ws.weights[0], trajectoryOn ? ws.weights[1] : ws.weights[0] };
        interleaveDiffusion (diffRamp, ws.diffInterleaved, n);
        shapeGrainSums (ws.chains, ws.shaped, 0, n);
        shapeGrainSums (ws.chains + numPoles, ws.shaped, 1, n);
        float* out[2] = { buffer.getWritePointer (0, start), buffer.getWritePointer (1, start) };
        runStereoEngine (states, ws.shaped, ws.diffInterleaved, weights, *p.diffusers[0], *p.diffusers[1],
                         ws.direct, ws.diffused, out, n);
        return;
    }

    // One channel (the bus layout never gives one; kept general): stage by stage.
    {
        for (int chain = 0; chain < numChains; ++chain)
            sineBlock (ws.chains[chain], ws.chains[chain], n, 0.9f);

        runResonatorChains (states, ws.chains, numChains, n);

        for (int chain = 0; chain < numChains; ++chain)
            sineBlock (ws.chains[chain], ws.chains[chain], n, 1.0f);

        for (int ch = 0; ch < nIn; ++ch)
        {
            blendPoles (ws.chains + ch * numPoles, diffRamp, ws.positionX, ws.positionY, ws.direct[ch], ws.diffused[ch], n);
            p.diffusers[(size_t) ch]->processBlock (ws.diffused[ch], n);
        }
    }

    for (int ch = 0; ch < nIn; ++ch)
    {
        float* data = buffer.getWritePointer (ch, start);
        const float* direct = ws.direct[ch];
        const float* diffused = ws.diffused[ch];

        for (int i = 0; i < n; ++i)
            data[i] = diffused[i] + direct[i];
    }
}

// Everything after the controller map, on samples start .. start + n - 1 of the buffer: ramps,
// flags, dry copy, input gain, the sound engine, output gain, DC blocker and level, crossfade.
void processStretch (QuorilAudioProcessor& p, juce::AudioBuffer<float>& buffer, int start, int n, int nIn)
{
    const auto& table = *p.parameterTable;

    // Ramps.
    p.xPosRamp->process (table.raw (ParameterTable::xPos), n);
    p.yPosRamp->process (table.raw (ParameterTable::yPos), n);

    for (int pole = 0; pole < numPoles; ++pole)
        p.diffRamps[(size_t) pole]->process (table.raw (ParameterTable::diffIndex (pole)), n);

    const float* xRamp = p.xPosRamp->values();
    const float* yRamp = p.yPosRamp->values();
    const float* diffRamp[numPoles];

    for (int pole = 0; pole < numPoles; ++pole)
        diffRamp[pole] = p.diffRamps[(size_t) pole]->values();

    // Flags.
    bool linked[numPoles];

    for (int pole = 0; pole < numPoles; ++pole)
        linked[pole] = table.raw (ParameterTable::linkIndex (pole)) > 0.5f;

    const bool trajectoryOn = table.raw (ParameterTable::trajectory) > 0.5f;

    // Dry copy, before the input gain.
    if (n > 0)
        for (int ch = 0; ch < nIn; ++ch)
            p.dryBuffer.copyFrom (ch, 0, buffer, ch, start, n);

    applyGain (p.inputGain, table.raw (ParameterTable::inGain), buffer, start, n);

    if (nIn > 0)
        runEngine (p, buffer, start, n, nIn, linked, trajectoryOn, xRamp, yRamp, diffRamp);

    applyGain (p.outputGain, table.raw (ParameterTable::outGain), buffer, start, n);

    // DC blocker and level.
    float levelSum = 0.0f;

    for (int ch = 0; ch < nIn && n > 0; ++ch)
    {
        auto& b = p.dcBlockers[ch];
        recoverIfNonFinite (b);
        float* data = buffer.getWritePointer (ch, start);

        for (int i = 0; i < n; ++i)
        {
            const double x = data[i];
            const double y = (x - b.previousInput) + b.coefficient * b.previousOutput;
            b.previousInput = x;
            b.previousOutput = y;
            data[i] = (float) y;
        }

        levelSum += buffer.getRMSLevel (ch, start, n);
    }

    // Dry/wet crossfade.
    const float target = table.raw (ParameterTable::dryWet);
    const float a = p.dryWetCoefficient;
    float* wet[numEngineChannels] = {};
    const float* dry[numEngineChannels] = {};

    for (int ch = 0; ch < nIn && n > 0; ++ch)
    {
        wet[ch] = buffer.getWritePointer (ch, start);
        dry[ch] = p.dryBuffer.getReadPointer (ch);
    }

    for (int i = 0; i < n; ++i)
    {
        const bool rising = target >= p.dryWetLastTarget;
        p.dryWetValue = (float) ((1.0 - (double) a) * (double) p.dryWetLastTarget + (double) (a * p.dryWetValue));
        p.dryWetLastTarget = target;

        if ((rising && p.dryWetValue > target) || (! rising && p.dryWetValue < target))
            p.dryWetValue = target;

        for (int ch = 0; ch < nIn; ++ch)
            wet[ch][i] = (wet[ch][i] - dry[ch][i]) * p.dryWetValue + dry[ch][i];
    }

    p.outputLevel.exchange (nIn > 0 ? levelSum / (float) nIn : 0.0f);
}
} // namespace

//==============================================================================
void QuorilAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midiMessages)
{
    juce::ScopedNoDenormals noDenormals;

    const int nOut = getTotalNumOutputChannels();
    const int numSamples = buffer.getNumSamples();

    // The engine runs on at most two channels, and only on channels the buffer has.
    const int nIn = juce::jmin (getTotalNumInputChannels(), buffer.getNumChannels(), numEngineChannels);

    for (int ch = getTotalNumInputChannels(); ch < juce::jmin (nOut, buffer.getNumChannels()); ++ch)
        buffer.clear (ch, 0, numSamples);

    // Program change: the last one of the block counts.
    int program = -1;

    for (const auto metadata : midiMessages)
        if (metadata.numBytes >= 2 && (metadata.data[0] & 0xF0) == 0xC0)
            program = metadata.data[1];

    // Without one naming a slot, a program the host selected since the last block loads in its
    // place; a program change naming a slot wins, and the selection is dropped.
    if (const int requested = takeProgramRequest(); requested >= 0 && (program < 0 || program >= midiPresetFiles.size()))
        program = requested;

    loadMidiPreset (program);

    midiMap.processMidi (midiMessages, parameters);

    // Before the first preparation there is no engine to run: the input passes unchanged.
    if (! engineIsPrepared (*this))
        return;

    // A block longer than the prepared maximum is processed in stretches that fit.
    const int capacity = blockCapacity (*this);

    if (capacity <= 0)
        return;

    if (numSamples <= capacity)
    {
        processStretch (*this, buffer, 0, numSamples, nIn);
        return;
    }

    for (int start = 0; start < numSamples; start += capacity)
        processStretch (*this, buffer, start, juce::jmin (capacity, numSamples - start), nIn);
}

//==============================================================================
void QuorilAudioProcessor::advanceTrajectory()
{
    const auto& table = *parameterTable;

    struct Axis
    {
        float next, lo, hi;
    };

    auto step = [] (float current, bool rising, float pos, float rate, float range)
    {
        const float stepSize = rate * 0.01f;
        Axis axis;
        axis.next = rising ? current + stepSize : current - stepSize;
        axis.lo = juce::jlimit (0.0f, 1.0f, pos - range);
        axis.hi = juce::jlimit (0.0f, 1.0f, pos + range);
        return axis;
    };

    const auto x = step (currentX.load(), xRising, table.raw (ParameterTable::xPos),
                         table.raw (ParameterTable::xTrajAmount), table.raw (ParameterTable::xTrajRange));
    const auto y = step (currentY.load(), yRising, table.raw (ParameterTable::yPos),
                         table.raw (ParameterTable::yTrajAmount), table.raw (ParameterTable::yTrajRange));

    if (x.lo > x.next || x.next > x.hi)
        xRising = ! xRising;

    if (y.lo > y.next || y.next > y.hi)
        yRising = ! yRising;

    currentX.exchange (x.lo > x.next ? x.lo : juce::jmin (x.hi, x.next));
    currentY.exchange (y.lo > y.next ? y.lo : juce::jmin (y.hi, y.next));

    trajectoryBounds.xMin.exchange (x.lo);
    trajectoryBounds.xMax.exchange (x.hi);
    trajectoryBounds.yMin.exchange (y.lo);
    trajectoryBounds.yMax.exchange (y.hi);
}
