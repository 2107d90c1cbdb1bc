#include "AtomicFileWrite.h"

#if JUCE_LINUX || JUCE_BSD || JUCE_MAC
 #include <sys/stat.h>
#endif

bool writeFileAtomically (const juce::File& file, const void* data, size_t numBytes)
{
    if (file == juce::File() || file.isDirectory())
        return false;

    // XmlElement::writeTo (File) works the same way but misses a short write (a full disk or a
    // file size limit), after which it would replace the target with a truncated file; the size
    // check below catches that.
   #if JUCE_LINUX || JUCE_BSD || JUCE_MAC
    // The replaced file's permission bits (through a link, those of the file it leads to). A new
    // file gets the stream's usual mode, less the umask, as the framework's writer gives it.
    struct stat replaced {};
    const bool keepMode = ::stat (file.getFullPathName().toRawUTF8(), &replaced) == 0 && S_ISREG (replaced.st_mode);
   #endif

    juce::TemporaryFile temp (file);

    {
        juce::FileOutputStream out (temp.getFile());

        if (! out.openedOk())
            return false;

       #if JUCE_LINUX || JUCE_BSD || JUCE_MAC
        // Before any byte is written, so that what a private file holds is never open to others.
        if (keepMode && ::chmod (temp.getFile().getFullPathName().toRawUTF8(), replaced.st_mode & 0777) != 0)
            return false;
       #endif

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
