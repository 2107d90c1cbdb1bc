// Proves that the audio path neither allocates, frees nor locks: this file replaces every form of
// the global operator new and delete of the unit-test binary, and counts malloc, free and
// pthread_mutex_lock, each for calls made on a thread while counting is on. A sanitizer owns
// malloc itself, so under AddressSanitizer its allocator hooks do the malloc counting.
#include <gtest/gtest.h>

#include "support/EngineTestSupport.h"

#include <atomic>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <new>
#include <pthread.h>
#include <thread>

#define QUORIL_ASAN 0
#define QUORIL_OTHER_SANITIZER 0
#if defined(__has_feature)
 #if __has_feature(address_sanitizer)
  #undef QUORIL_ASAN
  #define QUORIL_ASAN 1
 #endif
 #if __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
  #undef QUORIL_OTHER_SANITIZER
  #define QUORIL_OTHER_SANITIZER 1
 #endif
#endif
#if defined(__SANITIZE_ADDRESS__)
 #undef QUORIL_ASAN
 #define QUORIL_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__)
 #undef QUORIL_OTHER_SANITIZER
 #define QUORIL_OTHER_SANITIZER 1
#endif

#if QUORIL_ASAN
 #include <sanitizer/allocator_interface.h>
#endif

// Whether malloc and free are counted (by wrapping glibc's or through AddressSanitizer's hooks),
// and whether locks are: ThreadSanitizer and MemorySanitizer must keep these functions to themselves.
#define QUORIL_COUNT_MALLOC (! QUORIL_OTHER_SANITIZER)
#define QUORIL_COUNT_LOCKS (! QUORIL_OTHER_SANITIZER)

namespace
{
thread_local bool countingOnThisThread = false;
std::atomic<long> allocations { 0 }, releases { 0 }, locks { 0 }, reentries { 0 };

// A lock the host already holds on the audio thread around each block (the processor's callback
// lock): taking it again there never waits, so it is counted apart.
std::atomic<void*> heldByTheHost { nullptr };

// The framework's locks around a parameter's listeners and the processor's, through which every
// parameter change reaches the host; counted apart, and found as the locks that such a change takes.
constexpr int maxListenerLocks = 4;
std::atomic<void*> parameterListenerLock[maxListenerLocks] {};
std::atomic<bool> findingListenerLocks { false };
std::atomic<long> parameterListenerLocks { 0 };

bool isParameterListenerLock (void* mutex) noexcept
{
    if (findingListenerLocks)
    {
        for (auto& slot : parameterListenerLock)
        {
            void* expected = nullptr;
            if (slot.load() == mutex || slot.compare_exchange_strong (expected, mutex))
                return true;
        }
        return false;
    }

    for (auto& slot : parameterListenerLock)
        if (slot.load() == mutex)
            return true;

    return false;
}

void noteAllocation() noexcept { if (countingOnThisThread) ++allocations; }
void noteRelease (const volatile void* p) noexcept { if (p != nullptr && countingOnThisThread) ++releases; }

struct ScopedCounting
{
    ScopedCounting() { allocations = releases = locks = reentries = 0; countingOnThisThread = true; }
    ~ScopedCounting() { countingOnThisThread = false; }
};

void* tryAllocate (std::size_t size, std::size_t alignment = 0) noexcept
{
    noteAllocation();
    void* p = nullptr;
    if (alignment == 0)
        return std::malloc (size == 0 ? 1 : size);
    return posix_memalign (&p, std::max (sizeof (void*), alignment), size == 0 ? 1 : size) == 0 ? p : nullptr;
}

void* allocate (std::size_t size, std::size_t alignment = 0)
{
    if (auto* p = tryAllocate (size, alignment))
        return p;
    throw std::bad_alloc();
}

void release (void* p) noexcept { noteRelease (p); std::free (p); }
} // namespace

// Every replaceable form, so that no allocation reaches a default (or a sanitizer's) operator new
// or delete: a block from one family freed through the other is a fault under AddressSanitizer.
void* operator new (std::size_t n) { return allocate (n); }
void* operator new[] (std::size_t n) { return allocate (n); }
void* operator new (std::size_t n, std::align_val_t a) { return allocate (n, (std::size_t) a); }
void* operator new[] (std::size_t n, std::align_val_t a) { return allocate (n, (std::size_t) a); }
void* operator new (std::size_t n, const std::nothrow_t&) noexcept { return tryAllocate (n); }
void* operator new[] (std::size_t n, const std::nothrow_t&) noexcept { return tryAllocate (n); }
void* operator new (std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return tryAllocate (n, (std::size_t) a); }
void* operator new[] (std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return tryAllocate (n, (std::size_t) a); }

void operator delete (void* p) noexcept { release (p); }
void operator delete[] (void* p) noexcept { release (p); }
void operator delete (void* p, std::size_t) noexcept { release (p); }
void operator delete[] (void* p, std::size_t) noexcept { release (p); }
void operator delete (void* p, std::align_val_t) noexcept { release (p); }
void operator delete[] (void* p, std::align_val_t) noexcept { release (p); }
void operator delete (void* p, std::size_t, std::align_val_t) noexcept { release (p); }
void operator delete[] (void* p, std::size_t, std::align_val_t) noexcept { release (p); }
void operator delete (void* p, const std::nothrow_t&) noexcept { release (p); }
void operator delete[] (void* p, const std::nothrow_t&) noexcept { release (p); }
void operator delete (void* p, std::align_val_t, const std::nothrow_t&) noexcept { release (p); }
void operator delete[] (void* p, std::align_val_t, const std::nothrow_t&) noexcept { release (p); }

#if QUORIL_ASAN
// JUCE's buffers allocate through malloc; the sanitizer reports each allocation and release.
namespace
{
void onMalloc (const volatile void*, std::size_t) { noteAllocation(); }
void onFree (const volatile void* p) { noteRelease (p); }
const int hooksInstalled = __sanitizer_install_malloc_and_free_hooks (onMalloc, onFree);
} // namespace
#elif QUORIL_COUNT_MALLOC
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
}
#endif

#if QUORIL_COUNT_LOCKS
// Takes the place of glibc's (and, under AddressSanitizer, of its interceptor, which only passes
// the call on).
extern "C"
{
using MutexLock = int (*) (pthread_mutex_t*);
static MutexLock realMutexLock()
{
    static MutexLock lock = reinterpret_cast<MutexLock> (dlsym (RTLD_NEXT, "pthread_mutex_lock"));
    return lock;
}

int pthread_mutex_lock (pthread_mutex_t* mutex)
{
    if (countingOnThisThread)
    {
        ++(mutex == heldByTheHost.load() ? reentries : isParameterListenerLock (mutex) ? parameterListenerLocks : locks);
    }
    return realMutexLock() (mutex);
}
}

namespace { const bool mutexLockResolved = realMutexLock() != nullptr; } // before any test runs
#endif

TEST (RealtimeSafety, ProcessBlockNeitherAllocatesNorFreesNorLocks)
{
    {
        // The counters see what they are meant to see.
        ScopedCounting counting;
        int* volatile single = new int (3);   // volatile: the compiler may not drop the pair
        delete single;
        float* volatile array = new float[3];
        delete[] array;
        juce::HeapBlock<float> block (100);
        EXPECT_GE (allocations.load(), QUORIL_COUNT_MALLOC ? 3 : 2);
        EXPECT_GE (releases.load(), 2);
       #if QUORIL_COUNT_LOCKS
        std::mutex m;
        m.lock();
        m.unlock();
        EXPECT_GE (locks.load(), 1);
       #endif
    }

    QuorilAudioProcessor p;
    juce::Random random (99), noise (1);
    enginetest::applyGeneratedSettings (p, random);
    p.prepareToPlay (48000.0, 512);
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;

    auto run = [&] (int blocks, int size)
    {
        juce::AudioBuffer<float> block (buffer.getArrayOfWritePointers(), 2, size);
        for (int b = 0; b < blocks; ++b)
        {
            enginetest::fillSignal (buffer, b * size, noise);
            ScopedCounting counting;
            p.processBlock (block, midi);
            ASSERT_EQ (allocations.load() + releases.load() + locks.load(), 0) << "block " << b << " of " << size;
        }
    };

    run (8, 512);
    // Redraws, trajectory, links, parameter jumps, odd sizes, and settings the engine must guard.
    enginetest::applyGeneratedSettings (p, random, 64);
    for (auto* id : { "trajectory", "stereo_link_a", "stereo_link_d" })
        enginetest::setParameter (p, id, 1.0f);
    enginetest::setParameter (p, "x_pos", 0.1f);
    enginetest::setParameter (p, "dry_wet", 0.9f);
    run (8, 512);
    run (5, 37);
    run (2, 0);
    p.granulizerSettings[2][1].envelope = 0;
    p.granulizerSettings[2][1].size = std::numeric_limits<float>::quiet_NaN();
    p.resonatorSettings[0][0].freq = std::numeric_limits<float>::infinity();
    p.diffuserSettings[1].feed = 5.0f;
    run (8, 512);

   #if QUORIL_COUNT_LOCKS
    // A bound controller moving in every block: the parameter's change takes the listener locks
    // of one such change (the host's output change), and noting the move for the host takes nothing.
    p.midiMap.lastCC = 7;
    p.midiMap.assignToLastCC ("x_pos");
    auto& xPos = *p.parameters.getParameter ("x_pos");
    long locksOfOneChange = 0;
    {
        ScopedCounting counting;
        findingListenerLocks = true;
        parameterListenerLocks = 0;
        xPos.setValueNotifyingHost (0.5f);
        findingListenerLocks = false;
        locksOfOneChange = parameterListenerLocks.load();
        ASSERT_GE (locksOfOneChange, 1);
        ASSERT_EQ (locks.load(), 0);
    }
    for (int b = 0; b < 8; ++b)
    {
        midi = enginetest::controllers ({ { 1, 7, b * 16 } });
        parameterListenerLocks = 0;
        run (1, 512);
        EXPECT_EQ (parameterListenerLocks.load(), locksOfOneChange) << b;
    }
    EXPECT_EQ (p.midiMap.sendHostEdits (p.getParameters()), 1);
    for (auto& slot : parameterListenerLock)
        slot = nullptr;
   #endif
}

// A program change without a window is loaded on the audio thread, where the host holds the
// callback lock. Its slot file is read there by design; everything around that read (re-entering
// the lock, looking up the slot) neither allocates nor takes another lock.
TEST (RealtimeSafety, ProgramChangeBlocksTakeOnlyTheHostsLockAgain)
{
    QuorilAudioProcessor p;
    p.prepareToPlay (48000.0, 256);
    juce::AudioBuffer<float> buffer (2, 256);
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::programChange (1, 100), 0); // a slot with no file
    // JUCE's CriticalSection is a bare pthread mutex on this platform.
    static_assert (sizeof (juce::CriticalSection) == sizeof (pthread_mutex_t));
    heldByTheHost = (void*) &p.getCallbackLock();

    const juce::ScopedLock hostLock (p.getCallbackLock());
    for (int b = 0; b < 4; ++b)
    {
        ScopedCounting counting;
        p.processBlock (buffer, midi);
        ASSERT_EQ (allocations.load() + releases.load() + locks.load(), 0) << "block " << b;
       #if QUORIL_COUNT_LOCKS
        EXPECT_EQ (reentries.load(), 2) << "suspended and resumed around the slot";
       #endif
    }

    heldByTheHost = nullptr;
}

// Hosts select and read the program on any thread, Ardour on its audio thread: with slots to
// select, both are a few atomic operations.
TEST (RealtimeSafety, SelectingAndReadingTheProgramNeitherAllocatesNorLocks)
{
    const auto folder = juce::File (presetsFolderPath()).getChildFile ("MIDI");
    for (auto* name : { "a.qpst", "b.qpst", "c.qpst" })
        ASSERT_TRUE (folder.createDirectory() && folder.getChildFile (name).replaceWithText ("<Quoril/>"));
    QuorilAudioProcessor p;
    folder.deleteRecursively();

    ScopedCounting counting;
    for (int program : { 2, 5, -1, 1 })
        p.setCurrentProgram (program);
    const bool selected = p.getCurrentProgram() == 1;
    EXPECT_EQ (allocations.load() + releases.load() + locks.load(), 0);
    EXPECT_TRUE (selected);
}
