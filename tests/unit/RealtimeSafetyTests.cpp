// Proves that the audio path neither allocates, frees nor locks: this file replaces the global
// operator new and delete of the unit-test binary (and, outside sanitizer builds, malloc and
// pthread_mutex_lock) with versions that count calls made on a thread while it has counting
// switched on. Everywhere else they cost one thread-local test.

#include <gtest/gtest.h>

#include "support/EngineTestSupport.h"

#include <atomic>
#include <mutex>
#include <cstdlib>
#include <dlfcn.h>
#include <new>
#include <pthread.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
 #define QUORIL_COUNT_MALLOC 0
#else
 #define QUORIL_COUNT_MALLOC 1
#endif

namespace
{
thread_local bool countingOnThisThread = false;
std::atomic<long> allocationCount { 0 };
std::atomic<long> releaseCount { 0 };
std::atomic<long> lockCount { 0 };

inline void noteAllocation() noexcept
{
    if (countingOnThisThread)
        allocationCount.fetch_add (1, std::memory_order_relaxed);
}

inline void noteRelease (void* p) noexcept
{
    if (p != nullptr && countingOnThisThread)
        releaseCount.fetch_add (1, std::memory_order_relaxed);
}

struct ScopedCounting
{
    ScopedCounting()
    {
        allocationCount = releaseCount = lockCount = 0;
        countingOnThisThread = true;
    }

    ~ScopedCounting() { countingOnThisThread = false; }
};

void* allocateOrThrow (std::size_t size)
{
    noteAllocation();
    if (void* p = std::malloc (size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void* allocateAligned (std::size_t size, std::align_val_t alignment) noexcept
{
    noteAllocation();
    void* p = nullptr;
    const auto align = std::max (sizeof (void*), (std::size_t) alignment);
    return posix_memalign (&p, align, size == 0 ? 1 : size) == 0 ? p : nullptr;
}
} // namespace

//==============================================================================
void* operator new (std::size_t size) { return allocateOrThrow (size); }
void* operator new[] (std::size_t size) { return allocateOrThrow (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept { noteAllocation(); return std::malloc (size == 0 ? 1 : size); }
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept { noteAllocation(); return std::malloc (size == 0 ? 1 : size); }

void* operator new (std::size_t size, std::align_val_t a)
{
    if (void* p = allocateAligned (size, a))
        return p;
    throw std::bad_alloc();
}

void* operator new[] (std::size_t size, std::align_val_t a)
{
    if (void* p = allocateAligned (size, a))
        return p;
    throw std::bad_alloc();
}

void* operator new (std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept { return allocateAligned (size, a); }
void* operator new[] (std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept { return allocateAligned (size, a); }

void operator delete (void* p) noexcept { noteRelease (p); std::free (p); }
void operator delete[] (void* p) noexcept { noteRelease (p); std::free (p); }
void operator delete (void* p, std::size_t) noexcept { noteRelease (p); std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept { noteRelease (p); std::free (p); }
void operator delete (void* p, const std::nothrow_t&) noexcept { noteRelease (p); std::free (p); }
void operator delete[] (void* p, const std::nothrow_t&) noexcept { noteRelease (p); std::free (p); }
void operator delete (void* p, std::align_val_t) noexcept { noteRelease (p); std::free (p); }
void operator delete[] (void* p, std::align_val_t) noexcept { noteRelease (p); std::free (p); }
void operator delete (void* p, std::size_t, std::align_val_t) noexcept { noteRelease (p); std::free (p); }
void operator delete[] (void* p, std::size_t, std::align_val_t) noexcept { noteRelease (p); std::free (p); }
void operator delete (void* p, std::align_val_t, const std::nothrow_t&) noexcept { noteRelease (p); std::free (p); }
void operator delete[] (void* p, std::align_val_t, const std::nothrow_t&) noexcept { noteRelease (p); std::free (p); }

#if QUORIL_COUNT_MALLOC
// JUCE's buffers allocate through malloc; glibc's own entry points do the work.
extern "C"
{
void* __libc_malloc (std::size_t);
void* __libc_calloc (std::size_t, std::size_t);
void* __libc_realloc (void*, std::size_t);
void __libc_free (void*);

void* malloc (std::size_t size) { noteAllocation(); return __libc_malloc (size); }
void* calloc (std::size_t n, std::size_t size) { noteAllocation(); return __libc_calloc (n, size); }
void* realloc (void* p, std::size_t size) { noteAllocation(); return __libc_realloc (p, size); }
void free (void* p) { noteRelease (p); __libc_free (p); }

using MutexLock = int (*) (pthread_mutex_t*);

static MutexLock realMutexLock()
{
    static MutexLock lock = reinterpret_cast<MutexLock> (dlsym (RTLD_NEXT, "pthread_mutex_lock"));
    return lock;
}

int pthread_mutex_lock (pthread_mutex_t* mutex)
{
    if (countingOnThisThread)
        lockCount.fetch_add (1, std::memory_order_relaxed);

    return realMutexLock() (mutex);
}
}

namespace
{
// Resolve the real lock before any test runs.
const bool mutexLockResolved = realMutexLock() != nullptr;
} // namespace
#endif

//==============================================================================
TEST (RealtimeSafety, TheCountersSeeAllocationsAndLocks)
{
    {
        ScopedCounting counting;
        auto* p = new int (3);
        delete p;
        juce::HeapBlock<float> block (100);
        EXPECT_GE (allocationCount.load(), QUORIL_COUNT_MALLOC ? 2 : 1);
        EXPECT_GE (releaseCount.load(), 1);
       #if QUORIL_COUNT_MALLOC
        std::mutex m;
        m.lock();
        m.unlock();
        juce::CriticalSection cs;
        cs.enter();
        cs.exit();
        EXPECT_GE (lockCount.load(), 2);
       #endif
    }

    ScopedCounting counting;
    EXPECT_EQ (allocationCount.load(), 0);
}

TEST (RealtimeSafety, ProcessBlockNeitherAllocatesNorFreesNorLocks)
{
    QuorilAudioProcessor p;
    juce::Random random (99);
    enginetest::applyGeneratedSettings (p, random);
    p.prepareToPlay (48000.0, 512);

    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    juce::Random noise (1);

    auto run = [&] (int blocks, int size)
    {
        juce::AudioBuffer<float> block (buffer.getArrayOfWritePointers(), 2, size);
        for (int b = 0; b < blocks; ++b)
        {
            enginetest::fillSignal (buffer, b * size, noise);
            ScopedCounting counting;
            p.processBlock (block, midi);
            ASSERT_EQ (allocationCount.load(), 0) << "allocated in block " << b;
            ASSERT_EQ (releaseCount.load(), 0) << "freed in block " << b;
            ASSERT_EQ (lockCount.load(), 0) << "locked in block " << b;
        }
    };

    run (8, 512);

    // Redraws, trajectory, links, parameter jumps, envelope and density changes, odd sizes.
    enginetest::applyGeneratedSettings (p, random, 64);
    for (auto* id : { "trajectory", "stereo_link_a", "stereo_link_d" })
        enginetest::setParameter (p, id, 1.0f);
    enginetest::setParameter (p, "x_pos", 0.1f);
    enginetest::setParameter (p, "dry_wet", 0.9f);
    enginetest::setParameter (p, "in_gain", -20.0f);
    run (8, 512);
    run (5, 37);
    run (2, 0);
    p.granulizerSettings[2][1].envelope = 0;
    p.granulizerSettings[2][1].size = std::numeric_limits<float>::quiet_NaN();
    p.resonatorSettings[0][0].freq = std::numeric_limits<float>::infinity();
    p.diffuserSettings[1].feed = 5.0f;
    run (8, 512);
}
