#include "QuorilAudioProcessor.h"

#include "../engine/Diffuser.h"
#include "../engine/EngineMath.h"
#include "../engine/EngineWorkspace.h"
#include "../engine/Granulizer.h"
#include "../engine/ParameterRamp.h"

using namespace quoril::engine;

//==============================================================================
void QuorilAudioProcessor::buildEngine()
{
    for (auto& settings : diffuserSettings)
        settings = { 0.1f, 0.7f };

    const float squaredStageFactor = ::powf (1.26f, 2.0f);

    for (int ch = 0; ch < 2; ++ch)
    {
        auto diffuser = std::make_unique<Diffuser>();
        diffuser->configure (ch == 0 ? 26.0f : 26.1f, squaredStageFactor);
        diffusers[(size_t) ch] = std::move (diffuser);
    }

    for (int pole = 0; pole < 4; ++pole)
    {
        granulizerSettings.emplace_back();
        resonatorSettings.emplace_back();
        granulizers.emplace_back();
        resonatorStates.emplace_back();

        for (int ch = 0; ch < 2; ++ch)
        {
            granulizerSettings.back().push_back (GranulizerSettings {});
            resonatorSettings.back().push_back (ResonatorSettings {});
            granulizers.back().push_back (Granulizer {});
            resonatorStates.back().push_back (ResonatorState {});
        }
    }

    engineWorkspace = std::make_unique<EngineWorkspace>();
}

void QuorilAudioProcessor::prepareEngine (double newSampleRate)
{
    for (auto& pole : resonatorStates)
    {
        for (auto& r : pole)
        {
            r.sampleRate = newSampleRate;

            for (auto& s : r.allpassStates)
                s = 0.0;

            r.lastOut = 0.0f;
        }
    }

    for (auto& pole : granulizers)
    {
        for (auto& g : pole)
        {
            // A NaN on either side counts as a change of rate.
            if (! (newSampleRate == g.sampleRate))
            {
                const auto ratio = (float) (newSampleRate / g.sampleRate);
                g.sampleRate = newSampleRate;
                g.bufferLength = std::max (1, truncateToInt ((float) g.bufferLength * ratio + 1.0f));
                g.buffer.setSize (1, g.bufferLength);

                for (auto& grain : g.grains)
                {
                    grain.length = truncateToInt ((float) grain.length * ratio + 1.0f);
                    grain.invLength = 1.0f / (float) grain.length;
                }
            }

            g.buffer.clear();
            g.writeIndex = 0;

            for (auto& grain : g.grains)
            {
                grain.start = 0;
                grain.newStart = 0;
            }
        }
    }

    // The grain sizes keep their milliseconds: their samples follow the rate.
    for (auto& pole : granulizerSettings)
        for (auto& record : pole)
            deriveGrainSize (record, newSampleRate);

    for (auto& diffuser : diffusers)
        diffuser->prepare (newSampleRate);

    for (auto& blocker : dcBlockers)
    {
        blocker.previousInput = 0.0;
        blocker.previousOutput = 0.0;
        blocker.coefficient = 1.0 - 125.66370614359172 / newSampleRate;
    }
}

//==============================================================================
void QuorilAudioProcessor::createParameterRamps()
{
    auto makeRamp = [this] (int index) { return std::make_unique<ParameterRamp> (parameterTable->raw (index)); };

    xPosRamp = makeRamp (ParameterTable::xPos);
    yPosRamp = makeRamp (ParameterTable::yPos);

    for (int pole = 0; pole < 4; ++pole)
        diffRamps[(size_t) pole] = makeRamp (ParameterTable::diffIndex (pole));
}

void QuorilAudioProcessor::groupTrajectoryParameters()
{
    auto& group = *parameterGroups.groups.getUnchecked (0);

    for (int index : { (int) ParameterTable::xTrajAmount, (int) ParameterTable::xTrajRange,
                       (int) ParameterTable::yTrajAmount, (int) ParameterTable::yTrajRange })
        group.add (parameterTable->ids[index]);
}
