// The allocator and the mutex lock, interposed: calls made while a sound
// card's audio thread is inside the device layer (platform::InAudioCallback)
// are counted, and the process fails at its end if there were any. Linked
// with the layer's own tests, so that every one of them checks this too, and
// with a few seconds of streaming through the system card when a sound
// server is there.
#include "platform/AudioCallback.h"
#include "tests/harness/SoundServer.h"
#include "tests/platform/WaveAudioHarness.h"

#include <dlfcn.h>
#include <pthread.h>

#include <cstdlib>

namespace {

std::atomic<unsigned> allocatorCalls{0};
std::atomic<unsigned> mutexLocks{0};

void countAllocatorCall() {
    if (platform::InAudioCallback)
        allocatorCalls.fetch_add(1, std::memory_order_relaxed);
}

using MutexLock = int (*)(pthread_mutex_t*);
std::atomic<MutexLock> realMutexLock{nullptr};

} // namespace

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* memory, std::size_t size);
void __libc_free(void* memory);

void* malloc(std::size_t size) noexcept {
    countAllocatorCall();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
    countAllocatorCall();
    return __libc_calloc(count, size);
}
void* realloc(void* memory, std::size_t size) noexcept {
    countAllocatorCall();
    return __libc_realloc(memory, size);
}
void free(void* memory) noexcept {
    if (memory)
        countAllocatorCall();
    __libc_free(memory);
}

int pthread_mutex_lock(pthread_mutex_t* mutex) noexcept {
    if (platform::InAudioCallback)
        mutexLocks.fetch_add(1, std::memory_order_relaxed);
    MutexLock lock = realMutexLock.load(std::memory_order_acquire);
    if (!lock) {
        lock = reinterpret_cast<MutexLock>(::dlsym(RTLD_NEXT, "pthread_mutex_lock"));
        realMutexLock.store(lock, std::memory_order_release);
    }
    return lock(mutex);
}
}

namespace {

class NothingInTheCallbacks : public ::testing::Environment {
  public:
    void TearDown() override {
        EXPECT_EQ(allocatorCalls.load(), 0u) << "allocator calls inside the audio callbacks";
        EXPECT_EQ(mutexLocks.load(), 0u) << "mutex locks inside the audio callbacks";
    }
};
[[maybe_unused]] ::testing::Environment* const check =
    ::testing::AddGlobalTestEnvironment(new NothingInTheCallbacks);

// Without this, a count of 0 could mean that nothing was interposed.
TEST(AudioCallbackCounts, SeeWhatHappensUnderTheMark) {
    const unsigned allocations = allocatorCalls.load(), locks = mutexLocks.load();
    {
        const platform::AudioCallbackScope mark;
        void* volatile memory = std::malloc(16);
        std::free(memory);
        std::mutex mutex;
        mutex.lock();
        mutex.unlock();
    }
    EXPECT_EQ(allocatorCalls.load() - allocations, 2u);
    EXPECT_EQ(mutexLocks.load() - locks, 1u);
    allocatorCalls = allocations; // not the callbacks' doing
    mutexLocks = locks;
}

// Each test file's fixtures have names of their own (see WaveAudioHarness.h).
class SystemCardTest : public StreamingTest {};

TEST_F(SystemCardTest, StreamsWithoutAllocatingOrLockingInItsCallbacks) {
    REQUIRE_SOUND_SERVER(soundServerReachable(), NoSoundServer);
    const SoundServerTurn turn;
    platform::UseSoundCard(platform::SystemSoundCard(), platform::AudioBackend::System);
    startStreaming();
    const auto heard = waitForRecordings(0, 32); // 32 buffers of 4096 frames: 3 s
    EXPECT_GE(recordings(heard), 32u);
    shutDown();
}

} // namespace
