// Transform engine: FFTW plans cached per length, one reusable work buffer, FFTW wisdom on disk
// and background measuring of better plans.
//
// Why it is built this way (figures from this machine, single thread, FFTW_ESTIMATE): a transform
// of 2^24 samples takes about 0.18 s, but an ESTIMATE plan for it already takes up to ~2 s and an
// FFTW_MEASURE plan minutes, while touching 1 GiB of fresh memory costs ~3 s of page faults.
//  - Plans are cached per (length, alignment); a caller never waits for more than an ESTIMATE
//    plan (or a plan rebuilt from wisdom, which is instant).
//  - A new length is then measured in the background (FFTW_MEASURE under a time limit, on scratch
//    arrays). If that plan executes faster it replaces the cached one, and the wisdom is written
//    to $XDG_CACHE_HOME/tarq/fftw3-wisdom (temporary file + rename) for the next run.
//  - FFTW's planner is not thread-safe, so planning is serialised by one mutex. A foreground
//    caller that needs the planner while a background measurement holds it cuts that measurement
//    short by setting FFTW's time limit to 0 (FFTW re-reads the limit at every solver step), so
//    it waits for at most one solver step, not for the whole measurement. The cut length is
//    measured again later.
//  - Lengths from 2^20 up run on two threads (1.6-1.8x there; slower below).
//  - Work buffer: at most one idle buffer of (n/2 + 1) complex values is kept, the one of the most
//    recent large transform (for 33,554,431 samples 256 MiB). A call of a length that fits it
//    (its size up to twice the need) reuses it without new page faults; a bigger one replaces
//    it. TarqAnalysisReleaseMemory frees it (and the plans). Short transforms (below 256 KiB of
//    bins) use one 256 KiB buffer per thread instead, kept until the thread ends.
#include "analysis_internal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tarq::analysis {
namespace {

constexpr int64_t kThreadedFrom = int64_t{1} << 20;
constexpr size_t kPoolFromBytes = 256 * 1024;
constexpr size_t kMaxCachedPlans = 16;

int HardwareThreads()
{
    static const int n = [] {
        unsigned h = std::thread::hardware_concurrency();
        return h == 0 ? 1 : static_cast<int>(std::min(h, 2u));
    }();
    return n;
}

// ---------------------------------------------------------------------------------------------
// Settings

struct Settings {
    bool useWisdom = true;
    double measureSeconds = 600.0;
};

std::mutex g_settingsMutex;
bool g_settingsLoaded = false;
Settings g_settings;

Settings CurrentSettings()
{
    std::lock_guard lock(g_settingsMutex);
    if (!g_settingsLoaded) {
        g_settingsLoaded = true;
        if (const char *w = std::getenv("TARQ_FFTW_WISDOM"); w && std::strcmp(w, "0") == 0)
            g_settings.useWisdom = false;
        if (const char *m = std::getenv("TARQ_FFTW_MEASURE_SECONDS"); m && *m) {
            char *end = nullptr;
            double v = std::strtod(m, &end);
            if (end && *end == '\0' && v >= 0 && v < 1e6)
                g_settings.measureSeconds = v;
        }
    }
    return g_settings;
}

// ---------------------------------------------------------------------------------------------
// Planner lock, wisdom file

std::mutex g_planner;                 // every FFTW planner call (plan, destroy, wisdom)
std::atomic<int> g_foregroundWaiting{0};
std::atomic<bool> g_measuring{false};
bool g_threadsInitialised = false;    // under g_planner
bool g_wisdomLoaded = false;          // under g_planner

std::string WisdomPath()
{
    std::string dir;
    if (const char *x = std::getenv("XDG_CACHE_HOME"); x && x[0] == '/')
        dir = x;
    else if (const char *h = std::getenv("HOME"); h && h[0] == '/')
        dir = std::string(h) + "/.cache";
    else
        return {};
    return dir + "/tarq/fftw3-wisdom";
}

bool MakeParentDirs(const std::string &file)
{
    for (size_t pos = 1; (pos = file.find('/', pos)) != std::string::npos; ++pos) {
        std::string part = file.substr(0, pos);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

// Complete file or nothing: temporary file in the same directory, then rename.
void WriteWisdomFile(const std::string &text)
{
    std::string path = WisdomPath();
    if (path.empty() || !MakeParentDirs(path))
        return;
    std::string tmp = path + ".XXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0)
        return;
    const char *p = text.data();
    size_t left = text.size();
    bool ok = true;
    while (left > 0) {
        ssize_t w = write(fd, p, left);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        p += w;
        left -= static_cast<size_t>(w);
    }
    ok = (fsync(fd) == 0) && ok;
    ok = (close(fd) == 0) && ok;
    if (!ok || rename(name.data(), path.c_str()) != 0)
        unlink(name.data());
}

// Under g_planner. fftw_init_threads must come before the planner is first used (even by
// fftw_set_timelimit): FFTW builds its Cooley-Tukey solvers with their threaded variants only
// then, and wisdom written by a planner set up the other way round does not load.
void PrepareFftwLocked()
{
    if (!g_threadsInitialised) {
        g_threadsInitialised = true;
        if (HardwareThreads() > 1 && fftw_init_threads() == 0) {
            // Without the threads library every plan simply stays single-threaded.
        }
    }
    if (!g_wisdomLoaded) {
        g_wisdomLoaded = true;
        if (CurrentSettings().useWisdom) {
            std::string path = WisdomPath();
            if (!path.empty()) {
                if (FILE *f = std::fopen(path.c_str(), "rb")) {
                    std::string text;
                    char chunk[65536];
                    size_t got;
                    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0 && text.size() < (64u << 20))
                        text.append(chunk, got);
                    std::fclose(f);
                    // A damaged file is ignored; the next export replaces it.
                    if (!text.empty())
                        fftw_import_wisdom_from_string(text.c_str());
                }
            }
        }
    }
}

int ThreadsFor(int64_t n) { return n >= kThreadedFrom ? HardwareThreads() : 1; }

// Takes the planner for a caller that must not wait for a background measurement.
class ForegroundPlanner {
public:
    ForegroundPlanner()
    {
        g_foregroundWaiting.fetch_add(1);
        if (g_measuring.load())
            fftw_set_timelimit(0.0); // cut the running measurement short (see the file comment)
        lock_ = std::unique_lock(g_planner);
        g_foregroundWaiting.fetch_sub(1);
        PrepareFftwLocked(); // before any other FFTW call, so that the planner gets its threads
        fftw_set_timelimit(FFTW_NO_TIMELIMIT);
    }

private:
    std::unique_lock<std::mutex> lock_;
};

// ---------------------------------------------------------------------------------------------
// Plan cache

struct Plan {
    fftw_plan plan = nullptr;
    bool measured = false;
    ~Plan()
    {
        if (plan) {
            std::lock_guard lock(g_planner);
            fftw_destroy_plan(plan);
        }
    }
};

struct PlanKey {
    int64_t n;
    bool unaligned;
    bool operator<(const PlanKey &o) const { return n != o.n ? n < o.n : unaligned < o.unaligned; }
};

struct CacheEntry {
    std::shared_ptr<Plan> plan;
    uint64_t lastUse = 0;
};

std::mutex g_cacheMutex;
std::map<PlanKey, CacheEntry> g_cache;
uint64_t g_useClock = 0;
// Bumped whenever a cached plan is replaced or dropped: invalidates the per-thread shortcut.
std::atomic<uint64_t> g_cacheGeneration{1};

// Short transforms cost about a microsecond, so the last short plan a thread used is kept by
// that thread as well and found without the cache lock.
constexpr int64_t kThreadLocalPlanBelow = int64_t{1} << 16;
struct LastPlan {
    PlanKey key{0, false};
    uint64_t generation = 0;
    std::shared_ptr<Plan> plan;
};
thread_local LastPlan t_lastPlan;

// Under g_cacheMutex: drops the least recently used entries beyond the limit; the plans
// themselves are destroyed by the caller after it has released the lock.
void TrimCacheLocked(std::vector<std::shared_ptr<Plan>> &dropped)
{
    while (g_cache.size() > kMaxCachedPlans) {
        auto oldest = g_cache.begin();
        for (auto it = g_cache.begin(); it != g_cache.end(); ++it)
            if (it->second.lastUse < oldest->second.lastUse)
                oldest = it;
        dropped.push_back(std::move(oldest->second.plan));
        g_cache.erase(oldest);
        g_cacheGeneration.fetch_add(1);
    }
}

// ---------------------------------------------------------------------------------------------
// Background measuring

std::mutex g_jobMutex;
std::condition_variable g_jobCv;
std::deque<PlanKey> g_jobs;
bool g_workerBusy = false;
bool g_workerStarted = false;
bool g_stopWorker = false;
std::condition_variable g_idleCv;

struct FftwArray {
    void *p = nullptr;
    explicit FftwArray(size_t bytes) : p(fftw_malloc(bytes)) {}
    ~FftwArray() { fftw_free(p); }
    FftwArray(const FftwArray &) = delete;
    FftwArray &operator=(const FftwArray &) = delete;
};

double SecondsOf(fftw_plan p, double *in, fftw_complex *out)
{
    double best = 1e300;
    for (int i = 0; i < 2; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        fftw_execute_dft_r2c(p, in, out);
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        best = std::min(best, s);
    }
    return best;
}

void MeasureOne(const PlanKey &key, double limit)
{
    std::shared_ptr<Plan> current;
    {
        std::lock_guard lock(g_cacheMutex);
        auto it = g_cache.find(key);
        if (it == g_cache.end() || it->second.plan->measured)
            return;
        current = it->second.plan;
    }
    const size_t n = static_cast<size_t>(key.n);
    FftwArray in(n * sizeof(double)), out((n / 2 + 1) * sizeof(fftw_complex));
    if (!in.p || !out.p)
        return;
    auto *inD = static_cast<double *>(in.p);
    auto *outC = static_cast<fftw_complex *>(out.p);

    fftw_plan measured = nullptr;
    bool cut = false;
    std::string wisdom;
    {
        std::unique_lock lock(g_planner);
        PrepareFftwLocked();
        fftw_set_timelimit(limit);
        g_measuring.store(true);
        if (g_foregroundWaiting.load() == 0) {
            auto t0 = std::chrono::steady_clock::now();
            fftw_plan_with_nthreads(ThreadsFor(key.n));
            measured = fftw_plan_dft_r2c_1d(static_cast<int>(key.n), inD, outC,
                                            FFTW_MEASURE | (key.unaligned ? FFTW_UNALIGNED : 0));
            double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            cut = g_foregroundWaiting.load() > 0 && took < 0.9 * limit;
        } else {
            cut = true;
        }
        g_measuring.store(false);
        fftw_set_timelimit(FFTW_NO_TIMELIMIT);
        if (measured && !cut && CurrentSettings().useWisdom) {
            if (char *w = fftw_export_wisdom_to_string()) {
                wisdom = w;
                std::free(w);
            }
        }
    }
    if (cut) {
        if (measured) {
            std::lock_guard lock(g_planner);
            fftw_destroy_plan(measured);
        }
        std::lock_guard lock(g_jobMutex);
        g_jobs.push_back(key); // measured again once the foreground is done
        return;
    }
    if (!wisdom.empty())
        WriteWisdomFile(wisdom);
    if (!measured)
        return;

    for (size_t i = 0; i < n; ++i)
        inD[i] = static_cast<double>((i * 2654435761u) % 1000u) * 1e-3;
    auto fresh = std::make_shared<Plan>();
    fresh->plan = measured;
    fresh->measured = true;
    const double tNew = SecondsOf(measured, inD, outC);
    const double tOld = SecondsOf(current->plan, inD, outC);
    // Plans are destroyed under the planner lock, which must never be taken while the cache
    // lock is held (planning takes them the other way round): the replaced plan leaves the
    // cache here and is destroyed with `current` after the lock is dropped.
    std::lock_guard lock(g_cacheMutex);
    auto it = g_cache.find(key);
    if (it == g_cache.end())
        return; // released meanwhile; `fresh` is destroyed after the lock is dropped
    if (tNew < tOld * 0.97) {
        std::swap(it->second.plan, fresh);
        g_cacheGeneration.fetch_add(1);
    } else {
        it->second.plan->measured = true; // nothing better to be found within the limit
    }
}

void WorkerLoop()
{
    for (;;) {
        PlanKey key{};
        {
            std::unique_lock lock(g_jobMutex);
            g_workerBusy = false;
            g_idleCv.notify_all();
            g_jobCv.wait(lock, [] { return g_stopWorker || !g_jobs.empty(); });
            if (g_stopWorker)
                return;
            key = g_jobs.front();
            g_jobs.pop_front();
            g_workerBusy = true;
        }
        // Give a foreground caller that is planning right now the first go.
        while (g_foregroundWaiting.load() > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const double limit = CurrentSettings().measureSeconds;
        try {
            if (limit > 0)
                MeasureOne(key, limit);
        } catch (...) {
            // Out of memory in the background: the estimated plan simply stays.
        }
    }
}

struct WorkerHolder {
    std::thread thread;
    ~WorkerHolder()
    {
        {
            std::lock_guard lock(g_jobMutex);
            g_stopWorker = true;
            g_jobs.clear();
        }
        g_jobCv.notify_all();
        if (g_measuring.load())
            fftw_set_timelimit(0.0);
        if (thread.joinable())
            thread.join();
    }
};
WorkerHolder g_worker;

void EnqueueMeasurement(const PlanKey &key) noexcept
try {
    if (CurrentSettings().measureSeconds <= 0)
        return;
    std::lock_guard lock(g_jobMutex);
    if (g_stopWorker)
        return;
    if (std::find_if(g_jobs.begin(), g_jobs.end(),
                     [&](const PlanKey &k) { return k.n == key.n && k.unaligned == key.unaligned; }) != g_jobs.end())
        return;
    g_jobs.push_back(key);
    if (!g_workerStarted) {
        g_workerStarted = true;
        try {
            g_worker.thread = std::thread(WorkerLoop);
        } catch (...) {
            g_jobs.clear(); // no thread: plans stay as estimated
            g_workerStarted = false;
            return;
        }
    }
    g_jobCv.notify_one();
} catch (...) {
    // No room for the job: the length keeps its estimated plan.
}

std::shared_ptr<Plan> GetPlan(int64_t n, const double *in, fftw_complex *out)
{
    const PlanKey key{n, fftw_alignment_of(const_cast<double *>(in)) != 0 ||
                             fftw_alignment_of(reinterpret_cast<double *>(out)) != 0};
    const bool shortcut = n < kThreadLocalPlanBelow;
    if (shortcut && t_lastPlan.plan && t_lastPlan.key.n == n && t_lastPlan.key.unaligned == key.unaligned &&
        t_lastPlan.generation == g_cacheGeneration.load())
        return t_lastPlan.plan;
    {
        std::lock_guard lock(g_cacheMutex);
        auto it = g_cache.find(key);
        if (it != g_cache.end()) {
            it->second.lastUse = ++g_useClock;
            if (shortcut)
                t_lastPlan = LastPlan{key, g_cacheGeneration.load(), it->second.plan};
            return it->second.plan;
        }
    }
    auto fresh = std::make_shared<Plan>();
    {
        ForegroundPlanner planner;
        {
            std::lock_guard lock(g_cacheMutex); // planned by another thread meanwhile?
            auto it = g_cache.find(key);
            if (it != g_cache.end()) {
                it->second.lastUse = ++g_useClock;
                return it->second.plan;
            }
        }
        const unsigned align = key.unaligned ? FFTW_UNALIGNED : 0u;
        fftw_plan_with_nthreads(ThreadsFor(n));
        // ESTIMATE and WISDOM_ONLY planning never touch the arrays, so the caller's may be used.
        double *inArg = const_cast<double *>(in);
        fftw_plan p = fftw_plan_dft_r2c_1d(static_cast<int>(n), inArg, out, FFTW_MEASURE | FFTW_WISDOM_ONLY | align);
        if (p) {
            fresh->measured = true;
        } else {
            p = fftw_plan_dft_r2c_1d(static_cast<int>(n), inArg, out, FFTW_ESTIMATE | align);
        }
        if (!p)
            return nullptr;
        fresh->plan = p;
    }
    std::vector<std::shared_ptr<Plan>> dropped;
    std::shared_ptr<Plan> result;
    {
        std::lock_guard lock(g_cacheMutex);
        auto &entry = g_cache[key];
        if (!entry.plan)
            entry.plan = fresh;
        else
            dropped.push_back(fresh);
        entry.lastUse = ++g_useClock;
        result = entry.plan;
        TrimCacheLocked(dropped);
    }
    if (!result->measured)
        EnqueueMeasurement(key);
    return result;
}

// ---------------------------------------------------------------------------------------------
// Work buffer pool: one idle buffer

std::mutex g_poolMutex;
fftw_complex *g_idle = nullptr;
size_t g_idleCapacity = 0;

} // namespace

// Small buffers: one per thread, kept until the thread ends (at most 256 KiB each).
struct SmallBuffer {
    fftw_complex *data = nullptr;
    size_t capacity = 0;
    ~SmallBuffer() { fftw_free(data); }
};
thread_local SmallBuffer t_small;

WorkBuffer::~WorkBuffer()
{
    if (!data_)
        return;
    if (capacity_ * sizeof(fftw_complex) < kPoolFromBytes) {
        if (!t_small.data) {
            t_small.data = data_;
            t_small.capacity = capacity_;
        } else {
            fftw_free(data_);
        }
        return;
    }
    fftw_complex *drop = data_;
    {
        std::lock_guard lock(g_poolMutex);
        // Keep the most recently used buffer: the next call is most likely of the same length.
        std::swap(drop, g_idle);
        g_idleCapacity = capacity_;
    }
    fftw_free(drop);
}

int32_t ForwardTransform(const double *in, int64_t n, WorkBuffer &buf)
try {
    if (n < 2 || n > INT_MAX)
        return TARQ_ANALYSIS_ERR_SIZE;
    const size_t need = static_cast<size_t>(n / 2 + 1);
    if (!buf.data_) {
        fftw_complex *take = nullptr, *drop = nullptr;
        size_t takeCap = 0;
        if (need * sizeof(fftw_complex) < kPoolFromBytes) {
            if (t_small.data && t_small.capacity >= need) {
                take = t_small.data;
                takeCap = t_small.capacity;
                t_small.data = nullptr;
                t_small.capacity = 0;
            } else if (t_small.data) {
                fftw_free(t_small.data); // too small: a bigger one comes back after this call
                t_small.data = nullptr;
                t_small.capacity = 0;
            }
            if (!take) {
                // Room for any short transform, so that the thread's buffer is made only once.
                const size_t cap = kPoolFromBytes / sizeof(fftw_complex) - 1;
                take = static_cast<fftw_complex *>(fftw_malloc(cap * sizeof(fftw_complex)));
                takeCap = cap;
            }
        } else {
            std::lock_guard lock(g_poolMutex);
            if (g_idle && g_idleCapacity >= need && g_idleCapacity <= 2 * need) {
                take = g_idle;
                takeCap = g_idleCapacity;
                g_idle = nullptr;
                g_idleCapacity = 0;
            } else if (g_idle && g_idleCapacity < need) {
                drop = g_idle; // too small to be of use: free it before allocating the new one
                g_idle = nullptr;
                g_idleCapacity = 0;
            }
        }
        fftw_free(drop);
        if (!take) {
            take = static_cast<fftw_complex *>(fftw_malloc(need * sizeof(fftw_complex)));
            takeCap = need;
        }
        if (!take)
            return TARQ_ANALYSIS_ERR_OUT_OF_MEMORY;
        buf.data_ = take;
        buf.capacity_ = takeCap;
    }
    std::shared_ptr<Plan> plan = GetPlan(n, in, buf.data_);
    if (!plan)
        return TARQ_ANALYSIS_ERR_TRANSFORM;
    fftw_execute_dft_r2c(plan->plan, const_cast<double *>(in), buf.data_);
    return TARQ_ANALYSIS_SUCCESS;
} catch (const std::bad_alloc &) {
    return TARQ_ANALYSIS_ERR_OUT_OF_MEMORY; // plan cache entry, wisdom text
} catch (...) {
    return TARQ_ANALYSIS_ERR_TRANSFORM;     // a lock or thread the system refused
}

bool UseSecondThread(int64_t count, int64_t minPerThread)
{
    return HardwareThreads() > 1 && count >= 2 * minPerThread;
}

void RunOnSecondThread(void (*fn)(void *), void *ctx, void (*own)(void *), void *ownCtx)
{
    std::thread t;
    try {
        t = std::thread(fn, ctx);
    } catch (...) {
        fn(ctx); // no thread available: do both parts here
        own(ownCtx);
        return;
    }
    own(ownCtx);
    t.join();
}

} // namespace tarq::analysis

using namespace tarq::analysis;

extern "C" int32_t TarqAnalysisConfigure(int32_t useWisdom, double measureSeconds)
{
    if (!(measureSeconds >= 0) || measureSeconds > 1e6)
        return TARQ_ANALYSIS_ERR_ARGUMENT;
    std::lock_guard lock(g_settingsMutex);
    g_settingsLoaded = true;
    g_settings.useWisdom = useWisdom != 0;
    g_settings.measureSeconds = measureSeconds;
    return TARQ_ANALYSIS_SUCCESS;
}

extern "C" void TarqAnalysisWaitForBackgroundPlanning(void)
{
    std::unique_lock lock(g_jobMutex);
    g_idleCv.wait(lock, [] { return !g_workerStarted || (!g_workerBusy && g_jobs.empty()); });
}

extern "C" int64_t TarqAnalysisHeldBytes(void)
{
    std::lock_guard lock(g_poolMutex);
    return static_cast<int64_t>(g_idleCapacity * sizeof(fftw_complex));
}

extern "C" int64_t TarqAnalysisReleaseMemory(void)
{
    {
        std::lock_guard lock(g_jobMutex);
        g_jobs.clear();
    }
    if (g_measuring.load())
        fftw_set_timelimit(0.0);
    TarqAnalysisWaitForBackgroundPlanning();
    std::map<PlanKey, CacheEntry> plans;
    {
        std::lock_guard lock(g_cacheMutex);
        plans.swap(g_cache);
        g_cacheGeneration.fetch_add(1);
    }
    t_lastPlan = LastPlan{};
    plans.clear(); // plans still executing elsewhere live on until their callers finish
    fftw_complex *drop;
    size_t cap;
    {
        std::lock_guard lock(g_poolMutex);
        drop = g_idle;
        cap = g_idleCapacity;
        g_idle = nullptr;
        g_idleCapacity = 0;
    }
    fftw_free(drop);
    return static_cast<int64_t>(cap * sizeof(fftw_complex));
}
