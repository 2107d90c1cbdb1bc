#pragma once

#include <juce_core/juce_core.h>

// What readPlainFile found.
enum class PlainFileRead
{
    read,       // a regular file of at most maxBytes (it may be empty): its bytes are in the block
    missing,    // nothing at that path, or a symbolic link that leads to nothing (dangling or looping)
    notPlain,   // a directory, named pipe, device or socket, or a regular file over maxBytes
    unreadable  // something is there but could not be looked at, opened or read (no permission,
                // out of file handles, an input/output error)
};

// Reads a file of at most maxBytes into block, only when it is a regular file: a named pipe or a
// device is never opened for reading in a way that could block, and what stands at the path is
// known from its status before it is opened. The block holds the bytes only when the result is
// PlainFileRead::read.
PlainFileRead readPlainFile (const juce::File& file, juce::int64 maxBytes, juce::MemoryBlock& block);
