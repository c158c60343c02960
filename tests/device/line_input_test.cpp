// Reading the line through link-time seams: select, read and open of the
// device are wrapped (-Wl,--wrap=...), so that every failure of the device
// layer can be played in order, before and after a run of bytes. The device
// itself is a pseudo-terminal; a script, while it has steps, answers for it.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <termios.h>

#include <chrono>
#include <cstdarg>
#include <deque>
#include <mutex>
#include <regex>
#include <thread>

#include "device/serial_device.h"
#include "manager/gps_manager.h"
#include "support/log_capture.h"
#include "support/pty_device.h"
#include "vyr_platform.h"

namespace {

// One answer of the line: an errno, or bytes (none: end of file).
struct Step {
    int error = 0;
    std::string bytes;
};
std::mutex gScriptLock;
std::deque<int> gSelectErrors;  // select fails with these first
std::deque<Step> gReads;        // then the line is readable and read gives these
std::atomic<int> gSelects{0}, gReadCalls{0};
std::atomic<int> gFullWaits{0};  // selects of the device given the whole 500 ms
std::atomic<bool> gOpenAboveFdSetSize{false};

void script(std::deque<int> selectErrors, std::deque<Step> reads) {
    const std::lock_guard lock(gScriptLock);
    gSelectErrors = std::move(selectErrors);
    gReads = std::move(reads);
}

bool isDevice(int fd) {
    return fd >= 0 && fd == vyr::mng::deviceFd();
}

}  // namespace

extern "C" {
int __real_select(int, fd_set*, fd_set*, fd_set*, timeval*);
ssize_t __real_read(int, void*, size_t);
int __real_open(const char*, int, ...);

int __wrap_select(int n, fd_set* in, fd_set* out, fd_set* err, timeval* timeout) {
    if (in != nullptr && isDevice(n - 1) && FD_ISSET(n - 1, in)) {
        ++gSelects;
        gFullWaits += timeout != nullptr && timeout->tv_sec == 0 && timeout->tv_usec == 500000;
        const std::lock_guard lock(gScriptLock);
        if (!gSelectErrors.empty()) {
            errno = gSelectErrors.front();
            gSelectErrors.pop_front();
            return -1;
        }
        if (!gReads.empty()) return 1;
    }
    return __real_select(n, in, out, err, timeout);
}

ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    if (isDevice(fd)) {
        ++gReadCalls;
        const std::lock_guard lock(gScriptLock);
        if (!gReads.empty()) {
            Step step = std::move(gReads.front());
            gReads.pop_front();
            if (step.error != 0) {
                errno = step.error;
                return -1;
            }
            const size_t n = std::min(count, step.bytes.size());
            std::memcpy(buffer, step.bytes.data(), n);
            if (n < step.bytes.size()) gReads.push_front({0, step.bytes.substr(n)});
            return static_cast<ssize_t>(n);
        }
    }
    return __real_read(fd, buffer, count);
}

// The device opened above FD_SETSIZE, as when every lower descriptor is taken.
// open64 too: a build with 64-bit file offsets calls that.
int __real_open64(const char*, int, ...);
int openAbove(int fd) {
    if (fd < 0 || !gOpenAboveFdSetSize) return fd;
    const int high = fcntl(fd, F_DUPFD, FD_SETSIZE + 10);
    close(fd);
    return high;
}
// Interrupted calls of the open path: each armed call fails once with EINTR
// before it is let through; flock fails with gFlockError when that is set.
std::atomic<bool> gInterruptOpenPath{false};
std::atomic<int> gFlockError{0};
std::atomic<int> gInterruptions{0};
bool interrupted(std::atomic<bool>& armed) {
    if (!armed.exchange(false)) return false;
    ++gInterruptions;
    errno = EINTR;
    return true;
}
std::atomic<bool> gOpenArmed{false}, gGetArmed{false}, gSetArmed{false};

int __real_flock(int, int);
int __real_tcgetattr(int, termios*);
int __real_tcsetattr(int, int, const termios*);
int __wrap_flock(int fd, int operation) {
    if (gFlockError != 0) {
        errno = gFlockError.exchange(0);
        return -1;
    }
    return __real_flock(fd, operation);
}
int __wrap_tcgetattr(int fd, termios* attributes) {
    return interrupted(gGetArmed) ? -1 : __real_tcgetattr(fd, attributes);
}
int __wrap_tcsetattr(int fd, int when, const termios* attributes) {
    return interrupted(gSetArmed) ? -1 : __real_tcsetattr(fd, when, attributes);
}

int __wrap_open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & O_CREAT) != 0 ? va_arg(args, mode_t) : 0;
    va_end(args);
    if (interrupted(gOpenArmed)) return -1;
    return openAbove(__real_open(path, flags, mode));
}
int __wrap_open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & O_CREAT) != 0 ? va_arg(args, mode_t) : 0;
    va_end(args);
    if (interrupted(gOpenArmed)) return -1;
    return openAbove(__real_open64(path, flags, mode));
}
}  // extern "C"

namespace {

using namespace std::chrono_literals;
using vyr::test::captureLog;

// "<LEVEL> <function> :<message>" of each log line, in order.
std::vector<std::string> logLines(const std::string& log) {
    static const std::regex line("\\[(ERR|WAR|INF|DBG)\\]\033\\[m (\\S+) \\d+ :([^\n]*)\n");
    std::vector<std::string> lines;
    for (std::sregex_iterator m(log.begin(), log.end(), line), end; m != end; ++m)
        lines.push_back((*m)[1].str() + " " + (*m)[2].str() + " :" + (*m)[3].str());
    return lines;
}

// One-byte requests in turn: result, readLen (7: untouched) and data.
struct Answer {
    uint32_t result;
    uint32_t readLen;
    char data;
    bool operator==(const Answer&) const = default;
};
void PrintTo(const Answer& a, std::ostream* out) {
    *out << std::hex << a.result << "/" << a.readLen << "/" << a.data;
}

struct ReadCase {
    const char* name;
    std::deque<int> selectErrors;
    std::deque<Step> reads;
    std::vector<Answer> answers;
    std::vector<std::string> log;
    int readCalls;
};
void PrintTo(const ReadCase& c, std::ostream* out) {
    *out << c.name;
}

constexpr uint32_t kInput = VYR_GPS_E_DEV_INPUT, kAgain = VYR_GPS_E_DEV_AGAIN;
const std::string kSelectFailed = "DBG GpsGetRawData :select failed!";
const std::string kNoData = "INF GpsGetRawData :No data readable!";
const std::string kReadFailed = "ERR GpsGetRawData :read data faild!";

// clang-format off
const ReadCase kReadCases[] = {
    {"SelectEbadf", {EBADF}, {}, {{kInput, 7, '-'}}, {kSelectFailed}, 0},
    {"SelectEagain", {EAGAIN}, {}, {{kAgain, 7, '-'}}, {}, 0},
    {"SelectEintrRetried", {EINTR, EINTR}, {{0, "Q"}}, {{0, 1, 'Q'}}, {}, 1},
    {"ReadEagain", {}, {{EAGAIN, ""}}, {{kAgain, 0, '-'}}, {kNoData}, 1},
    {"ReadEio", {}, {{EIO, ""}}, {{kInput, 0, '-'}}, {kReadFailed}, 1},
    {"ReadEintrRetried", {}, {{EINTR, ""}, {0, "Q"}}, {{0, 1, 'Q'}}, {}, 2},
    {"EndOfFile", {}, {{0, ""}}, {{0, 0, '-'}}, {}, 1},
    {"EagainThenRun", {}, {{EAGAIN, ""}, {0, "XY"}}, {{kAgain, 0, '-'}, {0, 1, 'X'}, {0, 1, 'Y'}},
     {kNoData}, 2},
    // A run is handed on whole before the failure or end that follows it.
    {"RunThenEio", {}, {{0, "XYZ"}, {EIO, ""}},
     {{0, 1, 'X'}, {0, 1, 'Y'}, {0, 1, 'Z'}, {kInput, 0, '-'}}, {kReadFailed}, 2},
    {"RunThenEndOfFile", {}, {{0, "XY"}, {0, ""}}, {{0, 1, 'X'}, {0, 1, 'Y'}, {0, 0, '-'}}, {}, 2},
    // One read takes a buffer's worth; the rest waits on the line.
    {"RunBeyondTheBuffer", {}, {{0, std::string(vyr::dev::kReadBufferSize, '.') + "W"}},
     {{0, 1, '.'}}, {}, 1},
};
// clang-format on

class OneByteRequest : public testing::TestWithParam<ReadCase> {};

TEST_P(OneByteRequest, ResultsLogAndReads) {
    const ReadCase& c = GetParam();
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    ASSERT_EQ(VyrGpsDevInit(), 0);
    VyrPlatform_SetPrintLevel(4);
    script(c.selectErrors, c.reads);
    std::vector<Answer> answers;
    const std::string log = captureLog([&] {
        for (size_t i = 0; i < c.answers.size(); ++i) {
            GpsDevData request{1, 7, '-'};
            const uint32_t result = GpsGetRawData(&request, 500);
            answers.push_back({result, request.readLen, static_cast<char>(request.data)});
        }
    });
    EXPECT_EQ(answers, c.answers);
    EXPECT_EQ(logLines(log), c.log);
    EXPECT_EQ(gReadCalls, c.readCalls);
    if (std::string(c.name) == "RunBeyondTheBuffer") {
        const std::lock_guard lock(gScriptLock);
        EXPECT_TRUE(gReads.size() == 1 && gReads[0].bytes == "W");
    }
    EXPECT_EQ(VyrGpsDevDeInit(), 0);
}

INSTANTIATE_TEST_SUITE_P(Line, OneByteRequest, testing::ValuesIn(kReadCases),
                         [](const auto& row) { return std::string(row.param.name); });

// A descriptor past FD_SETSIZE can never be watched: Init refuses it as a
// failed open (and closes it); a read on one fails as select does.
TEST(AboveFdSetSize, RefusedAtInitFailedAtRead) {
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, FD_SETSIZE + 64);
    limit.rlim_max = std::max(limit.rlim_max, limit.rlim_cur);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0) << "needs descriptors above FD_SETSIZE";
    VyrPlatform_SetPrintLevel(4);
    gOpenAboveFdSetSize = true;
    int32_t init = 0;
    const std::string log = captureLog([&] { init = VyrGpsDevInit(); });
    gOpenAboveFdSetSize = false;
    EXPECT_TRUE(init == -1 && vyr::mng::deviceFd() == -1);
    EXPECT_EQ(logLines(log), std::vector<std::string>{"ERR VyrGpsDevInit :uart init failed"});
    EXPECT_EQ(fcntl(FD_SETSIZE + 10, F_GETFD), -1) << "the refused descriptor is still open";

    vyr::mng::setDeviceFd(FD_SETSIZE + 10);
    GpsDevData request{1, 7, '-'};
    const std::string readLog =
        captureLog([&] { EXPECT_EQ(GpsGetRawData(&request, 500), VYR_GPS_E_DEV_INPUT); });
    vyr::mng::setDeviceFd(-1);
    EXPECT_EQ(request.readLen, 7u);
    EXPECT_EQ(logLines(readLog), std::vector<std::string>{kSelectFailed});
}

// Signals during the open: open, tcgetattr and tcsetattr are each retried
// once interrupted, and the port opens, held and raw. A lock that
// fails for want of lock support does not refuse the port.
TEST(OpenPath, InterruptedCallsRetriedLockWithoutSupportAccepted) {
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    for (auto* armed : {&gOpenArmed, &gGetArmed, &gSetArmed}) *armed = true;
    ASSERT_EQ(VyrGpsDevInit(), 0);
    EXPECT_EQ(gInterruptions, 3);
    termios attributes{};
    ASSERT_EQ(tcgetattr(vyr::mng::deviceFd(), &attributes), 0);
    EXPECT_TRUE(attributes.c_cc[VMIN] == 1 && (attributes.c_lflag & ICANON) == 0);
    const int other = open(VYR_TEST_DEVICE_PATH, O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_TRUE(other < 0 ? errno == EBUSY : flock(other, LOCK_EX | LOCK_NB) != 0) << "not held";
    if (other >= 0) close(other);
    EXPECT_EQ(VyrGpsDevDeInit(), 0);

    gFlockError = ENOLCK;
    EXPECT_EQ(VyrGpsDevInit(), 0);
    EXPECT_EQ(VyrGpsDevDeInit(), 0);
}

// --- The reader around buffered bytes ---------------------------------------

std::mutex gSeenLock;
std::vector<std::pair<std::string, int>> gSeen;  // sentence, read calls made by then
std::string gHoldAt;  // the sentence whose callback holds the reader until Stop

void onSentence(const char* text, uint32_t length, void*) {
    {
        const std::lock_guard lock(gSeenLock);
        gSeen.emplace_back(std::string(text, length), gReadCalls.load());
    }
    if (gHoldAt == text) {  // Stop has cleared the run flag when this returns
        while (vyr::mng::manager().runFlag != 0) std::this_thread::sleep_for(1ms);
    }
}

std::vector<std::pair<std::string, int>> seen(size_t count) {
    for (int ms = 0; ms < 10000; ms += 2, std::this_thread::sleep_for(2ms)) {
        const std::lock_guard lock(gSeenLock);
        if (gSeen.size() >= count) break;
    }
    const std::lock_guard lock(gSeenLock);
    return gSeen;
}

class ReaderLine : public testing::Test {
protected:
    void SetUp() override {
        VYR_SKIP_WITHOUT_PTY(pty_);
        const GpsCallbackReg reg{VYR_GPS_CALLBACK(onSentence), nullptr};
        ASSERT_EQ(VYR_GPSPARSER_RegNMEARecvCbk(&reg) | VYR_GPSPARSER_Init(), 0u);
    }
    vyr::test::PtyDevice pty_;
};

using Seen = std::vector<std::pair<std::string, int>>;

// A failure or end of file right after a run: the run's sentences are handed
// on first, from the one read; the failure is logged and paused after them,
// and a sentence cut by end of file is finished by the bytes after it.
TEST_F(ReaderLine, FailureAndEndOfFileAfterARun) {
    script({}, {{0, "$A\r\n$B\r\n$C"}, {EIO, ""}, {0, "D\r\n$E"}, {0, ""}, {0, "F\r\n"}});
    const std::string log = captureLog([] {
        ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
        EXPECT_EQ(seen(4), (Seen{{"$A", 1}, {"$B", 1}, {"$CD", 3}, {"$EF", 5}}));
        EXPECT_EQ(VYR_GPSPARSER_Stop(), 0u);
    });
    EXPECT_EQ(logLines(log),
              (std::vector<std::string>{kReadFailed, "ERR MNG_GPS_MsgReadThread :error"}));
}

// Bytes read and not yet handed on belong to the descriptor: Stop and Start
// keep them (the next reader takes them without a read), Deinit drops them.
class BufferedAtStop : public ReaderLine, public testing::WithParamInterface<bool> {};

TEST_P(BufferedAtStop, StartKeepsThemDeinitDropsThem) {
    const bool reopen = GetParam();
    gHoldAt = "$A";
    script({}, {{0, "$A\r\n$B\r\n$C\r\n"}});
    ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
    ASSERT_EQ(seen(1).size(), 1u);
    ASSERT_EQ(VYR_GPSPARSER_Stop(), 0u);  // while the callback of "$A" runs
    if (reopen) {
        ASSERT_EQ(VYR_GPSPARSER_Deinit() | VYR_GPSPARSER_Init(), 0u);
    }
    script({}, {{0, "$D\r\n"}});
    ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
    const Seen expected =
        reopen ? Seen{{"$A", 1}, {"$D", 2}} : Seen{{"$A", 1}, {"$B", 1}, {"$C", 1}, {"$D", 2}};
    EXPECT_EQ(seen(expected.size()), expected);
    EXPECT_EQ(VYR_GPSPARSER_Stop(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Reader, BufferedAtStop, testing::Values(false, true),
                         [](const auto& row) { return row.param ? "DeinitInit" : "StopStart"; });

// Signals on the reader thread (a handler without SA_RESTART) while it waits:
// no failure, no new wait, and the bytes that follow arrive.
void onSignal(int) {}

TEST_F(ReaderLine, SignalsDuringTheWaitCostNothing) {
    struct sigaction action {};
    action.sa_handler = onSignal;
    ASSERT_EQ(sigaction(SIGUSR1, &action, nullptr), 0);
    const std::string log = captureLog([&] {
        ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
        while (gSelects == 0) std::this_thread::sleep_for(1ms);  // the reader waits
        for (int i = 0; i < 20; ++i, std::this_thread::sleep_for(20ms))
            pthread_kill(vyr::mng::manager().readThread, SIGUSR1);
        ASSERT_TRUE(pty_.write("$A\r\n"));
        EXPECT_EQ(seen(1), (Seen{{"$A", 1}}));
        EXPECT_EQ(VYR_GPSPARSER_Stop(), 0u);
    });
    EXPECT_EQ(logLines(log), std::vector<std::string>{});
    // A retry waits only for the time left: a wait of the whole 500 ms begins
    // only at a pass (and after a timeout, should this run be slow). Linux
    // writes the time left back into select's timeout; the user-mode emulator
    // of the cross build does not, so there only the retries are counted.
    EXPECT_GT(gSelects, 15);
    EXPECT_TRUE(VYR_TEST_EMULATED || gFullWaits <= 3) << gFullWaits << " waits of 500 ms";
}

}  // namespace
