// The port held exclusively. A second opener, a forked child that links the
// library, fails at once through the failed-open path while the first reads
// on without a gap; a failed release keeps the port held; Deinit gives it
// back. The child runs with CAP_SYS_ADMIN (as root in CI: only the advisory
// lock can refuse it) or without it (where the terminal's exclusive mode
// refuses the open itself, which the child also tries bare).
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "manager/gps_manager.h"
#include "support/pty_device.h"
#include "support/shell.h"
#include "vyr_platform.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Drops CAP_SYS_ADMIN from the effective set, the capability that lets an
// open pass a terminal's exclusive mode. File access stays as it was.
bool dropSysAdmin() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    data[CAP_SYS_ADMIN / 32].effective &= ~(1u << (CAP_SYS_ADMIN % 32));
    return syscall(SYS_capset, &header, data) == 0;
}

// A second process with a manager of its own, forked before this one starts
// anything: 'i' Init, 'd' Deinit, 'o' a bare open of the device path. Each
// answers a result (the errno of a failed open) and the milliseconds taken.
class SecondOpener {
public:
    struct Answer {
        uint32_t result;
        int32_t ms;
    };

    explicit SecondOpener(bool privileged) {
        int toChild[2], fromChild[2];
        if (pipe(toChild) != 0 || pipe(fromChild) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(toChild[1]), close(fromChild[0]);
            serve(toChild[0], fromChild[1], privileged);
        }
        close(toChild[0]), close(fromChild[1]);
        to_ = toChild[1], from_ = fromChild[0];
    }
    ~SecondOpener() {
        close(to_), close(from_);
        int status = 0;
        if (pid_ > 0) waitpid(pid_, &status, 0);
    }

    Answer ask(char command) const {
        Answer answer{~0u, -1};
        if (write(to_, &command, 1) != 1 || read(from_, &answer, sizeof answer) != sizeof answer)
            ADD_FAILURE() << "the second opener did not answer '" << command << "'";
        return answer;
    }

private:
    [[noreturn]] static void serve(int in, int out, bool privileged) {
        VyrPlatform_SetPrintLevel(0);
        if (!privileged && !dropSysAdmin()) _exit(2);
        for (char command; read(in, &command, 1) == 1;) {
            const auto start = Clock::now();
            Answer answer{0, 0};
            if (command == 'i') answer.result = VYR_GPSPARSER_Init();
            if (command == 'd') answer.result = VYR_GPSPARSER_Deinit();
            if (command == 'o') {
                const int fd = open(VYR_TEST_DEVICE_PATH, O_RDWR | O_NOCTTY | O_NONBLOCK);
                answer.result = fd < 0 ? static_cast<uint32_t>(errno) : 0;
                if (fd >= 0) close(fd);
            }
            answer.ms = static_cast<int32_t>((Clock::now() - start) / 1ms);
            if (write(out, &answer, sizeof answer) != sizeof answer) break;
        }
        _exit(0);
    }

    pid_t pid_ = -1;
    int to_ = -1, from_ = -1;
};

// One GPS-only burst per second n: its record carries n in GGA and RMC.
std::string burst(int n) {
    char time[32];
    std::snprintf(time, sizeof time, "%02d%02d%02d.00,", 10 + n / 3600, n / 60 % 60, n % 60);
    return std::string("$GPGGA,") + time +
           "4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n" +
           "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n$GPRMC," + time +
           "A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n" +
           "$GPGSV,1,1,01,04,45,100,40*70\r\n";
}

std::atomic<int> gRecords{0}, gOutOfOrder{0};
void onRecord(const GpsMsgPacket* record, void*) {
    const int n = gRecords++;
    const GpsTime& t = record->rmc.time;
    gOutOfOrder += t.hours * 3600 + t.minutes * 60 + t.seconds != 36000 + n;
}

class ExclusivePort : public testing::TestWithParam<bool> {};

TEST_P(ExclusivePort, SecondOpenerFailsFirstLosesNothingDeinitGivesItBack) {
    const bool privileged = GetParam();
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    const SecondOpener second(privileged);  // forked while this process runs no thread
    ASSERT_EQ(second.ask('o').result, 0u) << "the second opener cannot open a free port";

    const GpsCallbackReg reg{VYR_GPS_CALLBACK(onRecord), nullptr};
    ASSERT_EQ(VYR_GPSPARSER_Register(&reg) | VYR_GPSPARSER_Init() | VYR_GPSPARSER_Start(), 0u);
    constexpr int kBursts = 40;
    std::thread receiver([&pty] {
        for (int n = 0; n < kBursts; ++n, std::this_thread::sleep_for(10ms))
            ASSERT_TRUE(pty.write(burst(n)));
    });
    // Twice while the bytes flow: each refused within 1 s.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const SecondOpener::Answer init = second.ask('i');
        EXPECT_EQ(init.result, VYR_GPS_E_INIT_DEVICE);
        EXPECT_LT(init.ms, 1000);
        EXPECT_EQ(second.ask('o').result, privileged ? 0u : uint32_t{EBUSY});
    }
    receiver.join();
    for (int ms = 0; ms < 30000 && gRecords < kBursts; ms += 5) std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(gRecords == kBursts && gOutOfOrder == 0) << gRecords << " records";
    ASSERT_EQ(VYR_GPSPARSER_Stop(), 0u);

    // A failed release: the port is still this process's, and still held.
    VyrPlatform_SetUartDeInitResult(5);
    EXPECT_EQ(VYR_GPSPARSER_Deinit(), VYR_GPS_E_DEINIT_DEVICE);
    EXPECT_EQ(second.ask('i').result, VYR_GPS_E_INIT_DEVICE);
    EXPECT_EQ(second.ask('o').result, privileged ? 0u : uint32_t{EBUSY});
    VyrPlatform_SetUartDeInitResult(0);
    EXPECT_EQ(VYR_GPSPARSER_Deinit(), 0u);

    // Given back: the second takes it, and now this process is refused.
    EXPECT_EQ(second.ask('i').result, 0u);
    EXPECT_EQ(VYR_GPSPARSER_Init(), VYR_GPS_E_INIT_DEVICE);
    EXPECT_EQ(vyr::mng::deviceFd(), -1);
#ifdef VYR_TEST_TOOL_PATH
    // The tool says so in one line and exits 1 (not reading on: it is ended).
    const auto [status, out] = vyr::test::shell("timeout -s KILL 10 " VYR_TEST_TOOL_PATH
                                                " monitor --log-level 0 2>&1 >/dev/null");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "vyr-gps: " VYR_TEST_DEVICE_PATH " is in use by another program\n");
#endif
    EXPECT_EQ(second.ask('d').result, 0u);
    EXPECT_EQ(VYR_GPSPARSER_Init() | VYR_GPSPARSER_Deinit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(SecondOpener, ExclusivePort, testing::Values(true, false),
                         [](const auto& param) {
                             return param.param ? "WithSysAdmin" : "WithoutSysAdmin";
                         });

}  // namespace
