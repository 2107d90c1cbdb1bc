#pragma once

#include <juce_core/juce_core.h>

#include <cstddef>

// Writes data as the whole content of file without ever leaving a part-written file behind: the
// bytes go to a temporary sibling that replaces file (or a symbolic link standing in its place)
// only once all of them are on disk. The new file keeps the permission bits of the one it replaces;
// a new one gets the usual mode for the umask. On failure file is as it was. False when nothing was written:
// an empty File, a directory in file's place, or the temporary could not be opened, written in
// full or moved into place.
bool writeFileAtomically (const juce::File& file, const void* data, size_t numBytes);
