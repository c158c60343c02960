// A line that has gone away: the master of the pseudo-terminal closed (as a
// USB receiver unplugged) or a regular file at its end. Both give end of file
// on every read; the reader must wait between passes, not spin, and still
// stop at once. A process that owns the line as a session leader must be able
// to survive the hang-up.
// Linked with -Wl,--wrap=read: reads of the device descriptor are counted.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <optional>
#include <thread>

#include "manager/gps_manager.h"
#include "support/pty_device.h"
#include "vyr_platform.h"

extern "C" ssize_t __real_read(int fd, void* buffer, size_t count);
static std::atomic<long> gDeviceReads{0};
extern "C" ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    if (fd == vyr::mng::deviceFd()) ++gDeviceReads;
    return __real_read(fd, buffer, count);
}

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string gSentences;  // reader thread; read after Stop
void keepSentence(const char* sentence, uint32_t length, void*) {
    gSentences.append(sentence, length) += '\n';
}

double readerCpuSeconds() {
    clockid_t clock;
    timespec ts{};
    if (pthread_getcpuclockid(vyr::mng::manager().readThread, &clock) != 0 ||
        clock_gettime(clock, &ts) != 0)
        return -1;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

enum class Line { HungUpTerminal, RegularFileAtEnd };

class EndOfFile : public testing::TestWithParam<Line> {};

// Over 2 s at end of file the reader makes a handful of device reads (one per
// 500 ms wait) and uses almost no CPU; Stop returns within 0.6 s. What the
// line held before its end, and what a file gains later, is framed as always.
TEST_P(EndOfFile, ReaderWaitsBetweenReadsAndStopsAtOnce) {
    std::optional<vyr::test::PtyDevice> pty;
    if (GetParam() == Line::HungUpTerminal) {
        pty.emplace();
        VYR_SKIP_WITHOUT_PTY(*pty);
    } else {
        unlink(VYR_TEST_DEVICE_PATH);
        std::ofstream(VYR_TEST_DEVICE_PATH) << "$GPZDA,1\r\n";
    }
    const GpsCallbackReg reg{VYR_GPS_CALLBACK(keepSentence), nullptr};
    ASSERT_EQ(VYR_GPSPARSER_RegNMEARecvCbk(&reg) | VYR_GPSPARSER_Init() | VYR_GPSPARSER_Start(), 0u);
    if (pty) {
        ASSERT_TRUE(pty->write("$GPZDA,1\r\n"));
        std::this_thread::sleep_for(200ms);
        pty->hangUp();
    }
    std::this_thread::sleep_for(300ms);  // the line is at its end by now
    const long reads = gDeviceReads;
    const double cpu = readerCpuSeconds();
    std::this_thread::sleep_for(2s);
    const long readsIn2s = gDeviceReads - reads;
    const double cpuIn2s = readerCpuSeconds() - cpu;
    if (!pty) {
        std::ofstream(VYR_TEST_DEVICE_PATH, std::ios::app) << "$GPZDA,2\r\n";
        std::this_thread::sleep_for(1s);
    }

    const auto start = Clock::now();
    EXPECT_EQ(VYR_GPSPARSER_Stop(), 0u);
    EXPECT_LE(Clock::now() - start, 600ms);
    EXPECT_EQ(VYR_GPSPARSER_Deinit(), 0u);
    EXPECT_TRUE(readsIn2s >= 2 && readsIn2s <= 10) << readsIn2s << " device reads in 2 s";
    EXPECT_TRUE(cpu >= 0 && cpuIn2s < 0.05) << cpuIn2s << " s of reader CPU in 2 s";
    EXPECT_EQ(gSentences, pty ? "$GPZDA,1\n" : "$GPZDA,1\n$GPZDA,2\n");
    unlink(VYR_TEST_DEVICE_PATH);
}

INSTANTIATE_TEST_SUITE_P(Line, EndOfFile,
                         testing::Values(Line::HungUpTerminal, Line::RegularFileAtEnd),
                         [](const auto& param) {
                             return param.param == Line::HungUpTerminal ? "HungUpTerminal"
                                                                       : "RegularFileAtEnd";
                         });

// /proc/<pid>/stat: field 7 is the controlling terminal, 14 and 15 the CPU
// ticks in user and kernel mode.
std::vector<long> procStat(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text{std::istreambuf_iterator<char>(in), {}};
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::vector<long> values{0, 0, 0};  // field n at [n]; pid and name not kept
    std::string field;
    while (fields >> field) values.push_back(std::atol(field.c_str()));
    return values;
}

// hangup_service (a small C program linking the library) in a session of its
// own, so that the port becomes its controlling terminal: on the hang-up the
// kernel sends it SIGHUP. Ignoring SIGHUP, it lives on without burning CPU
// and ends cleanly on SIGTERM; with the default action, it dies of SIGHUP
// (which shows the hang-up really reached it).
class ServiceHangUp : public testing::TestWithParam<bool> {};

TEST_P(ServiceHangUp, SessionLeaderSurvivesWhenItIgnoresSighup) {
    const bool ignore = GetParam();
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const std::string command =
        std::string("exec " VYR_TEST_SERVICE_COMMAND " ") + (ignore ? "ignore" : "default");
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        dup2(out[1], STDOUT_FILENO);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    pollfd ready{out[0], POLLIN, 0};
    char line[16] = {};
    ASSERT_TRUE(poll(&ready, 1, 30000) == 1 && read(out[0], line, sizeof line - 1) > 0);
    EXPECT_STREQ(line, "running\n");
    EXPECT_NE(procStat(child).at(7), 0) << "the port is not its controlling terminal";

    const std::vector<long> before = procStat(child);
    pty.hangUp();
    std::this_thread::sleep_for(1s);
    int status = 0;
    if (ignore) {
        ASSERT_EQ(waitpid(child, &status, WNOHANG), 0) << "died of signal " << WTERMSIG(status);
        const std::vector<long> after = procStat(child);
        const long ticks = after.at(14) + after.at(15) - before.at(14) - before.at(15);
        EXPECT_LE(ticks * 1000 / sysconf(_SC_CLK_TCK), 100) << "ms of CPU in the second after";
        kill(child, SIGTERM);
    }
    const auto start = Clock::now();
    while (waitpid(child, &status, WNOHANG) == 0 && Clock::now() - start < 5s)
        std::this_thread::sleep_for(10ms);
    if (ignore) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    } else {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGHUP) << status;
    }
    if (kill(child, SIGKILL) == 0) waitpid(child, &status, 0);
    close(out[0]);
}

INSTANTIATE_TEST_SUITE_P(Sighup, ServiceHangUp, testing::Values(true, false),
                         [](const auto& param) { return param.param ? "Ignored" : "Default"; });

}  // namespace
