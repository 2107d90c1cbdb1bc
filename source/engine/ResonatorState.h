#pragma once

// Processing state of one pole's resonator on one channel: a feedback loop through six
// first-order allpass sections. processBlock runs it; the engine set-up builds and clears it.
struct ResonatorState
{
    float freq = 220.0f;              // Hz, copied from the settings at the start of each block
    float feed = 0.9f;                // feedback, copied likewise
    double sampleRate = 44100.0;      // rate the coefficient is computed for
    double allpassStates[6] = {};     // section states, index 0..5
    float lastOut = 0.0f;             // chain output of the previous sample (feedback tap)
    float coefficient = 0.9f;         // section coefficient, recomputed every block
};

// One channel's 20 Hz DC blocker, in double precision.
struct DcBlocker
{
    double previousInput = 0.0;
    double previousOutput = 0.0;
    double coefficient = 0.0;
};
