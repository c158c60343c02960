// The running manager: every cell of the lifecycle's transition table, bursts end to end over the
// line and from a simulated source, Stop from a callback, a failing line, and the reader at full
// speed against application threads (meant for the ThreadSanitizer build). Linked with
// -Wl,--wrap=pthread_create, so the library's thread creation comes here first.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "manager/gps_manager.h"
#include "support/log_capture.h"
#include "support/pty_device.h"
#include "vyr_platform.h"

extern "C" int __real_pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
static std::atomic<bool> gFailCreate{false};
extern "C" int __wrap_pthread_create(pthread_t* t, const pthread_attr_t* a, void* (*f)(void*),
                                     void* arg) {
    return gFailCreate ? EAGAIN : __real_pthread_create(t, a, f, arg);
}

namespace {

using namespace std::chrono_literals;
using namespace vyr::test;

const auto mngState = [] { return static_cast<uint32_t>(vyr::mng::manager().mngState.load()); };

// Polls until done() or 30 s (qemu and tsan are slow).
bool waitUntil(auto&& done) {
    for (int ms = 0; ms < 30000 && !done(); ms += 2) std::this_thread::sleep_for(2ms);
    return done();
}

enum Op { Init, Start, Stop, Deinit };
enum Fault { None, NoDevice, NoThread, BadRelease };
uint32_t (*const kOps[])() = {VYR_GPSPARSER_Init, VYR_GPSPARSER_Start, VYR_GPSPARSER_Stop,
                              VYR_GPSPARSER_Deinit};
const char* const kNames[] = {"Init", "Start", "Stop", "Deinit"};
// From state, operation, fault -> result, next state, "<level> <message>" of
// the one line logged ("" for none at any level).
using Cell = std::tuple<uint32_t, Op, Fault, uint32_t, uint32_t, std::string>;

const Cell kCells[] = {
    {0, Init, None, 0, 1, ""},
    {0, Init, NoDevice, VYR_GPS_E_INIT_DEVICE, 0, "ERR hal gps init failed!"},
    {0, Start, None, VYR_GPS_E_STATE, 0, "ERR gps mng has not init!"},
    {0, Stop, None, VYR_GPS_E_STOP_NOT_INIT, 0, "ERR gps mng has not init!"},
    {0, Deinit, None, 0, 0, "ERR gps mng has already deinit!"},
    {1, Init, None, VYR_GPS_E_STATE, 1, "ERR gps mng has already init or start!"},
    {1, Start, None, 0, 2, "INF END !"},
    {1, Start, NoThread, VYR_GPS_E_THREAD_CREATE, 1, "ERR create MsgReadThread failed"},
    {1, Stop, None, VYR_GPS_E_STOP_JOIN, 1, "ERR join MsgReadThread failed"},
    {1, Deinit, None, 0, 0, ""},
    {1, Deinit, BadRelease, VYR_GPS_E_DEINIT_DEVICE, 1, "ERR hal gps deinit failed!"},
    {2, Init, None, VYR_GPS_E_STATE, 2, "ERR gps mng has already init or start!"},
    {2, Start, None, 0, 2, "ERR gps mng has already start!"},
    {2, Stop, None, 0, 3, ""},
    {2, Deinit, None, 0xFFFFFFFFu, 2, "ERR gps must stoped!"},
    {3, Init, None, VYR_GPS_E_STATE, 3, "ERR gps mng has already init or start!"},
    {3, Start, None, 0, 2, "INF END !"},
    {3, Start, NoThread, VYR_GPS_E_THREAD_CREATE, 3, "ERR create MsgReadThread failed"},
    {3, Stop, None, 0, 3, "ERR gps mng has already stop!"},
    {3, Deinit, None, 0, 0, ""},
    {3, Deinit, BadRelease, VYR_GPS_E_DEINIT_DEVICE, 3, "ERR hal gps deinit failed!"},
};

class Transition : public testing::TestWithParam<Cell> {};

TEST_P(Transition, ResultStateAndLog) {
    const auto& [from, op, fault, result, to, line] = GetParam();
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    for (uint32_t step = 0; step < from; ++step) ASSERT_EQ(kOps[step](), 0u);  // Init, Start, Stop
    if (fault == NoDevice) unlink(VYR_TEST_DEVICE_PATH);
    VyrPlatform_SetUartDeInitResult(fault == BadRelease ? 5 : 0);
    gFailCreate = fault == NoThread;
    VyrPlatform_SetPrintLevel(3);
    uint32_t got = 0;
    const std::string log = captureLog([&, op = op] { got = kOps[op](); });
    EXPECT_TRUE(got == result && mngState() == to) << got << " " << mngState();
    const std::string function = std::string("VYR_GPSPARSER_") + kNames[op];
    EXPECT_EQ(countLines(log, function, line.empty() ? "\\w+ .*" : line), !line.empty()) << log;
    if (mngState() == MNG_GPS_STATE_START) VYR_GPSPARSER_Stop();
}

INSTANTIATE_TEST_SUITE_P(Table, Transition, testing::ValuesIn(kCells));

// hhmmss of a record's GGA, -1 when its RMC names another time (a torn copy).
int epochTime(const GpsMsgPacket& r) {
    const GpsTime& t = r.gga.time;
    return memcmp(&t, &r.rmc.time, sizeof t) ? -1 : t.hours * 10000 + t.minutes * 100 + t.seconds;
}

std::atomic<int> gCopies{0}, gTorn{0};

// Copies from every pull operation; each must hold one burst.
void pullAll() {
    GpsMsgPacket record;
    GpsRawData raw;
    GpsLocation location;
    if (VYR_GPSPARSER_GetData(&record) == 0) gTorn += epochTime(record) < 0, ++gCopies;
    if (VYR_GPSPARSER_ReadNmea(&raw) == 0 && raw.ggaStr[0] != '\0' && raw.rmcStr[0] != '\0')
        gTorn += std::strncmp(raw.ggaStr + 7, raw.rmcStr + 7, 6) != 0;
    (void)VYR_GPSPARSER_GetLocation(&location);
}

// What the callbacks received (on the reader thread; read after Stop's join).
std::vector<std::string> gSentences;
std::vector<int> gEpochs;
std::atomic<size_t> gSentenceCount{0}, gEpochCount{0};

void onSentence(const char* sentence, uint32_t len, void*) {
    gSentences.emplace_back(sentence, len);
    if (gSentenceCount++ % 16 == 0) pullAll();  // pulls from callbacks must not deadlock
}

void onRecord(const GpsMsgPacket* record, void*) {
    gTorn += gEpochs.emplace_back(epochTime(*record)) < 0;
    pullAll();
    ++gEpochCount;
}

// Simulated source: the script one sentence per call, round and round, up to
// gReleased sentences in all.
std::vector<std::string> gScript;
std::atomic<size_t> gNext{0}, gReleased{0};

int32_t scripted(char* buffer, int32_t size) {
    if (gNext >= gReleased) return 0;
    return std::snprintf(buffer, size_t(size), "%s", gScript[gNext++ % gScript.size()].c_str());
}

// Five complete bursts: each GGA names one record.
void scriptFiveBursts() {
    for (int second = 10; second < 15; ++second) {
        const std::string t = "1200" + std::to_string(second) + ".00,";
        gScript.insert(gScript.end(),
                       {"$GPGGA," + t + "4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47",
                        "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39",
                        "$GPRMC," + t + "A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A",
                        "$GPGSV,1,1,01,04,45,100,40*70"});
    }
}

// Registers both callbacks and the source, then Init and Start.
class Reader : public testing::Test {
protected:
    void SetUp() override {
        VYR_SKIP_WITHOUT_PTY(pty_);
        scriptFiveBursts();
        const GpsCallbackReg nmea{VYR_GPS_CALLBACK(onSentence), nullptr};
        const GpsCallbackReg data{VYR_GPS_CALLBACK(onRecord), nullptr};
        ASSERT_EQ(VYR_GPSPARSER_RegNMEARecvCbk(&nmea) | VYR_GPSPARSER_Register(&data), 0u);
        ASSERT_EQ(Vyr_GPSPARSER_RegisterSimulater(scripted), 0);
        ASSERT_EQ(VYR_GPSPARSER_Init() | VYR_GPSPARSER_Start(), 0u);
    }
    // Every sentence and record arrived, in order; Stop on the now silent
    // line is noticed within one 500 ms read.
    void expectAllDelivered() {
        EXPECT_TRUE(waitUntil([&] { return gSentenceCount >= gScript.size(); }));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(VYR_GPSPARSER_Stop(), 0u);
        EXPECT_LE(std::chrono::steady_clock::now() - start, 500ms + 400ms);
        EXPECT_TRUE(gSentences == gScript &&
                    gEpochs == (std::vector{120010, 120011, 120012, 120013, 120014}));
    }
    vyr::test::PtyDevice pty_;
};

TEST_F(Reader, BurstsOverTheSerialLine) {
    for (const std::string& sentence : gScript) ASSERT_TRUE(pty_.write(sentence + "\r\n"));
    expectAllDelivered();
}

TEST_F(Reader, BurstsFromASimulatedSource) {
    gReleased = gScript.size();
    expectAllDelivered();
}

std::atomic<uint32_t> gStopped{0};

TEST_F(Reader, StopFromACallbackFailsAndALaterStopSucceeds) {
    const auto stop = [](const char*, uint32_t, void*) { gStopped = VYR_GPSPARSER_Stop(); };
    const GpsCallbackReg reg{VYR_GPS_CALLBACK(+stop), nullptr};
    ASSERT_EQ(VYR_GPSPARSER_RegNMEARecvCbk(&reg), 0u);
    ASSERT_TRUE(pty_.write("$GPZDA,1\r\n"));
    ASSERT_TRUE(waitUntil([] { return gStopped != 0; }));
    EXPECT_TRUE(gStopped == VYR_GPS_E_STOP_JOIN && mngState() == MNG_GPS_STATE_START);
    EXPECT_EQ(VYR_GPSPARSER_Stop(), 0u);  // joins the reader, which ended by itself
}

// A failing read: one "error" line and a pause of about 1 s per failure, at
// about 0.5, 1.5 and 2.5 s here (the first after the read in progress).
TEST_F(Reader, InputFailureLogsErrorPausesAndGoesOn) {
    const std::string log = captureLog([&] {
        const int fd = vyr::mng::deviceFd();
        ASSERT_EQ(dup2(open("/", O_RDONLY | O_DIRECTORY), fd), fd);
        std::this_thread::sleep_for(2800ms);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(VYR_GPSPARSER_Stop(), 0u);
        EXPECT_LE(std::chrono::steady_clock::now() - start, 1000ms + 500ms);
    });
    const long errors = countLines(log, "MNG_GPS_MsgReadThread", "ERR error");
    EXPECT_TRUE(errors >= 2 && errors <= 4) << log;
}

// The reader at full speed over several cycles while another thread registers
// and unregisters callbacks and pulls copies. Registrations, the source and the
// input flag outlive Stop, Deinit and Init.
TEST_F(Reader, FullSpeedAgainstRegistryAndPulls) {
    std::atomic<bool> done{false};
    std::thread churn([&] {
        const GpsCallbackReg data{VYR_GPS_CALLBACK(onRecord), &done};
        const GpsCallbackReg nmea{VYR_GPS_CALLBACK(onSentence), &done};
        for (; !done; pullAll()) {
            EXPECT_EQ(VYR_GPSPARSER_Register(&data) | VYR_GPSPARSER_RegNMEARecvCbk(&nmea) |
                          VYR_GPSPARSER_UnRegister(&data) | VYR_GPSPARSER_UnregNMEARecvCbk(&nmea),
                      0u);
        }
    });
    gReleased = SIZE_MAX;
    for (int cycle = 0; cycle < 10; ++cycle) {
        EXPECT_TRUE(waitUntil([&, n = gEpochCount + 3] { return gEpochCount >= n; })) << cycle;
        EXPECT_EQ(VYR_GPSPARSER_Stop() | VYR_GPSPARSER_Deinit() | VYR_GPSPARSER_Init(), 0u);
        EXPECT_TRUE(VYR_GPSPARSER_GetGpsState() == 1 && VYR_GPSPARSER_Start() == 0);
    }
    EXPECT_EQ(VYR_GPSPARSER_Stop(), 0u);
    done = true;
    churn.join();
    EXPECT_TRUE(gTorn == 0 && gCopies > 0) << gTorn << " torn of " << gCopies;
}

// Ends the process, failing the test, unless dismissed within the limit: a
// deadlocked reader would otherwise hang the whole run.
class Watchdog {
public:
    Watchdog(std::chrono::seconds limit, const char* what)
        : thread_([this, limit, what] {
              std::unique_lock lock(mutex_);
              if (!dismissed_cv_.wait_for(lock, limit, [this] { return dismissed_; })) {
                  std::fprintf(stderr, "watchdog: %s did not return within %llds\n", what,
                               static_cast<long long>(limit.count()));
                  std::_Exit(3);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            dismissed_ = true;
        }
        dismissed_cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable dismissed_cv_;
    bool dismissed_ = false;
    std::thread thread_;
};

// A registry operation called from inside a data or an NMEA callback, on the
// reader thread, for either kind of slot. It returns within 1 s; a
// registration already present and an unregistration of a descriptor not
// present answer as anywhere else; one that would store or clear a slot is
// refused with VYR_GPS_E_IN_CALLBACK and one error line. The slots stay as they
// were, delivery goes on, and Stop and the registry work afterwards.
enum Kind { DataKind, NmeaKind };
enum RegistryOp { RegisterNew, RegisterPresent, UnregisterPresent, UnregisterAbsent };
using InCallback = std::tuple<Kind, Kind, RegistryOp>;  // calling kind, slot kind, operation

uint32_t (*const kRegistryOps[2][2])(const GpsCallbackReg*) = {
    {VYR_GPSPARSER_UnRegister, VYR_GPSPARSER_Register},
    {VYR_GPSPARSER_UnregNMEARecvCbk, VYR_GPSPARSER_RegNMEARecvCbk}};
const char* const kRegistryNames[2][2] = {
    {"VYR_GPSPARSER_UnRegister", "VYR_GPSPARSER_Register"},
    {"VYR_GPSPARSER_UnregNMEARecvCbk", "VYR_GPSPARSER_RegNMEARecvCbk"}};

struct Actor {
    std::function<uint32_t()> operation;  // set before Start
    std::atomic<long> calls{0};
    std::atomic<bool> done{false};
    uint32_t result = 0;              // written before done
    std::chrono::nanoseconds took{};  // written before done
} gActor;

void act() {
    if (gActor.calls++ != 0) return;
    const auto start = std::chrono::steady_clock::now();
    gActor.result = gActor.operation();
    gActor.took = std::chrono::steady_clock::now() - start;
    gActor.done = true;
}
void actOnRecord(const GpsMsgPacket*, void*) {
    act();
}
void actOnSentence(const char*, uint32_t, void*) {
    act();
}
void quietOnRecord(const GpsMsgPacket*, void*) {}
void quietOnSentence(const char*, uint32_t, void*) {}

class RegistryInCallback : public testing::TestWithParam<InCallback> {};

TEST_P(RegistryInCallback, ReturnsAnswersAndDeliveryGoesOn) {
    const auto [caller, target, op] = GetParam();
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    const GpsCallbackFn acting[] = {VYR_GPS_CALLBACK(actOnRecord), VYR_GPS_CALLBACK(actOnSentence)};
    const GpsCallbackFn quiet[] = {VYR_GPS_CALLBACK(quietOnRecord),
                                   VYR_GPS_CALLBACK(quietOnSentence)};
    const GpsCallbackReg actor{acting[caller], nullptr};
    const GpsCallbackReg present =
        target == caller ? actor : GpsCallbackReg{quiet[target], nullptr};
    const GpsCallbackReg absent{quiet[target], &gActor};
    ASSERT_EQ(kRegistryOps[caller][1](&actor) | kRegistryOps[target][1](&present), 0u);
    const bool reg = op == RegisterNew || op == RegisterPresent;
    const GpsCallbackReg* desc =
        op == RegisterPresent || op == UnregisterPresent ? &present : &absent;
    gActor.operation = [target = target, reg, desc] { return kRegistryOps[target][reg](desc); };
    const vyr::mng::GpsManager& mng = vyr::mng::manager();
    GpsCallbackReg slots[4];
    std::memcpy(slots, mng.dataCbk, sizeof mng.dataCbk);
    std::memcpy(slots + 2, mng.nmeaCbk, sizeof mng.nmeaCbk);

    scriptFiveBursts();
    gReleased = SIZE_MAX;
    ASSERT_EQ(Vyr_GPSPARSER_RegisterSimulater(scripted), 0);
    std::string log;
    {
        Watchdog dog(std::chrono::seconds(10), "a registry call from a callback, or Stop after it");
        log = captureLog([] {
            ASSERT_EQ(VYR_GPSPARSER_Init() | VYR_GPSPARSER_Start(), 0u);
            EXPECT_TRUE(waitUntil([] { return gActor.done && gActor.calls > 20; }));
            EXPECT_EQ(VYR_GPSPARSER_Stop() | VYR_GPSPARSER_Deinit(), 0u);
        });
    }
    const uint32_t expected[] = {VYR_GPS_E_IN_CALLBACK, 0, VYR_GPS_E_IN_CALLBACK,
                                 VYR_GPS_E_NOT_REGISTERED};
    EXPECT_EQ(gActor.result, expected[op]);
    EXPECT_LT(gActor.took, 1s);
    EXPECT_EQ(std::memcmp(slots, mng.dataCbk, sizeof mng.dataCbk), 0);
    EXPECT_EQ(std::memcmp(slots + 2, mng.nmeaCbk, sizeof mng.nmeaCbk), 0);
    const long refusals = countLines(log, kRegistryNames[target][reg],
                                     "ERR cannot change a slot from inside a callback");
    EXPECT_EQ(refusals, expected[op] == VYR_GPS_E_IN_CALLBACK) << log;
    // Outside a callback the same change is made.
    EXPECT_EQ(gActor.operation(), expected[op] == VYR_GPS_E_IN_CALLBACK ? 0u : expected[op]);
}

INSTANTIATE_TEST_SUITE_P(Table, RegistryInCallback,
                         testing::Combine(testing::Values(DataKind, NmeaKind),
                                          testing::Values(DataKind, NmeaKind),
                                          testing::Values(RegisterNew, RegisterPresent,
                                                          UnregisterPresent, UnregisterAbsent)));

// A thread that ran the reader body itself is an ordinary thread again once
// the body returns: it can start and stop the manager.
TEST(ReaderThreadBody, DirectCallerCanStartAndStopAfterwards) {
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    ASSERT_EQ(VYR_GPSPARSER_Init(), 0u);
    uint32_t results[3] = {1, 1, 1};
    std::thread caller([&results] {
        vyr::mng::manager().runFlag = 1;
        std::thread stopper([] {
            std::this_thread::sleep_for(100ms);
            vyr::mng::manager().runFlag = 0;
        });
        MNG_GPS_MsgReadThread(nullptr);
        stopper.join();
        results[0] = VYR_GPSPARSER_Start();
        results[1] = VYR_GPSPARSER_Stop();
        results[2] = VYR_GPSPARSER_Deinit();
    });
    caller.join();
    EXPECT_TRUE(results[0] == 0 && results[1] == 0 && results[2] == 0)
        << std::hex << results[0] << " " << results[1] << " " << results[2];
}

}  // namespace
