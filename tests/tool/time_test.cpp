// Time from the receiver without a time daemon: the sample of an epoch, the
// pairing of pulses with fixes, the timing reports, the socket sender and the
// shared-memory writer.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>

#include "chrony_sock.h"
#include "ntp_shm.h"
#include "pps.h"
#include "support/shm_unit.h"
#include "time_sample.h"
#include "time_sources.h"
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

std::pair<int64_t, long> pairOf(const timespec& t) {
    return {t.tv_sec, t.tv_nsec};
}

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
    EXPECT_EQ(pairOf(sample.clock), pairOf(c.clock));
    const double offset = static_cast<double>(c.fix.tv_sec - c.clock.tv_sec) +
                          static_cast<double>(c.fix.tv_nsec - c.clock.tv_nsec) * 1e-9;
    EXPECT_NEAR(offsetSeconds(sample), offset, 1e-9);

    // The datagram: microseconds of the clock, offset to the reference
    // (pulse and magic: the chronyd test).
    const SockSample datagram = sockSample(sample, false);
    EXPECT_EQ(std::pair(int64_t{datagram.tv.tv_sec}, int64_t{datagram.tv.tv_usec}),
              std::pair(int64_t{c.clock.tv_sec}, int64_t{c.clock.tv_nsec / 1000}));
    EXPECT_NEAR(datagram.offset, offset + static_cast<double>(c.clock.tv_nsec % 1000) * 1e-9, 1e-9);
    EXPECT_EQ(datagram.leap, 0);
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
    EXPECT_EQ(pairOf(*instant), pairOf(at(kT, 250000000)));
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
        EXPECT_EQ(pairOf(pair->sample.clock), pairOf(edge.clock));
        EXPECT_EQ(pairOf(pair->sample.real), pairOf(at(kT, 0)));
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

// --- What serve sends for each epoch ------------------------------------------------

// Epochs one after another through one publisher, as serve hands them on: a
// sample only at the end of a trusted epoch with that epoch's fix, its pulse
// only from an edge not used before (a second sent twice pairs once).
struct EpochStep {
    const char* name;
    time_t second;  // after kT
    uint64_t fixEpoch, endEpoch;
    bool trusted;
    std::vector<PpsEdge> newEdges;
    int baud;
    std::optional<long> sentenceClockNanos;  // within second kT + step
    std::optional<uint32_t> pulse;
};

TEST(TimePublisher, SendsTrustedEpochsAndTheirPulsesOnce) {
    // Each epoch's first sentence (70 bytes + CR LF) was in at 0.3 s.
    const std::vector<EpochStep> steps = {
        {"TrustedWithItsEdge", 0, 1, 1, true, {{7, at(kT, 80000000)}}, 9600, 225000000, 7},
        {"EdgeAlreadyUsed", 0, 2, 2, true, {}, 9600, 225000000, std::nullopt},
        {"NotTrusted",
         2,
         3,
         3,
         false,
         {{9, at(kT + 2, 80000000)}},
         9600,
         std::nullopt,
         std::nullopt},
        {"EndOfAnotherEpoch",
         3,
         4,
         5,
         true,
         {{10, at(kT + 3, 80000000)}},
         9600,
         std::nullopt,
         std::nullopt},
        {"SlowerLine", 4, 6, 6, true, {{11, at(kT + 4, 90000000)}}, 4800, 150000000, 11},
    };
    RecentEdges edges;
    std::vector<TimeSample> sentences, pulses;
    TimePublisher publisher({[&](const TimeSample& t) { sentences.push_back(t); },
                             [&](const TimeSample& t) { pulses.push_back(t); }},
                            &edges);
    for (const EpochStep& step : steps) {
        SCOPED_TRACE(step.name);
        const time_t second = kT + step.second;
        sentences.clear();
        pulses.clear();
        for (const PpsEdge& edge : step.newEdges) {
            edges.add(edge);
        }
        publisher.setBaud(step.baud);
        Fix fix;
        fix.epoch = step.fixEpoch;
        tm civil{};
        gmtime_r(&second, &civil);
        fix.time = UtcTime{civil.tm_year + 1900,
                           civil.tm_mon + 1,
                           civil.tm_mday,
                           civil.tm_hour,
                           civil.tm_min,
                           civil.tm_sec,
                           0};
        EpochEnd end{step.endEpoch, false, 0, {at(second, 300000000), 70, step.trusted}};
        publisher.take(fix);
        publisher.take(Sky{});
        publisher.take(end);

        ASSERT_EQ(sentences.size(), step.sentenceClockNanos ? 1u : 0u);
        if (step.sentenceClockNanos) {
            EXPECT_EQ(pairOf(sentences[0].real), pairOf(at(second, 0)));
            EXPECT_EQ(pairOf(sentences[0].clock), pairOf(at(second, *step.sentenceClockNanos)));
        }
        ASSERT_EQ(pulses.size(), step.pulse ? 1u : 0u);
        if (step.pulse) {
            EXPECT_EQ(pairOf(pulses[0].real), pairOf(at(second, 0)));
            EXPECT_EQ(pairOf(pulses[0].clock), pairOf(step.newEdges.back().clock));
            EXPECT_EQ(pulses[0].precision, kPulsePrecision);
        }
    }
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

    // chronyd restarts: gone for a while, then bound again at the same path.
    close(daemon);
    unlink(path.c_str());
    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(sender.send(sample, false));
    }
    daemon = listen();
    EXPECT_TRUE(sender.send(sample, false));
    // One line for each change, none for each sample dropped.
    std::vector<std::string> changes;
    for (const std::string& line : log) {
        changes.push_back(
            std::regex_replace(line, std::regex(".*(not|is|stopped) listening.*"), "$1"));
    }
    EXPECT_EQ(changes, (std::vector<std::string>{"not", "is", "stopped", "is"}));
    close(daemon);
    unlink(path.c_str());
}

// --- The NTP shared memory -----------------------------------------------------------

TEST(NtpShm, WritesTheHandshakeWithThePermissionsOfItsUnit) {
    for (const auto& [unit, mode] : {std::pair{1, 0600}, std::pair{7, 0666}}) {
        const key_t key = static_cast<key_t>(kShmKeyBase + unit);
        ASSERT_TRUE(test::claimShmUnit(unit));
        const test::ShmUnitRemover remove{unit};
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
