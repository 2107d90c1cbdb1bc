// The granulizer's block processing with eight grains per group, for processors with AVX2: the
// lane path of GranulizerLanes.h on eight lanes, and a group-by-group path for chunks whose
// groups are all whole and inside the ring. Every value is computed with the same operations in
// the same order as in the four-lane path, so both give the same results. Only this file is
// compiled for AVX2, and the processing dispatches to it after checking the processor.

#include "Granulizer.h"
#include "EngineMath.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <immintrin.h>

#include "Avx2Begin.h"

#include "Lanes8.h"
#include "GranulizerLanes.h"
#include "GranulizerGroups.h"

void Granulizer::processChunkWide (const float* input, float* output, int numSamples, int length) noexcept
{
    // Whole groups of eight with no skipped grain go group by group with their state in
    // registers; anything else goes sample by sample below.
    {
        const int count = activeGrainCount();
        bool groupWise = count % 8 == 0;

        // The chunk's history needs a ring longer than the chunk.
        groupWise = groupWise && length > chunkSize;

        for (int k = 0; k < count && groupWise; ++k)
            groupWise = (juce::int64) grains[k].start + std::max (1, grains[k].length) < length;

        if (groupWise)
        {
            processChunkByGroups (input, output, numSamples, length);
            return;
        }
    }

    prepareWindow();
    processChunkInLanes<Lanes8> (*this, input, output, numSamples, length);
}

void Granulizer::processChunkByGroups (const float* input, float* output, int numSamples, int length) noexcept
{
    prepareWindow();
    processChunkInGroups<Lanes8, chunkSize> (*this, input, output, numSamples, length);
}

#include "Avx2End.h"
