// libFuzzer target: feeds arbitrary bytes to the state restore and to the document apply,
// then saves and processes a block. Built with -DQUORIL_BUILD_FUZZERS=ON and clang.
#include "processor/QuorilAudioProcessor.h"

#include <cmath>
#include <cstdlib>

namespace
{
QuorilAudioProcessor& processor()
{
    // Made once and never destroyed: the process ends without tearing JUCE down, which
    // keeps static destruction order out of the picture.
    static QuorilAudioProcessor* p = []
    {
        new juce::ScopedJuceInitialiser_GUI();
        auto* made = new QuorilAudioProcessor();
        made->prepareToPlay (44100.0, 64);
        return made;
    }();
    return *p;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    auto& p = processor();

    // The data as a blob, and as the XML text inside one.
    p.setStateInformation (data, (int) juce::jmin (size, (size_t) 1 << 20));

    juce::MemoryBlock blob;
    {
        juce::MemoryOutputStream out (blob, false);
        out.writeInt (0x21324356);
        out.writeInt ((int) size);
        out.write (data, size);
        out.writeByte (0);
    }
    p.setStateInformation (blob.getData(), (int) blob.getSize());

    juce::MemoryBlock saved;
    p.getStateInformation (saved);
    p.setStateInformation (saved.getData(), (int) saved.getSize());

    juce::MidiBuffer midi;
    if (size >= 2)
        midi.addEvent (juce::MidiMessage::controllerEvent (1, data[0] & 0x7f, data[1] & 0x7f), 0);
    p.midiMap.processMidi (midi, p.parameters);

    juce::AudioBuffer<float> buffer (2, 64);
    buffer.clear();
    buffer.setSample (0, 0, 1.0f);
    p.processBlock (buffer, midi);

    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 64; ++i)
            if (! std::isfinite (buffer.getSample (c, i)))
                std::abort();

    for (auto* param : p.getParameters())
        if (! std::isfinite (param->getValue()))
            std::abort();

    return 0;
}
