#include "StateTestHelpers.h"

#include <cmath>
#include <thread>

using namespace quoril::test;

namespace
{
// Changes a valid blob the way damaged or hostile data would: flipped bytes, cut or moved
// ends, odd numbers in attributes, duplicated or dropped markup.
juce::MemoryBlock mutate (const juce::MemoryBlock& valid, juce::Random& random)
{
    auto bytes = valid;
    auto* data = static_cast<char*> (bytes.getData());
    const auto size = (int) bytes.getSize();

    switch (random.nextInt (7))
    {
        case 0:
            for (int i = random.nextInt (8) + 1; --i >= 0;)
                data[random.nextInt (size)] = (char) random.nextInt (256);
            return bytes;
        case 1:
            return juce::MemoryBlock (data, (size_t) random.nextInt (size + 1));
        case 2:
        {
            const juce::uint32 length = (juce::uint32) random.nextInt();
            std::memcpy (data + 4, &length, 4);
            return bytes;
        }
        default:
            break;
    }

    auto text = xmlTextOf (valid);
    const char* numbers[] = { "nan", "-inf", "inf", "1e308", "-1e39", "99999999999", "-2147483648", "", "x", "64.5" };
    const char* attributes[] = { "value", "pole", "channel", "density", "size", "freq", "cc", "speed", "damp" };

    switch (random.nextInt (4))
    {
        case 0:
        {
            const juce::String attribute = juce::String (attributes[random.nextInt (9)]) + "=\"";
            int from = text.indexOf (random.nextInt (text.length()), attribute);
            if (from < 0)
                from = text.indexOf (attribute);
            if (from >= 0)
            {
                from += attribute.length();
                const auto to = text.indexOfChar (from, '"');
                text = text.replaceSection (from, to - from, numbers[random.nextInt (10)]);
            }
            break;
        }
        case 1:
        {
            const auto start = text.indexOfChar (random.nextInt (text.length()), '<');
            const auto end = text.indexOfChar (start, '>');
            if (start >= 0 && end > start)
                text = text.replaceSection (start, 0, text.substring (start, end + 1));
            break;
        }
        case 2:
        {
            const auto start = text.indexOfChar (random.nextInt (text.length()), '<');
            const auto end = text.indexOfChar (start, '>');
            if (start >= 0 && end > start)
                text = text.replaceSection (start, end + 1 - start, {});
            break;
        }
        default:
            text = text.replace ("Quoril_MIDI_MAP><x_pos", "Quoril_MIDI_MAP><x_pos cc=\"-5\"/><in_gain cc=\"300\"/><nothing cc=\"1\"/><x_pos");
            break;
    }

    return blobWithText (text);
}

void expectPlayableState (QuorilAudioProcessor& p)
{
    for (auto* param : p.getParameters())
        ASSERT_TRUE (std::isfinite (param->getValue()));

    for (const auto& pole : p.granulizerSettings)
        for (const auto& r : pole)
        {
            ASSERT_GE (r.density, 0);
            ASSERT_LE (r.density, 64);
        }

    juce::AudioBuffer<float> buffer (2, 64);
    for (int i = 0; i < 64; ++i)
        buffer.setSample (0, i, std::sin ((float) i * 0.3f)), buffer.setSample (1, i, 0.25f);
    auto midi = controllers ({ { 1, 1, 127 }, { 1, 74, 3 } });
    p.processBlock (buffer, midi);
    for (int channel = 0; channel < 2; ++channel)
        for (int i = 0; i < 64; ++i)
            ASSERT_TRUE (std::isfinite (buffer.getSample (channel, i)));
}
} // namespace

TEST (StateMutation, DamagedBlobsNeverBreakThePlugIn)
{
    QuorilAudioProcessor source;
    ensureRecords (source);
    source.midiMap.lastCC = 1;
    source.midiMap.assignToLastCC ("x_pos");
    const auto valid = blobOf (source);

    QuorilAudioProcessor p;
    ensureRecords (p);
    p.prepareToPlay (44100.0, 64);
    juce::Random random (0x5eed);

    for (int i = 0; i < 3000; ++i)
    {
        const auto blob = mutate (valid, random);
        restore (p, blob);
        p.applyStateTree (juce::ValueTree::fromXml (xmlTextOf (blob)));
        p.midiMap.processMidi (controllers ({ { 1, random.nextInt (128), random.nextInt (128) } }), p.parameters);
        ASSERT_NO_FATAL_FAILURE (expectPlayableState (p)) << i;

        // Whatever was accepted saves and restores again.
        if (i % 100 == 0)
        {
            QuorilAudioProcessor copy;
            ensureRecords (copy);
            restore (copy, blobOf (p));
            for (const auto& id : p.parameterTable->ids)
                ASSERT_EQ (valueOf (copy, id), valueOf (p, id)) << i << " " << id;
        }
    }
}

// A MIDI-slot load on the audio thread while the host saves and restores on the message thread.
TEST (StateMutation, LoadsOnTheAudioThreadAndSavesOnTheMessageThreadDoNotCollide)
{
    QuorilAudioProcessor p;
    ensureRecords (p);
    const auto valid = blobOf (p);
    const auto preset = juce::ValueTree::fromXml (R"(<Quoril><PARAM id="x_pos" value="0.25"/><Granulizer pole="1" channel="1" density="3"/><Metadata preset_name="slot"/></Quoril>)");

    const auto validDensity = p.granulizerSettings[1][1].density;
    const auto validX = p.parameters.getRawParameterValue ("x_pos")->load();

    std::atomic<bool> running { true };
    std::thread audio ([&]
    {
        while (running)
            p.applyStateTree (preset.createCopy());
    });

    bool everySaveParsed = true;
    for (int i = 0; i < 300; ++i)
    {
        const auto blob = blobOf (p);
        everySaveParsed = everySaveParsed && juce::AudioProcessor::getXmlFromBinary (blob.getData(), (int) blob.getSize()) != nullptr;
        if (i % 3 == 0)
            restore (p, valid);
    }

    running = false;
    audio.join();
    EXPECT_TRUE (everySaveParsed);

    // Whichever load came last, it was applied whole.
    const auto density = p.granulizerSettings[1][1].density;
    const auto x = p.parameters.getRawParameterValue ("x_pos")->load();
    EXPECT_TRUE ((density == 3 && x == 0.25f) || (density == validDensity && x == validX))
        << density << " " << x;
}
