// What a caller of the exports may rely on beyond the catalogue itself: the
// library starts no thread, no exception leaves it, and no outcome of a load
// leaves it unable to load again.
#include <dlfcn.h>
#include <pthread.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "damaged_volume.h"
#include "tarnwick.h"

// Sanitizers bring their own allocator, thread interceptors and address
// space: the interposers below would fight them, so those builds skip the
// tests that need them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TARNWICK_SANITIZED 1
#else
#define TARNWICK_SANITIZED 0
#endif

namespace {

std::atomic<int> threadsStarted{0};

// Allocations left before one fails; below 0, none fails.
std::atomic<long> allocationsBeforeFailure{-1};

}  // namespace

#if !TARNWICK_SANITIZED
// Every thread of the process starts here, the C++ library's included.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                              void* argument) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    ++threadsStarted;
    return real(thread, attributes, start, argument);
}

// The C++ library's operator delete frees with free(), which matches.
void* operator new(std::size_t bytes) {
    if (allocationsBeforeFailure.load() >= 0 && allocationsBeforeFailure.fetch_sub(1) == 0) throw std::bad_alloc();
    if (void* p = std::malloc(bytes == 0 ? 1 : bytes)) return p;
    throw std::bad_alloc();
}
#endif

namespace tarnwick::e2e {
namespace {

const Volume* Fresh() {
    static const std::optional<Volume> volume = Volume::Formatted(8, 4096);
    return volume ? &*volume : nullptr;
}

class ExportsContract : public ::testing::Test {
protected:
    void SetUp() override {
        if (TARNWICK_SANITIZED) GTEST_SKIP() << "the interposers and memory limits need an unsanitized build";
        volume_ = Fresh();
        if (volume_ == nullptr) GTEST_SKIP() << "mkntfs is not installed";
        ASSERT_EQ(volume_->referenceStatus, 0);
    }
    void TearDown() override { Clear(); }

    // After whatever came before: Clear empties the library and the volume
    // loads as it always does.
    void ExpectRecovered(const std::string& what) const {
        Clear();
        std::size_t count = 0;
        EXPECT_EQ(LoadImage(volume_->path(), count), 0) << what;
        EXPECT_EQ(count, volume_->referenceCount) << what;
        EXPECT_EQ(Clear(), 0) << what;
    }

    const Volume* volume_ = nullptr;
};

TEST_F(ExportsContract, ALoadStartsNoThread) {
    std::thread([] {}).join();
    ASSERT_EQ(threadsStarted.exchange(0), 1) << "every thread is counted";
    std::size_t count = 0;
    ASSERT_EQ(LoadImage(volume_->path(), count), 0);
    EXPECT_EQ(threadsStarted.load(), 0);
}

// Every allocation of a load fails in turn: each load fails with -1 and
// leaves the library able to load after Clear, until one has nothing left
// to fail and loads the whole volume.
TEST_F(ExportsContract, EveryFailedAllocationGivesErrorAndRecovers) {
    // Mapped here: only the load's own allocations may fail.
    constexpr std::uint32_t kDrive = 'Q' - 'A';
    setenv("TARNWICK_DRIVE_Q", volume_->path().c_str(), 1);
    for (long failing = 0;; ++failing) {
        ASSERT_LT(failing, 10000) << "a load of a small volume makes fewer allocations";
        std::size_t count = 0xDEAD;
        allocationsBeforeFailure = failing;
        const std::int32_t status = LoadMft(kDrive, &count);
        const bool failed = allocationsBeforeFailure.exchange(-1) < 0;
        if (!failed) {
            EXPECT_EQ(status, 0);
            EXPECT_EQ(count, volume_->referenceCount);
            break;
        }
        // Where the system's own open cannot get memory, the open fails.
        ASSERT_TRUE(status == -1 || status == -104 || status == -105) << "allocation " << failing << ": " << status;
        EXPECT_EQ(count, 0xDEADu);
        ExpectRecovered("after allocation " + std::to_string(failing) + " failed");
    }
    unsetenv("TARNWICK_DRIVE_Q");
}

// The same when the system runs out: the load runs in a child process whose
// address space ends a little above what it already uses.
TEST_F(ExportsContract, RunningOutOfAddressSpaceGivesErrorAndRecovers) {
    EXPECT_EXIT(
        {
            rlimit previous{};
            getrlimit(RLIMIT_AS, &previous);
            std::size_t pages = 0;
            if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
                if (std::fscanf(statm, "%zu", &pages) != 1) pages = 0;
                std::fclose(statm);
            }
            rlimit tight = previous;
            tight.rlim_cur = pages * 4096 + (std::size_t{4} << 20);
            setrlimit(RLIMIT_AS, &tight);
            std::size_t count = 0;
            const std::int32_t starved = LoadImage(volume_->path(), count);
            setrlimit(RLIMIT_AS, &previous);
            Clear();
            const std::int32_t fed = LoadImage(volume_->path(), count);
            std::exit(starved == -1 && fed == 0 && count == volume_->referenceCount ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// A volume whose every catalogued name is one of several names of a file in
// the same directory, so that the finishing step drops them all: a folder of
// files with three names each (the folder's index root may keep one of
// them), and a root whose buffer no longer reads as one.
TEST_F(ExportsContract, ALoadThatDropsEveryEntryLeavesTheLibraryEmpty) {
    std::string description = "volume size=16M cluster=4096 label=dropped\n";
    for (int i = 0; i < 30; ++i) {
        const std::string name = "twins/a_" + std::to_string(i);
        description += "file " + name + "\nlink " + name + " " + name + "_b\nlink " + name + " " + name + "_c\n";
    }
    description += "check alloc twins\n";
    static const std::optional<Volume> twins = Volume::Built("all-dropped", description);
    if (!twins) GTEST_SKIP() << "the volume builder is not built";
    const Directory* root = nullptr;
    for (const Directory& d : twins->directories()) {
        if (d.position == 5) root = &d;
    }
    ASSERT_TRUE(root != nullptr && !root->buffers.empty());
    Damaged d(*twins);
    for (const IndexBuffer& b : root->buffers) d.Zero(b.offset, 4);

    std::size_t count = 0xDEAD;
    ASSERT_EQ(d.Load(count), -102);
    EXPECT_EQ(count, 0xDEADu);
    EXPECT_EQ(Clear(), -100) << "nothing is left to clear";
    std::size_t again = 0;
    EXPECT_EQ(LoadImage(volume_->path(), again), 0);
    EXPECT_EQ(again, volume_->referenceCount);
}

}  // namespace
}  // namespace tarnwick::e2e
