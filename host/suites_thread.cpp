// OfxMultiThreadSuiteV1 and OfxMemorySuiteV1: the suites without a handle, which act on
// Host::current().
#include "host.h"
#include "suites.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace ofxhost {

namespace {

#define OFXHOST_INJECT_CURRENT(member)                                                             \
    if (Host* host = Host::current())                                                              \
        if (auto injected = host->injected(member))                                                \
            return *injected;

thread_local unsigned tlThreadIndex = 0;
thread_local bool tlSpawned = false;

// More workers than this only add scheduling noise; the indices are shared out among them.
constexpr unsigned kMaxWorkers = 64;

struct HostMutex {
    static constexpr std::uint32_t kMagic = 0x4d555458; // "MUTX"
    std::uint32_t magic = kMagic;
    std::recursive_mutex mutex;
    std::atomic<std::thread::id> owner{};
    int depth = 0; // only touched by the owner
};

HostMutex* mutexFromHandle(OfxMutexHandle handle) {
    auto* m = reinterpret_cast<HostMutex*>(handle);
    return m != nullptr && m->magic == HostMutex::kMagic ? m : nullptr;
}

void noteMisuse(const char* what) {
    if (Host* host = Host::current())
        host->noteMisuse(what);
}

OfxStatus multiThread(OfxThreadFunctionV1* func, unsigned int nThreads, void* customArg) {
    OFXHOST_INJECT_CURRENT("multiThread");
    if (Host* host = Host::current())
        host->countMultiThread();
    if (func == nullptr)
        return kOfxStatErrBadHandle;
    if (tlSpawned)
        return kOfxStatErrExists;
    if (nThreads == 0)
        return kOfxStatOK;
    OfxPointD scale = Host::threadRenderScale();
    if (nThreads == 1) {
        tlSpawned = true;
        tlThreadIndex = 0;
        func(0, 1, customArg);
        tlSpawned = false;
        return kOfxStatOK;
    }
    // Worker w runs indices w, w + W, w + 2W, ...: with n <= kMaxWorkers every index gets a
    // thread of its own, which is what plug-ins splitting work by index expect.
    unsigned workers = std::min(nThreads, kMaxWorkers);
    auto worker = [&](unsigned first) {
        bool wasSpawned = tlSpawned;
        OfxPointD savedScale = Host::threadRenderScale();
        tlSpawned = true;
        Host::setThreadRenderScale(scale);
        for (unsigned i = first; i < nThreads; i += workers) {
            tlThreadIndex = i;
            func(i, nThreads, customArg);
        }
        tlSpawned = wasSpawned;
        Host::setThreadRenderScale(savedScale);
    };
    std::vector<std::thread> threads;
    unsigned started = 0;
    try {
        for (; started < workers; ++started)
            threads.emplace_back(worker, started);
    } catch (const std::system_error&) {
        // Out of threads: the caller does the share of the workers that did not start.
        for (unsigned w = started; w < workers; ++w)
            worker(w);
    }
    for (std::thread& t : threads)
        t.join();
    return kOfxStatOK;
}

OfxStatus multiThreadNumCPUs(unsigned int* nCPUs) {
    OFXHOST_INJECT_CURRENT("multiThreadNumCPUs");
    if (nCPUs == nullptr)
        return kOfxStatErrBadHandle;
    Host* host = Host::current();
    *nCPUs = host ? host->numCPUs() : 1;
    return kOfxStatOK;
}

OfxStatus multiThreadIndex(unsigned int* threadIndex) {
    OFXHOST_INJECT_CURRENT("multiThreadIndex");
    if (threadIndex == nullptr)
        return kOfxStatErrBadHandle;
    *threadIndex = tlSpawned ? tlThreadIndex : 0;
    return kOfxStatOK;
}

int multiThreadIsSpawnedThread(void) { return tlSpawned ? 1 : 0; }

OfxStatus mutexCreate(OfxMutexHandle* mutex, int lockCount) {
    OFXHOST_INJECT_CURRENT("mutexCreate");
    if (mutex == nullptr)
        return kOfxStatErrBadHandle;
    auto* m = new HostMutex;
    for (int i = 0; i < lockCount; ++i) {
        m->mutex.lock();
        ++m->depth;
    }
    if (m->depth > 0)
        m->owner = std::this_thread::get_id();
    *mutex = reinterpret_cast<OfxMutexHandle>(m);
    return kOfxStatOK;
}

OfxStatus mutexDestroy(const OfxMutexHandle mutex) {
    OFXHOST_INJECT_CURRENT("mutexDestroy");
    HostMutex* m = mutexFromHandle(mutex);
    if (m == nullptr)
        return kOfxStatErrBadHandle;
    if (m->owner.load() != std::thread::id()) {
        if (m->owner.load() != std::this_thread::get_id()) {
            // Destroying a mutex another thread holds is undefined; leak it instead.
            noteMisuse("mutexDestroy of a mutex another thread holds");
            return kOfxStatErrBadHandle;
        }
        noteMisuse("mutexDestroy of a locked mutex");
        while (m->depth-- > 0)
            m->mutex.unlock();
    }
    m->magic = 0;
    delete m;
    return kOfxStatOK;
}

OfxStatus mutexLock(const OfxMutexHandle mutex) {
    OFXHOST_INJECT_CURRENT("mutexLock");
    HostMutex* m = mutexFromHandle(mutex);
    if (m == nullptr)
        return kOfxStatErrBadHandle;
    m->mutex.lock();
    if (m->depth++ == 0)
        m->owner = std::this_thread::get_id();
    return kOfxStatOK;
}

OfxStatus mutexUnLock(const OfxMutexHandle mutex) {
    OFXHOST_INJECT_CURRENT("mutexUnLock");
    HostMutex* m = mutexFromHandle(mutex);
    if (m == nullptr)
        return kOfxStatErrBadHandle;
    if (m->owner.load() != std::this_thread::get_id()) {
        noteMisuse("mutexUnLock by a thread that does not hold the mutex");
        return kOfxStatErrBadHandle;
    }
    if (--m->depth == 0)
        m->owner = std::thread::id();
    m->mutex.unlock();
    return kOfxStatOK;
}

OfxStatus mutexTryLock(const OfxMutexHandle mutex) {
    OFXHOST_INJECT_CURRENT("mutexTryLock");
    HostMutex* m = mutexFromHandle(mutex);
    if (m == nullptr)
        return kOfxStatErrBadHandle;
    if (!m->mutex.try_lock())
        return kOfxStatFailed;
    if (m->depth++ == 0)
        m->owner = std::this_thread::get_id();
    return kOfxStatOK;
}

OfxStatus memoryAlloc(void* handle, size_t nBytes, void** allocatedData) {
    Effect* effect = Effect::fromHandle(handle);
    Host* host = effect ? &effect->host() : Host::current();
    if (host != nullptr)
        if (auto injected = host->injected("memoryAlloc"))
            return *injected;
    if (allocatedData == nullptr)
        return kOfxStatErrBadHandle;
    void* block = std::malloc(nBytes == 0 ? 1 : nBytes);
    if (block == nullptr)
        return kOfxStatErrMemory;
    if (host != nullptr)
        host->trackBlock(block);
    *allocatedData = block;
    return kOfxStatOK;
}

OfxStatus memoryFree(void* allocatedData) {
    OFXHOST_INJECT_CURRENT("memoryFree");
    Host* host = Host::current();
    // Only blocks the host handed out may be freed; anything else would corrupt the heap.
    if (host != nullptr && !host->untrackBlock(allocatedData)) {
        host->noteMisuse("memoryFree of a block the memory suite did not allocate");
        return kOfxStatErrBadHandle;
    }
    std::free(allocatedData);
    return kOfxStatOK;
}

const OfxMultiThreadSuiteV1 kMultiThreadSuite = {
    multiThread,  multiThreadNumCPUs, multiThreadIndex, multiThreadIsSpawnedThread,
    mutexCreate,  mutexDestroy,       mutexLock,        mutexUnLock,
    mutexTryLock,
};

const OfxMemorySuiteV1 kMemorySuite = {memoryAlloc, memoryFree};

} // namespace

const OfxMultiThreadSuiteV1* multiThreadSuite() { return &kMultiThreadSuite; }
const OfxMemorySuiteV1* memorySuite() { return &kMemorySuite; }

} // namespace ofxhost
