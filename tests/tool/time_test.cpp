// Time from the receiver without a time daemon: the sample of an epoch, the
// pairing of pulses with fixes, the timing reports, the live-clock rewrite
// and pacing, the socket sender and the shared-memory writer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "chrony_sock.h"
#include "live_clock.h"
#include "ntp_shm.h"
#include "pps.h"
#include "support/shell.h"
#include "time_sample.h"
#include "timing_reports.h"
#include "tool_error.h"

namespace vyr::tool {
namespace {

constexpr time_t kT = 1735130096;  // 2024-12-25 12:34:56 UTC

timespec at(time_t seconds, long nanos) {
    timespec t{};
    t.tv_sec = seconds;
    t.tv_nsec = nanos;
    return t;
}

// Table rows are named by their first member.
struct {
    template <typename Case>
    std::string operator()(const testing::TestParamInfo<Case>& row) const {
        return row.param.name;
    }
} const caseName;

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ToolError& error) {
        return error.what();
    }
    return "";
}

// --- The sample of an epoch ---------------------------------------------------

struct SampleCase {
    const char* name;
    timespec fix, callback;
    size_t bytes;
    int baud;
    timespec clock;  // expected
};

class EpochSample : public testing::TestWithParam<SampleCase> {};

TEST_P(EpochSample, TakesTheSentenceTimeOffTheCallbackClock) {
    const SampleCase& c = GetParam();
    const TimeSample sample = sentenceTimeSample(c.fix, c.callback, c.bytes, c.baud);
    EXPECT_EQ(sample.clock.tv_sec, c.clock.tv_sec);
    EXPECT_EQ(sample.clock.tv_nsec, c.clock.tv_nsec);
    EXPECT_EQ(sample.real.tv_sec, c.fix.tv_sec);
    EXPECT_EQ(sample.real.tv_nsec, c.fix.tv_nsec);
    const double offset = static_cast<double>(c.fix.tv_sec - c.clock.tv_sec) +
                          static_cast<double>(c.fix.tv_nsec - c.clock.tv_nsec) * 1e-9;
    EXPECT_NEAR(offsetSeconds(sample), offset, 1e-9);

    // The datagram: microseconds of the clock, offset to the reference.
    const SockSample datagram = sockSample(sample, false);
    EXPECT_EQ(datagram.tv.tv_sec, c.clock.tv_sec);
    EXPECT_EQ(datagram.tv.tv_usec, c.clock.tv_nsec / 1000);
    EXPECT_NEAR(datagram.offset, offset + static_cast<double>(c.clock.tv_nsec % 1000) * 1e-9, 1e-9);
    EXPECT_EQ(datagram.pulse, 0);
    EXPECT_EQ(datagram.leap, 0);
    EXPECT_EQ(datagram.magic, 0x534f434b);
    // A pulse tells chrony where in the system's second it fell.
    EXPECT_NEAR(sockSample(sample, true).offset, -datagram.offset, 1e-12);
    EXPECT_EQ(sockSample(sample, true).pulse, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EpochSample,
    testing::Values(
        // 72 bytes at 9600 baud are 75 ms on the line.
        SampleCase{"SystemClockLate", at(kT, 0), at(kT, 80000000), 72, 9600, at(kT, 5000000)},
        SampleCase{"AcrossTheSecond", at(kT, 0), at(kT, 50000000), 72, 9600, at(kT - 1, 975000000)},
        SampleCase{"SlowLine", at(kT, 0), at(kT, 400000123), 72, 4800, at(kT, 250000123)},
        SampleCase{"FixWithFraction", at(kT, 500000000), at(kT + 3, 80000000), 72, 9600,
                   at(kT + 3, 5000000)}),
    caseName);

TEST(FixInstant, DatedTimesOnly) {
    const auto instant = fixInstant(UtcTime{2024, 12, 25, 12, 34, 56, 250000});
    ASSERT_TRUE(instant);
    EXPECT_EQ(instant->tv_sec, kT);
    EXPECT_EQ(instant->tv_nsec, 250000000);
    EXPECT_FALSE(fixInstant(UtcTime{0, 0, 0, 12, 34, 56, 0}));
}

// --- Pulses and fixes ------------------------------------------------------------

struct PulseCase {
    const char* name;
    std::vector<PpsEdge> recent;
    std::optional<uint32_t> lastPaired;
    timespec fixTime;
    std::optional<uint32_t> paired;  // the edge expected, none for no sample
};

// The fix of second kT whose output began at kT + 0.2 s on the system clock.
const timespec kStart = at(kT, 200000000);

class PulsePairing : public testing::TestWithParam<PulseCase> {};

TEST_P(PulsePairing, OneEdgeBeforeTheSecondsOutput) {
    const PulseCase& c = GetParam();
    const auto pair =
        pairPulse(c.recent, TimeSample{c.fixTime, kStart, kSentencePrecision}, c.lastPaired);
    ASSERT_EQ(pair.has_value(), c.paired.has_value());
    if (pair) {
        EXPECT_EQ(pair->sequence, *c.paired);
        const PpsEdge& edge =
            *std::find_if(c.recent.begin(), c.recent.end(),
                          [&](const PpsEdge& e) { return e.sequence == *c.paired; });
        EXPECT_EQ(pair->sample.clock.tv_sec, edge.clock.tv_sec);
        EXPECT_EQ(pair->sample.clock.tv_nsec, edge.clock.tv_nsec);
        EXPECT_EQ(pair->sample.real.tv_sec, kT);
        EXPECT_EQ(pair->sample.real.tv_nsec, 0);
        EXPECT_EQ(pair->sample.precision, kPulsePrecision);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, PulsePairing,
    testing::Values(
        PulseCase{"OnTime", {{7, at(kT, 80000000)}}, 6, at(kT, 0), 7},
        PulseCase{"Early", {{7, at(kT - 1, 310000000)}}, 6, at(kT, 0), 7},
        // 950 ms back: the previous second's edge; this second's is missing.
        PulseCase{"TooEarly", {{7, at(kT - 1, 250000000)}}, 6, at(kT, 0), std::nullopt},
        // After the output began: the receiver's next pulse, not this one.
        PulseCase{"Late", {{7, at(kT, 210000000)}}, 6, at(kT, 0), std::nullopt},
        PulseCase{"NoEdge", {}, 6, at(kT, 0), std::nullopt},
        PulseCase{"FetchedTwice", {{7, at(kT, 80000000)}, {7, at(kT, 80000000)}}, 6, at(kT, 0), 7},
        PulseCase{"AlreadyUsed", {{7, at(kT, 80000000)}}, 7, at(kT, 0), std::nullopt},
        PulseCase{"TwoEdgesInOneSecond",
                  {{7, at(kT, 80000000)}, {8, at(kT, 120000000)}},
                  6,
                  at(kT, 0),
                  std::nullopt},
        // The fix of the second before never came: its edge is left over.
        PulseCase{
            "FixMissing", {{6, at(kT - 1, 80000000)}, {7, at(kT, 80000000)}}, 5, at(kT, 0), 7},
        PulseCase{"FirstEver", {{7, at(kT, 80000000)}}, std::nullopt, at(kT, 0), 7},
        PulseCase{
            "FixBetweenSeconds", {{7, at(kT, 80000000)}}, 6, at(kT, 500000000), std::nullopt}),
    caseName);

TEST(PpsDevice, RefusesWhatIsNoPulseSource) {
    EXPECT_EQ(errorOf([] { PpsDevice("/dev/null"); }), "/dev/null is not a PPS device");
    EXPECT_EQ(errorOf([] { PpsDevice("/nonexistent/pps0"); }),
              "cannot open the PPS device /nonexistent/pps0: No such file or directory");
}

// --- The clients' timing reports --------------------------------------------------

TEST(TimingReports, TimeAndClockInWholeSecondsAndNanoseconds) {
    const TimeSample toff{at(kT, 0), at(kT - 1, 987654321), kSentencePrecision};
    EXPECT_EQ(toffReport(toff, "/dev/ttyS1"),
              R"({"class":"TOFF","device":"/dev/ttyS1","real_sec":1735130096,"real_nsec":0,)"
              R"("clock_sec":1735130095,"clock_nsec":987654321,"precision":-2})");
    const TimeSample pulse{at(kT, 0), at(kT, 1234), kPulsePrecision};
    EXPECT_EQ(ppsReport(pulse, "/dev/ttyS1", "NTP1"),
              R"({"class":"PPS","device":"/dev/ttyS1","real_sec":1735130096,"real_nsec":0,)"
              R"("clock_sec":1735130096,"clock_nsec":1234,"precision":-20,"shm":"NTP1"})");
    EXPECT_EQ(ppsReport(pulse, "/dev/ttyS1", "").find("shm"), std::string::npos);
}

// --- The live clock ------------------------------------------------------------------

struct RewriteCase {
    const char* name;
    std::string line, expected;
};

class LiveClockRewrite : public testing::TestWithParam<RewriteCase> {};

TEST_P(LiveClockRewrite, TimeDateAndChecksum) {
    EXPECT_EQ(rewriteTime(GetParam().line, kT), GetParam().expected);
}

const std::string kRmcTail = ",A,4807.03800,N,01131.00002,E,0.017,,";
const std::string kGgaTail = ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";

INSTANTIATE_TEST_SUITE_P(
    Table, LiveClockRewrite,
    testing::Values(
        RewriteCase{"Rmc", "$GPRMC,083000.00" + kRmcTail + "140524,,,A*7B\r\n",
                    "$GPRMC,123456.00" + kRmcTail + "251224,,,A*73\r\n"},
        RewriteCase{"GgaFractionZeroed", "$GNGGA,083000.50" + kGgaTail + "*74\n",
                    "$GNGGA,123456.00" + kGgaTail + "*7D\n"},
        RewriteCase{"GllTimeAfterPosition", "$GPGLL,4807.038,N,01131.000,E,083000.500,A,A*55",
                    "$GPGLL,4807.038,N,01131.000,E,123456.000,A,A*5C"},
        RewriteCase{"ZdaFullDate", "$GPZDA,083000.00,14,05,2024,00,00*69\r\n",
                    "$GPZDA,123456.00,25,12,2024,00,00*61\r\n"},
        RewriteCase{"Gst", "$GPGST,083000.00,1.2,,,,0.9,0.8,1.5*74",
                    "$GPGST,123456.00,1.2,,,,0.9,0.8,1.5*78"},
        RewriteCase{"LowerCaseChecksum", "$GPRMC,083000.00" + kRmcTail + "140524,,,A*7b",
                    "$GPRMC,123456.00" + kRmcTail + "251224,,,A*73"},
        RewriteCase{"NoChecksumStaysWithout", "$GPRMC,083000.00" + kRmcTail + "140524,,,A\n",
                    "$GPRMC,123456.00" + kRmcTail + "251224,,,A\n"},
        // Off by one bit before, off by the same bit after.
        RewriteCase{"MismatchKept", "$GPRMC,083000.00" + kRmcTail + "140524,,,A*7A\r\n",
                    "$GPRMC,123456.00" + kRmcTail + "251224,,,A*72\r\n"},
        RewriteCase{"MalformedChecksumUntouched", "$GPGST,083000.00,1.2,,,,0.9,0.8,1.5*7\r\n",
                    "$GPGST,083000.00,1.2,,,,0.9,0.8,1.5*7\r\n"},
        RewriteCase{"NoTimeYet", "$GPRMC,,V,,,,,,,,,,N*53\r\n", "$GPRMC,,V,,,,,,,,,,N*53\r\n"},
        RewriteCase{"NoTimeField", "$GPGSV,1,1,01,02,59,329,41*4A\r\n",
                    "$GPGSV,1,1,01,02,59,329,41*4A\r\n"},
        RewriteCase{"FragmentBeforeTheSentence", "29,41*7$GPGST,083000.00,1.2,,,,0.9,0.8,1.5*74",
                    "29,41*7$GPGST,123456.00,1.2,,,,0.9,0.8,1.5*78"}),
    caseName);

TEST(LiveClockEpochs, ANewTimeStartsAnEpoch) {
    const std::string capture =
        "0.93,519.2,M*5C\r\n"  // the end of a line cut off
        "$GPRMC,082959.00" +
        kRmcTail +
        "140524,,,A*71\r\n"
        "$GPTXT,01,01,02,ANTSTATUS=OK*3B\r\n"  // no time: stays with 08:29:59
        "$GPGGA,083000.00" +
        kGgaTail +
        "*7E\r\n"
        "$GPGSA,A,3,02,04,05,,,,,,,,,,1.81,1.07,1.44*04\r\n"
        "$GPRMC,083000.00" +
        kRmcTail +
        "140524,,,A*7B\r\n"  // same second: same epoch
        "$GPRMC,083001.00" +
        kRmcTail +
        "140524,,,A*7A\r\n"  // RMC first
        "$GPGGA,083001.00" +
        kGgaTail + "*7F";  // no line end at the end
    const Epochs epochs = splitEpochs({capture.begin(), capture.end()});
    EXPECT_EQ(epochs.lead, "0.93,519.2,M*5C\r\n");
    ASSERT_EQ(epochs.epochs.size(), 3u);
    EXPECT_EQ(epochs.epochs[0].rfind("$GPRMC,082959", 0), 0u);
    EXPECT_NE(epochs.epochs[0].find("GPTXT"), std::string::npos);
    EXPECT_EQ(epochs.epochs[1].rfind("$GPGGA,083000", 0), 0u);
    EXPECT_NE(epochs.epochs[1].find("$GPRMC,083000"), std::string::npos);
    EXPECT_EQ(epochs.epochs[2].rfind("$GPRMC,083001", 0), 0u);
    EXPECT_EQ(epochs.lead + epochs.epochs[0] + epochs.epochs[1] + epochs.epochs[2], capture);
}

TEST(LiveClockPace, OnlyTheLinesOwn) {
    EXPECT_EQ(errorOf([] { checkLiveClockPace(Pace{}); }), "");
    EXPECT_NE(errorOf([] { checkLiveClockPace(Pace{2.0, false, false}); }), "");
    EXPECT_NE(errorOf([] { checkLiveClockPace(Pace{1.0, true, false}); }), "");
}

// The pacing as the library sees it: each epoch read from the line at the
// second its sentences name. The sample of its first sentence, taken when the
// line end arrives, must land within 50 ms of that second.
TEST(LiveClockFeed, EachEpochBeginsAtTheSecondItNames) {
    const std::string path =
        std::filesystem::temp_directory_path() / ("vyr-live-" + std::to_string(getpid()));
    PtyLine line(path);
    std::vector<char> capture;
    {
        const std::string all = test::readFile(VYR_TEST_PROJECT_DATA_DIR "/drive-gps-only.nmea");
        size_t end = 0;
        for (int epoch = 0; epoch < 3; ++epoch) {  // the cut-off lead, 08:29:59 and two more
            end = all.find("$GPGGA", end + 1);
        }
        capture.assign(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(end));
    }
    const int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct Arrival {
        std::string text;
        timespec clock;
    };
    std::vector<Arrival> lines;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        std::string text;
        char c;
        pollfd in{fd, POLLIN, 0};
        while (!done.load() || poll(&in, 1, 0) > 0) {
            if (poll(&in, 1, 50) <= 0 || read(fd, &c, 1) != 1) {
                continue;
            }
            if (c == '\n') {
                timespec now{};
                clock_gettime(CLOCK_REALTIME, &now);
                lines.push_back({text, now});
                text.clear();
            } else if (c != '\r') {
                text += c;
            }
        }
    });
    feedLiveClock(
        line, capture, Pace{}, [] { return true; }, [](size_t) {});
    EXPECT_TRUE(line.drain(2000, [] { return true; }));
    done.store(true);
    reader.join();
    close(fd);

    int epochs = 0;
    std::string lastTime;
    for (const Arrival& arrival : lines) {
        const size_t dollar = arrival.text.find('$');
        if (dollar == std::string::npos) {
            continue;  // the cut-off lead
        }
        const std::string sentence = arrival.text.substr(dollar);
        EXPECT_EQ(VYR_GPS_NmeaChecksum(sentence.c_str(), static_cast<uint32_t>(sentence.size())),
                  VYR_GPS_CHECKSUM_OK)
            << sentence;
        const std::string type = sentence.substr(3, 3);
        if (type != "GGA" && type != "RMC") {
            continue;
        }
        const std::string time = sentence.substr(7, 6);
        if (time == lastTime) {
            continue;
        }
        lastTime = time;
        ++epochs;
        const TimeSample sample =
            sentenceTimeSample(at(0, 0), arrival.clock, sentence.size() + kLineEndBytes);
        const time_t named = sample.clock.tv_sec + (sample.clock.tv_nsec > 500000000 ? 1 : 0);
        const double began = static_cast<double>(sample.clock.tv_sec - named) +
                             static_cast<double>(sample.clock.tv_nsec) * 1e-9;
        std::tm utc{};
        gmtime_r(&named, &utc);
        char expected[16];
        std::snprintf(expected, sizeof expected, "%02d%02d%02d", utc.tm_hour, utc.tm_min,
                      utc.tm_sec);
        EXPECT_EQ(time, expected) << sentence;
        EXPECT_TRUE(began > -0.005 && began < 0.05) << sentence << " began at " << began;
    }
    EXPECT_EQ(epochs, 3);
}

// --- chrony's socket without chronyd ------------------------------------------------

TEST(ChronySock, DropsQuietlyWhileNobodyListensAndResumes) {
    const std::string path =
        std::filesystem::temp_directory_path() / ("vyr-sock-" + std::to_string(getpid()));
    unlink(path.c_str());
    std::vector<std::string> log;
    ChronySock sender(path, [&log](const std::string& text) { log.push_back(text); });
    const TimeSample sample{at(kT, 0), at(kT, 5000000), kSentencePrecision};

    EXPECT_FALSE(sender.send(sample, false));
    EXPECT_FALSE(sender.send(sample, false));
    EXPECT_EQ(log.size(), 1u);

    const auto listen = [&path] {
        const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return fd;
    };
    int daemon = listen();
    EXPECT_TRUE(sender.send(sample, false));
    EXPECT_TRUE(sender.send(sample, true));
    SockSample received[2]{};
    for (SockSample& datagram : received) {
        EXPECT_EQ(recv(daemon, &datagram, sizeof datagram + 1, MSG_DONTWAIT),
                  static_cast<ssize_t>(sizeof(SockSample)));
    }
    const SockSample expected = sockSample(sample, false);
    EXPECT_EQ(std::memcmp(&received[0], &expected, sizeof expected), 0);
    EXPECT_EQ(received[1].pulse, 1);
    EXPECT_EQ(log.size(), 2u);

    // chronyd restarts: gone for a while, then bound again at the same path.
    close(daemon);
    unlink(path.c_str());
    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(sender.send(sample, false));
    }
    EXPECT_EQ(log.size(), 3u);
    daemon = listen();
    EXPECT_TRUE(sender.send(sample, false));
    ASSERT_EQ(log.size(), 4u);
    EXPECT_NE(log[0].find("not listening"), std::string::npos) << log[0];
    EXPECT_NE(log[1].find("is listening"), std::string::npos) << log[1];
    EXPECT_NE(log[2].find("stopped listening"), std::string::npos) << log[2];
    EXPECT_NE(log[3].find("is listening"), std::string::npos) << log[3];
    close(daemon);
    unlink(path.c_str());
}

// --- The NTP shared memory -----------------------------------------------------------

TEST(NtpShm, WritesTheHandshakeWithThePermissionsOfItsUnit) {
    for (const auto& [unit, mode] : {std::pair{1, 0600}, std::pair{7, 0666}}) {
        const key_t key = static_cast<key_t>(kShmKeyBase + unit);
        ASSERT_LT(shmget(key, 0, 0), 0) << "unit " << unit << " is in use on this machine";
        struct Remove {
            key_t key;
            ~Remove() { shmctl(shmget(key, 0, 0), IPC_RMID, nullptr); }
        } remove{key};
        NtpShm writer(unit);
        const int id = shmget(key, 0, 0);
        shmid_ds info{};
        ASSERT_EQ(shmctl(id, IPC_STAT, &info), 0);
        EXPECT_EQ(info.shm_perm.mode & 0777, mode) << "unit " << unit;
        EXPECT_EQ(info.shm_segsz, sizeof(ShmTime));
        auto* shm = static_cast<ShmTime*>(shmat(id, nullptr, SHM_RDONLY));
        ASSERT_NE(shm, reinterpret_cast<ShmTime*>(-1));

        writer.write({at(kT, 0), at(kT - 1, 987654321), kSentencePrecision});
        writer.write({at(kT + 1, 0), at(kT, 987654999), kSentencePrecision});
        EXPECT_EQ(shm->mode, 1);
        EXPECT_EQ(shm->count, 4);  // raised before and after each sample
        EXPECT_EQ(shm->valid, 1);
        EXPECT_EQ(shm->clockTimeStampSec, kT + 1);
        EXPECT_EQ(shm->clockTimeStampUSec, 0);
        EXPECT_EQ(shm->clockTimeStampNSec, 0u);
        EXPECT_EQ(shm->receiveTimeStampSec, kT);
        EXPECT_EQ(shm->receiveTimeStampUSec, 987654);
        EXPECT_EQ(shm->receiveTimeStampNSec, 987654999u);
        EXPECT_EQ(shm->leap, 0);
        EXPECT_EQ(shm->precision, -2);
        EXPECT_EQ(writer.name(), "NTP" + std::to_string(unit));
        shmdt(shm);
    }
}

}  // namespace
}  // namespace vyr::tool
