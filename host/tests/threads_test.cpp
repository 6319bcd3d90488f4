// The multi-thread suite: real threads, per-thread indices, and the nesting rule.
#include "host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

namespace {

using ofxhost::Host;

struct Seen {
    const OfxMultiThreadSuiteV1* mt;
    std::mutex mutex;
    std::set<unsigned> indices;
    std::set<std::thread::id> threads;
    std::atomic<int> wrongIndex{0};
    std::atomic<int> notSpawned{0};
    std::atomic<int> nestedStatus{kOfxStatOK};
};

void record(unsigned int index, unsigned int max, void* arg) {
    auto* seen = static_cast<Seen*>(arg);
    unsigned reported = 99;
    seen->mt->multiThreadIndex(&reported);
    if (reported != index || index >= max)
        ++seen->wrongIndex;
    if (!seen->mt->multiThreadIsSpawnedThread())
        ++seen->notSpawned;
    if (index == 0)
        seen->nestedStatus = seen->mt->multiThread(record, 2, arg);
    std::lock_guard<std::mutex> lock(seen->mutex);
    seen->indices.insert(index);
    seen->threads.insert(std::this_thread::get_id());
}

TEST(MultiThreadSuite, RunsEveryIndexOnSpawnedThreadsAndRefusesNesting) {
    Host host;
    Seen seen;
    seen.mt = static_cast<const OfxMultiThreadSuiteV1*>(host.fetchSuite(kOfxMultiThreadSuite, 1));
    ASSERT_EQ(seen.mt->multiThread(record, 4, &seen), kOfxStatOK);
    EXPECT_EQ(seen.indices, (std::set<unsigned>{0, 1, 2, 3}));
    EXPECT_EQ(seen.threads.size(), 4u); // one thread per index
    EXPECT_EQ(seen.threads.count(std::this_thread::get_id()), 0u);
    EXPECT_EQ(seen.wrongIndex, 0);
    EXPECT_EQ(seen.notSpawned, 0);
    EXPECT_EQ(seen.nestedStatus, kOfxStatErrExists);
    EXPECT_EQ(seen.mt->multiThreadIsSpawnedThread(), 0);

    unsigned cpus = 0;
    host.setNumCPUs(7);
    ASSERT_EQ(seen.mt->multiThreadNumCPUs(&cpus), kOfxStatOK);
    EXPECT_EQ(cpus, 7u);
    host.faults().failFunction("multiThreadNumCPUs", kOfxStatFailed);
    EXPECT_EQ(seen.mt->multiThreadNumCPUs(&cpus), kOfxStatFailed);
}

TEST(MultiThreadSuite, MutexesCountRecursiveLocksAndRefuseForeignUnlocks) {
    Host host;
    auto* mt = static_cast<const OfxMultiThreadSuiteV1*>(host.fetchSuite(kOfxMultiThreadSuite, 1));
    OfxMutexHandle m = nullptr;
    ASSERT_EQ(mt->mutexCreate(&m, 0), kOfxStatOK);
    ASSERT_EQ(mt->mutexLock(m), kOfxStatOK);
    ASSERT_EQ(mt->mutexTryLock(m), kOfxStatOK); // recursive
    OfxStatus fromOther = kOfxStatOK;
    OfxStatus tryOther = kOfxStatOK;
    std::thread([&] {
        fromOther = mt->mutexUnLock(m);
        tryOther = mt->mutexTryLock(m);
    }).join();
    EXPECT_EQ(fromOther, kOfxStatErrBadHandle);
    EXPECT_EQ(tryOther, kOfxStatFailed);
    EXPECT_EQ(mt->mutexUnLock(m), kOfxStatOK);
    EXPECT_EQ(mt->mutexUnLock(m), kOfxStatOK);
    EXPECT_EQ(mt->mutexUnLock(m), kOfxStatErrBadHandle); // no longer held
    EXPECT_EQ(mt->mutexDestroy(m), kOfxStatOK);
    EXPECT_EQ(host.misuse().size(), 2u);
}

} // namespace
