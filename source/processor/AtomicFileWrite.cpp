#include "AtomicFileWrite.h"

bool writeFileAtomically (const juce::File& file, const void* data, size_t numBytes)
{
    if (file == juce::File() || file.isDirectory())
        return false;

    // XmlElement::writeTo (File) works the same way but misses a short write (a full disk or a
    // file size limit), after which it would replace the target with a truncated file; the size
    // check below catches that.
    juce::TemporaryFile temp (file);

    {
        juce::FileOutputStream out (temp.getFile());

        if (! out.openedOk())
            return false;

        if (! out.write (data, numBytes))
            return false;

        out.flush();

        if (out.getStatus().failed())
            return false;
    }

    if (temp.getFile().getSize() != (juce::int64) numBytes)
        return false;

    return temp.overwriteTargetFileWithTemporary();
}
