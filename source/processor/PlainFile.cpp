#include "PlainFile.h"

#if JUCE_LINUX || JUCE_BSD || JUCE_MAC
 #include <cerrno>
 #include <fcntl.h>
 #include <sys/stat.h>
 #include <unistd.h>
#endif

#if JUCE_LINUX || JUCE_BSD || JUCE_MAC
namespace
{
PlainFileIdentity identityOf (const struct stat& info)
{
    return { (juce::uint64) info.st_dev, (juce::uint64) info.st_ino, true };
}
} // namespace
#endif

PlainFileIdentity plainFileIdentityAt (const juce::File& file)
{
   #if JUCE_LINUX || JUCE_BSD || JUCE_MAC
    struct stat info;

    if (file != juce::File() && ::stat (file.getFullPathName().toRawUTF8(), &info) == 0)
        return identityOf (info);
   #else
    juce::ignoreUnused (file);
   #endif

    return {};
}

PlainFileRead readPlainFile (const juce::File& file, juce::int64 maxBytes, juce::MemoryBlock& block,
                             PlainFileIdentity* identity)
{
    PlainFileIdentity unused;
    auto& found = identity != nullptr ? *identity : unused;
    found = {};
    block.reset();
    maxBytes = juce::jmax ((juce::int64) 0, maxBytes);

    if (file == juce::File())
        return PlainFileRead::missing;

   #if JUCE_LINUX || JUCE_BSD || JUCE_MAC
    const auto path = file.getFullPathName();
    struct stat info;

    if (::stat (path.toRawUTF8(), &info) != 0)
    {
        if (errno == ENOENT || errno == ENOTDIR)
            return PlainFileRead::missing;

        // A link that leads round in a circle names no file either.
        if (errno == ELOOP && ::lstat (path.toRawUTF8(), &info) == 0 && S_ISLNK (info.st_mode))
            return PlainFileRead::missing;

        return PlainFileRead::unreadable;
    }

    if (! S_ISREG (info.st_mode) || info.st_size > maxBytes)
    {
        found = identityOf (info);
        return PlainFileRead::notPlain;
    }

    // Opened without blocking, and looked at again: the name may have been given to a pipe since.
    const int fd = ::open (path.toRawUTF8(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);

    if (fd < 0)
        return errno == ENOENT ? PlainFileRead::missing : PlainFileRead::unreadable;

    auto result = PlainFileRead::read;
    size_t total = 0;

    if (::fstat (fd, &info) != 0)
        result = PlainFileRead::unreadable;
    else if (! S_ISREG (info.st_mode) || info.st_size > maxBytes)
        result = PlainFileRead::notPlain;

    // What was opened, which the name may no longer hold by now.
    if (result != PlainFileRead::unreadable)
        found = identityOf (info);

    if (result == PlainFileRead::read)
    {
        block.setSize ((size_t) info.st_size + 1, false);

        for (;;)
        {
            if (total == block.getSize())
            {
                if ((juce::int64) total > maxBytes)
                    break;

                block.setSize ((size_t) maxBytes + 1, false);
            }

            const auto n = ::read (fd, static_cast<char*> (block.getData()) + total, block.getSize() - total);

            if (n < 0 && errno == EINTR)
                continue;

            if (n < 0)
            {
                result = PlainFileRead::unreadable;
                break;
            }

            if (n == 0)
                break;

            total += (size_t) n;
        }
    }

    ::close (fd);

    if (result == PlainFileRead::read && (juce::int64) total > maxBytes)
        result = PlainFileRead::notPlain; // it grew while it was read

    if (result != PlainFileRead::read)
    {
        if (result == PlainFileRead::unreadable)
            found = {};

        block.reset();
        return result;
    }

    block.setSize (total, false);
    return PlainFileRead::read;
   #else
    if (! file.exists())
        return PlainFileRead::missing;

    if (! file.existsAsFile() || file.getSize() > maxBytes)
        return PlainFileRead::notPlain;

    juce::FileInputStream in (file);

    if (in.failedToOpen())
        return PlainFileRead::unreadable;

    const auto bytesRead = in.readIntoMemoryBlock (block, (ssize_t) maxBytes + 1);

    if (in.getStatus().failed())
    {
        block.reset();
        return PlainFileRead::unreadable;
    }

    if ((juce::int64) bytesRead > maxBytes)
    {
        block.reset();
        return PlainFileRead::notPlain;
    }

    return PlainFileRead::read;
   #endif
}
