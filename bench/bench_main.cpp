// Throughput of the parsing and collection path: the scanner, each parser,
// the raw-set parse, the collector per burst, the framer per byte, the
// reader's path per byte over a whole capture, and the whole path per burst
// through the reader thread and the simulated source.
//
//   build/bench/bench/vyr_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "common/mutex_guard.h"
#include "manager/collector.h"
#include "manager/framer_run.h"
#include "manager/gps_manager.h"
#include "nmea/scanner.h"
#include "path_driver.h"
#include "vyr_platform.h"

namespace {

// One GPS+BeiDou burst as the bundled drive capture has them.
const std::vector<std::string> kBurst = {
    "$GNGGA,083001.00,4807.03800,N,01131.00002,E,1,16,0.79,519.3,M,47.6,M,,*4A",
    "$GNGSA,A,3,02,04,05,10,11,12,16,17,18,,,,1.34,0.79,1.07,1*06",
    "$GNGSA,A,3,04,07,12,15,24,29,35,,,,,,1.34,0.79,1.07,4*05",
    "$GNRMC,083001.00,A,4807.03800,N,01131.00002,E,0.005,,140524,,,A*67",
    "$GPGSV,3,1,12,02,59,329,41,04,28,282,32,05,54,184,44,10,60,231,45*73",
    "$GPGSV,3,2,12,11,41,177,36,12,72,117,49,15,01,225,19,16,55,332,39*71",
    "$GPGSV,3,3,12,17,26,025,29,18,32,226,32,21,10,012,21,24,02,126,*78",
    "$BDGSV,2,1,08,04,48,092,37,07,67,167,49,12,21,203,28,15,60,099,43*61",
    "$BDGSV,2,2,08,17,02,158,,24,16,301,22,29,26,285,34,35,18,306,28*6C",
};

size_t burstBytes() {
    size_t n = 0;
    for (const std::string& s : kBurst) n += s.size() + 2;  // CR LF on the line
    return n;
}

void quiet() {
    VyrPlatform_SetPrintLevel(0);
}

// --- Scanner and parsers -------------------------------------------------
void BM_Scan(benchmark::State& state) {
    const char* s = kBurst[3].c_str();
    char type[6];
    GpsRmc r{};
    char validity = 0;
    int32_t d1 = 0, d2 = 0, d3 = 0;
    for (auto _ : state) {
        bool ok = vyr::nmea::scanFields<"tTcfdfdffDfd">(s, &type, &r.time, &validity, &r.latitude,
                                                        &d1, &r.longitude, &d2, &r.speed, &r.course,
                                                        &r.date, &r.magneticVariation, &d3);
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * std::strlen(s)));
}
BENCHMARK(BM_Scan);

template <typename Record>
void runParse(benchmark::State& state, int32_t (*parse)(Record*, const char*),
              const char* sentence) {
    quiet();
    Record record{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(parse(&record, sentence));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * std::strlen(sentence)));
}

#define VYR_PARSE_BENCH(TYPE, RECORD, SENTENCE)                   \
    void BM_Parse##TYPE(benchmark::State& state) {                \
        runParse<RECORD>(state, GPSPARSER_Parse##TYPE, SENTENCE); \
    }                                                             \
    BENCHMARK(BM_Parse##TYPE)

VYR_PARSE_BENCH(RMC, GpsRmc, kBurst[3].c_str());
VYR_PARSE_BENCH(GGA, GpsGga, kBurst[0].c_str());
VYR_PARSE_BENCH(GSA, GpsGsa, kBurst[1].c_str());
VYR_PARSE_BENCH(GSV, GpsGsv, kBurst[4].c_str());
VYR_PARSE_BENCH(GLL, GpsGll, "$GNGLL,4807.03800,N,01131.00002,E,083001.00,A,A*7B");
VYR_PARSE_BENCH(GST, GpsGst, "$GNGST,083001.00,13,,,,1.8,1.4,3.1*4F");
VYR_PARSE_BENCH(VTG, GpsVtg, "$GNVTG,084.4,T,,M,0.005,N,0.009,K,A*3D");
VYR_PARSE_BENCH(ZDA, GpsZda, "$GNZDA,083001.00,14,05,2024,00,00*70");

void BM_ParseRawData(benchmark::State& state) {
    quiet();
    GpsRawData raw{};
    std::snprintf(raw.ggaStr, sizeof raw.ggaStr, "%s", kBurst[0].c_str());
    std::snprintf(raw.gsaStr[0], sizeof raw.gsaStr[0], "%s", kBurst[1].c_str());
    std::snprintf(raw.gsaStr[1], sizeof raw.gsaStr[1], "%s", kBurst[2].c_str());
    std::snprintf(raw.rmcStr, sizeof raw.rmcStr, "%s", kBurst[3].c_str());
    for (int k = 0; k < 3; ++k) {
        std::snprintf(raw.gpGsvStr[k], sizeof raw.gpGsvStr[k], "%s", kBurst[4 + k].c_str());
    }
    GpsMsgPacket record{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(GPSPARSER_ParseRawData(&raw, &record));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ParseRawData);

// --- Collector and framer -------------------------------------------------
// One burst of framed sentences into the collector: classification, slot
// copies, and the parse, delivery and clearing at its completion.
void BM_CollectorBurst(benchmark::State& state) {
    quiet();
    vyr::bench::registerCountingCallbacks();
    for (auto _ : state) {
        const vyr::MutexGuard lock(vyr::mng::mngLock());  // held by the reader while it collects
        for (const std::string& s : kBurst) (void)vyr::mng::GPSPARSER_MsgProc(s.c_str());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * burstBytes()));
}
BENCHMARK(BM_CollectorBurst);

std::vector<uint8_t> burstStream() {
    std::string text;
    for (const std::string& s : kBurst) text += s + "\r\n";
    return {text.begin(), text.end()};
}

void BM_FramerPerByte(benchmark::State& state) {
    const std::vector<uint8_t> bytes = burstStream();
    vyr::mng::Framer framer;
    size_t ended = 0;
    for (auto _ : state) {
        for (const uint8_t b : bytes) ended += framer.frameByte(b) ? 1 : 0;
    }
    benchmark::DoNotOptimize(ended);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kBurst.size()));
}
BENCHMARK(BM_FramerPerByte);

// The same bytes through the run entry point.
void BM_FramerRun(benchmark::State& state) {
    const std::vector<uint8_t> bytes = burstStream();
    vyr::mng::Framer framer;
    size_t ended = 0;
    const uint8_t* const end = bytes.data() + bytes.size();
    for (auto _ : state) {
        for (const uint8_t* p = bytes.data(); (p = framer.frame(p, end)) != nullptr;) ++ended;
    }
    benchmark::DoNotOptimize(ended);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kBurst.size()));
}
BENCHMARK(BM_FramerRun);

// The reader's path (framer, NMEA callbacks, collector, parse, delivery) over
// a bundled capture, as the cost driver feeds it.
void BM_PathOverCapture(benchmark::State& state, const char* file) {
    quiet();
    vyr::bench::registerCountingCallbacks();
    std::ifstream in(std::string(VYR_BENCH_PROJECT_DATA_DIR) + "/" + file, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    if (bytes.empty()) {
        state.SkipWithError("capture not found");
        return;
    }
    // Each capture starts from an empty epoch and a receiver not yet known to
    // track BeiDou (that flag is never cleared, and would stall GPS-only bursts).
    vyr::mng::GpsManager& mng = vyr::mng::manager();
    mng.rawHeader = vyr::mng::GpsRawHeader{};
    mng.gpsRawData = GpsRawData{};
    mng.bdSupported = 0;
    const uint64_t sentencesBefore = vyr::bench::gCounts.sentences;
    const uint64_t epochsBefore = vyr::bench::gCounts.epochs;
    for (auto _ : state) {
        vyr::mng::Framer framer;
        vyr::bench::feedBytes(framer, bytes.data(), bytes.size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
    state.SetItemsProcessed(static_cast<int64_t>(vyr::bench::gCounts.sentences - sentencesBefore));
    state.counters["epochs/s"] =
        benchmark::Counter(static_cast<double>(vyr::bench::gCounts.epochs - epochsBefore),
                           benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_PathOverCapture, gps_beidou, "drive-gps-beidou.nmea");
BENCHMARK_CAPTURE(BM_PathOverCapture, gps_only, "drive-gps-only.nmea");

// --- Whole path through the reader thread and the simulated source --------
// The source hands out the burst's sentences while a quota allows; each
// iteration releases a batch of bursts and waits for their deliveries.
struct SimulatedFeed {
    static constexpr int kBatch = 1000;
    static inline std::mutex lock;
    static inline std::condition_variable changed;
    static inline uint64_t quota = 0;  // sentences that may be handed out
    static inline uint64_t handed = 0;
    static inline uint64_t delivered = 0;
    static inline bool stopping = false;

    static int32_t produce(char* buffer, int32_t size) {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [] { return handed < quota || stopping; });
        if (stopping) return 0;
        const std::string& s = kBurst[handed % kBurst.size()];
        ++handed;
        guard.unlock();
        std::memcpy(buffer, s.c_str(), s.size() + 1);
        (void)size;
        return static_cast<int32_t>(s.size());
    }
    static void onEpoch(const GpsMsgPacket*, void*) {
        std::lock_guard<std::mutex> guard(lock);
        ++delivered;
        changed.notify_all();
    }
};

void BM_ReaderPerBurst(benchmark::State& state) {
    quiet();
    {
        // Google Benchmark may call this function several times.
        std::lock_guard<std::mutex> guard(SimulatedFeed::lock);
        SimulatedFeed::stopping = false;
        SimulatedFeed::quota = SimulatedFeed::handed = 0;
        SimulatedFeed::delivered = 0;
    }
    vyr::mng::manager().rawHeader = vyr::mng::GpsRawHeader{};
    const GpsCallbackReg data{VYR_GPS_CALLBACK(SimulatedFeed::onEpoch), nullptr};
    (void)VYR_GPSPARSER_Register(&data);
    Vyr_GPSPARSER_RegisterSimulater(SimulatedFeed::produce);
    // Init opens the serial device: a pseudo-terminal's slave stands in for it.
    signal(SIGHUP, SIG_IGN);
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    char slave[128] = "";
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, slave, sizeof slave) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    unlink(VYR_BENCH_DEVICE_PATH);
    if (symlink(slave, VYR_BENCH_DEVICE_PATH) != 0 || VYR_GPSPARSER_Init() != 0 ||
        VYR_GPSPARSER_Start() != 0) {
        state.SkipWithError("the manager did not start (no device at the build-time path)");
        return;
    }
    for (auto _ : state) {
        std::unique_lock<std::mutex> guard(SimulatedFeed::lock);
        const uint64_t target = SimulatedFeed::delivered + SimulatedFeed::kBatch;
        SimulatedFeed::quota += SimulatedFeed::kBatch * kBurst.size();
        SimulatedFeed::changed.notify_all();
        SimulatedFeed::changed.wait(guard, [&] { return SimulatedFeed::delivered >= target; });
    }
    {
        std::lock_guard<std::mutex> guard(SimulatedFeed::lock);
        SimulatedFeed::stopping = true;
        SimulatedFeed::changed.notify_all();
    }
    Vyr_GPSPARSER_RegisterSimulater(nullptr);
    (void)VYR_GPSPARSER_Stop();
    (void)VYR_GPSPARSER_Deinit();
    (void)VYR_GPSPARSER_UnRegister(&data);
    unlink(VYR_BENCH_DEVICE_PATH);
    close(master);
    const int64_t bursts = static_cast<int64_t>(state.iterations()) * SimulatedFeed::kBatch;
    state.SetItemsProcessed(bursts);
    state.SetBytesProcessed(bursts * static_cast<int64_t>(burstBytes()));
}
BENCHMARK(BM_ReaderPerBurst)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
