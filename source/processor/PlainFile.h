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

// Which object of the file system a status was taken of: its device and inode number. Two
// identities are equal only when both are known and name the same object; an unknown identity
// (nothing there, or a system that has no inode numbers) equals none.
struct PlainFileIdentity
{
    juce::uint64 device = 0, inode = 0;
    bool known = false;

    bool operator== (const PlainFileIdentity& other) const noexcept
    {
        return known && other.known && device == other.device && inode == other.inode;
    }

    bool operator!= (const PlainFileIdentity& other) const noexcept { return ! operator== (other); }
};

// Reads a file of at most maxBytes into block, only when it is a regular file: a named pipe or a
// device is never opened for reading in a way that could block, and what stands at the path is
// known from its status before it is opened. The block holds the bytes only when the result is
// PlainFileRead::read. When identity is given, it is set to the object that was read (read), or
// whose status showed it was not plain (notPlain); it is unknown for the other results.
PlainFileRead readPlainFile (const juce::File& file, juce::int64 maxBytes, juce::MemoryBlock& block,
                             PlainFileIdentity* identity = nullptr);

// The object that the path names now, found as readPlainFile finds it (a symbolic link is
// followed); unknown when nothing is there or its status cannot be taken.
PlainFileIdentity plainFileIdentityAt (const juce::File& file);
