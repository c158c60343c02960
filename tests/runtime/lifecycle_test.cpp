// Manager lifecycle: every cell of the transition table, Stop from inside a
// callback, and what survives Stop, Deinit and Init.
#include <unistd.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "runtime/runtime_support.h"
#include "support/log_capture.h"
#include "support/pty_device.h"
#include "vyr_gpsparser.h"
#include "vyr_platform.h"

namespace {

using vyr::test::captureLog;
using vyr::test::countLevel;
using vyr::test::countLines;
using vyr::test::mngState;

enum class Op { Init, Start, Stop, Deinit };
enum class Fault { None, DeviceMissing, ReleaseFails };

const char* opName(Op op) {
    switch (op) {
        case Op::Init:
            return "VYR_GPSPARSER_Init";
        case Op::Start:
            return "VYR_GPSPARSER_Start";
        case Op::Stop:
            return "VYR_GPSPARSER_Stop";
        case Op::Deinit:
            return "VYR_GPSPARSER_Deinit";
    }
    return "";
}

uint32_t run(Op op) {
    switch (op) {
        case Op::Init:
            return VYR_GPSPARSER_Init();
        case Op::Start:
            return VYR_GPSPARSER_Start();
        case Op::Stop:
            return VYR_GPSPARSER_Stop();
        case Op::Deinit:
            return VYR_GPSPARSER_Deinit();
    }
    return 0;
}

struct Cell {
    uint32_t from;
    Op op;
    Fault fault;
    uint32_t result;
    uint32_t to;
    const char* level;    // nullptr: the operation logs nothing
    const char* message;  // without the line end
};

class Transition : public testing::TestWithParam<Cell> {
protected:
    void TearDown() override {
        if (mngState() == MNG_GPS_STATE_START) {
            VYR_GPSPARSER_Stop();
        }
    }
    vyr::test::PtyDevice pty_;
};

// Brings the manager from 0 to the given state along the expected order.
void reach(uint32_t state) {
    const Op path[] = {Op::Init, Op::Start, Op::Stop};
    for (uint32_t i = 0; i < state; ++i) {
        ASSERT_EQ(run(path[i]), 0u) << opName(path[i]);
    }
    ASSERT_EQ(mngState(), state);
}

TEST_P(Transition, ResultStateAndMessage) {
    const Cell& c = GetParam();
    VYR_SKIP_WITHOUT_PTY(pty_);
    reach(c.from);
    if (c.fault == Fault::DeviceMissing) {
        unlink(VYR_TEST_DEVICE_PATH);
    } else if (c.fault == Fault::ReleaseFails) {
        VyrPlatform_SetUartDeInitResult(5);
    }
    VyrPlatform_SetPrintLevel(3);
    uint32_t result = 0;
    const std::string log = captureLog([&] { result = run(c.op); });
    VyrPlatform_SetUartDeInitResult(0);

    EXPECT_EQ(result, c.result);
    EXPECT_EQ(mngState(), c.to);
    const std::string op = opName(c.op);
    if (c.level == nullptr) {
        EXPECT_EQ(countLevel(log, "ERR") + countLevel(log, "INF"), 0) << log;
    } else {
        EXPECT_EQ(countLines(log, c.level, op, std::string(c.message) + "\n"), 1) << log;
    }
}

constexpr uint32_t kMinusOne = 0xFFFFFFFFu;

std::string cellName(const testing::TestParamInfo<Cell>& param) {
    static const char* const kFaults[] = {"", "DeviceMissing", "ReleaseFails"};
    return "From" + std::to_string(param.param.from) + "_" +
           std::string(opName(param.param.op)).substr(14) +
           kFaults[static_cast<int>(param.param.fault)];
}

INSTANTIATE_TEST_SUITE_P(
    Table, Transition,
    testing::Values(
        Cell{0, Op::Init, Fault::None, 0, 1, nullptr, ""},
        Cell{0, Op::Init, Fault::DeviceMissing, VYR_GPS_E_INIT_DEVICE, 0, "ERR",
             "hal gps init failed!"},
        Cell{0, Op::Start, Fault::None, VYR_GPS_E_STATE, 0, "ERR", "gps mng has not init!"},
        Cell{0, Op::Stop, Fault::None, VYR_GPS_E_STOP_NOT_INIT, 0, "ERR", "gps mng has not init!"},
        Cell{0, Op::Deinit, Fault::None, 0, 0, "ERR", "gps mng has already deinit!"},
        Cell{1, Op::Init, Fault::None, VYR_GPS_E_STATE, 1, "ERR",
             "gps mng has already init or start!"},
        Cell{1, Op::Start, Fault::None, 0, 2, "INF", "END !"},
        Cell{1, Op::Stop, Fault::None, VYR_GPS_E_STOP_JOIN, 1, "ERR", "join MsgReadThread failed"},
        Cell{1, Op::Deinit, Fault::None, 0, 0, nullptr, ""},
        Cell{1, Op::Deinit, Fault::ReleaseFails, VYR_GPS_E_DEINIT_DEVICE, 1, "ERR",
             "hal gps deinit failed!"},
        Cell{2, Op::Init, Fault::None, VYR_GPS_E_STATE, 2, "ERR",
             "gps mng has already init or start!"},
        Cell{2, Op::Start, Fault::None, 0, 2, "ERR", "gps mng has already start!"},
        Cell{2, Op::Stop, Fault::None, 0, 3, nullptr, ""},
        Cell{2, Op::Deinit, Fault::None, kMinusOne, 2, "ERR", "gps must stoped!"},
        Cell{3, Op::Init, Fault::None, VYR_GPS_E_STATE, 3, "ERR",
             "gps mng has already init or start!"},
        Cell{3, Op::Start, Fault::None, 0, 2, "INF", "END !"},
        Cell{3, Op::Stop, Fault::None, 0, 3, "ERR", "gps mng has already stop!"},
        Cell{3, Op::Deinit, Fault::None, 0, 0, nullptr, ""},
        Cell{3, Op::Deinit, Fault::ReleaseFails, VYR_GPS_E_DEINIT_DEVICE, 3, "ERR",
             "hal gps deinit failed!"}),
    cellName);

TEST(Lifecycle, FailedInitLeavesTheManagerReadyForAnotherTry) {
    unlink(VYR_TEST_DEVICE_PATH);
    EXPECT_EQ(VYR_GPSPARSER_Init(), VYR_GPS_E_INIT_DEVICE);
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    EXPECT_EQ(VYR_GPSPARSER_Init(), 0u);
    EXPECT_EQ(mngState(), MNG_GPS_STATE_INIT);
}

TEST(Lifecycle, DeinitReleasesTheDeviceAndTheCycleStartsAgain) {
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    for (int cycle = 0; cycle < 3; ++cycle) {
        ASSERT_EQ(VYR_GPSPARSER_Init(), 0u);
        ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
        ASSERT_EQ(VYR_GPSPARSER_Stop(), 0u);
        ASSERT_EQ(VYR_GPSPARSER_Deinit(), 0u);
        EXPECT_EQ(vyr::mng::deviceFd(), -1);
    }
    EXPECT_EQ(VyrPlatform_UartDeInitCalls(), 3);
}

// --- Stop from inside a callback ---------------------------------------------

std::atomic<uint32_t> gStopFromCallback{0};
std::atomic<int> gStopCalls{0};
std::atomic<int> gSourceCalls{0};

void stopFromCallback(const char*, uint32_t, void*) {
    if (gStopCalls.fetch_add(1) == 0) {
        gStopFromCallback = VYR_GPSPARSER_Stop();
    }
}

int32_t alwaysOneSentence(char* buffer, int32_t size) {
    gSourceCalls.fetch_add(1);
    return std::snprintf(buffer, static_cast<size_t>(size), "%s", "$GPZDA,1");
}

TEST(Lifecycle, StopFromACallbackFailsAndTheReaderEndsByItself) {
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    GpsCallbackReg reg{VYR_GPS_CALLBACK(stopFromCallback), nullptr};
    ASSERT_EQ(VYR_GPSPARSER_RegNMEARecvCbk(&reg), 0u);
    Vyr_GPSPARSER_RegisterSimulater(alwaysOneSentence);
    ASSERT_EQ(VYR_GPSPARSER_Init(), 0u);
    const std::string log = captureLog([] {
        ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
        ASSERT_TRUE(vyr::test::waitUntil([] { return gStopCalls.load() > 0; }));
        // The reader saw runFlag cleared: it makes no further pass.
        const int calls = gSourceCalls.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(gSourceCalls.load(), calls);
    });
    EXPECT_EQ(gStopFromCallback.load(), VYR_GPS_E_STOP_JOIN);
    EXPECT_EQ(gStopCalls.load(), 1);
    EXPECT_EQ(countLines(log, "ERR", "VYR_GPSPARSER_Stop", "join MsgReadThread failed\n"), 1)
        << log;
    EXPECT_EQ(mngState(), MNG_GPS_STATE_START);
    EXPECT_EQ(VYR_GPSPARSER_Deinit(), 0xFFFFFFFFu);
    EXPECT_EQ(VYR_GPSPARSER_Stop(), 0u);  // joins the ended reader
    EXPECT_EQ(mngState(), MNG_GPS_STATE_STOP);
}

// --- What the lifecycle leaves alone ------------------------------------------

std::mutex gMutex;
std::vector<std::string> gSentences;
int gEpochs = 0;

void collectSentence(const char* sentence, uint32_t len, void*) {
    std::lock_guard<std::mutex> lock(gMutex);
    gSentences.emplace_back(sentence, len);
}

void countEpoch(const GpsMsgPacket*, void*) {
    std::lock_guard<std::mutex> lock(gMutex);
    ++gEpochs;
}

size_t sentencesSeen() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gSentences.size();
}

TEST(Lifecycle, RegistrationsSourceEpochAndInputFlagSurviveStopDeinitInit) {
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    using vyr::test::ScriptedSource;
    const std::vector<std::string> burst = vyr::test::makeBurst(3600);
    ScriptedSource::sentences = burst;
    ScriptedSource::released = 2;  // GGA, GSA: the epoch is left open
    GpsCallbackReg nmea{VYR_GPS_CALLBACK(collectSentence), nullptr};
    GpsCallbackReg data{VYR_GPS_CALLBACK(countEpoch), nullptr};
    ASSERT_EQ(VYR_GPSPARSER_RegNMEARecvCbk(&nmea), 0u);
    ASSERT_EQ(VYR_GPSPARSER_Register(&data), 0u);
    Vyr_GPSPARSER_RegisterSimulater(ScriptedSource::produce);

    EXPECT_EQ(VYR_GPSPARSER_GetGpsState(), 0u);
    ASSERT_EQ(VYR_GPSPARSER_Init(), 0u);
    ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
    ASSERT_TRUE(vyr::test::waitUntil([] { return sentencesSeen() == 2; }));
    ASSERT_EQ(VYR_GPSPARSER_Stop(), 0u);
    ASSERT_EQ(VYR_GPSPARSER_Deinit(), 0u);
    EXPECT_EQ(VYR_GPSPARSER_GetGpsState(), 1u);

    ASSERT_EQ(VYR_GPSPARSER_Init(), 0u);
    EXPECT_EQ(VYR_GPSPARSER_GetGpsState(), 1u);
    ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
    GpsRawData raw{};
    ASSERT_EQ(VYR_GPSPARSER_ReadNmea(&raw), 0u);
    EXPECT_EQ(std::string(raw.ggaStr), burst[0]);  // the open epoch is still there
    ScriptedSource::released = burst.size();
    ASSERT_TRUE(vyr::test::waitUntil([] { return sentencesSeen() == 4; }));
    ASSERT_EQ(VYR_GPSPARSER_Stop(), 0u);
    std::lock_guard<std::mutex> lock(gMutex);
    EXPECT_EQ(gSentences, burst);
    EXPECT_EQ(gEpochs, 1);  // completed from sentences of both runs
}

TEST(Lifecycle, FirstDeviceByteSetsTheInputFlagEvenIfDiscarded) {
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    ASSERT_EQ(VYR_GPSPARSER_Init(), 0u);
    ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(VYR_GPSPARSER_GetGpsState(), 0u);
    ASSERT_TRUE(pty.write("x"));  // not part of any sentence
    EXPECT_TRUE(vyr::test::waitUntil([] { return VYR_GPSPARSER_GetGpsState() == 1u; }));
    ASSERT_EQ(VYR_GPSPARSER_Stop(), 0u);
}

}  // namespace
