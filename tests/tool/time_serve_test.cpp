// vyr-gps serve as a time source, run as a user runs it: which fixes give a
// time sample (chrony's socket, bound here, counts them) and a TOFF report,
// and a real chronyd steered by a live-clock replay through the socket and
// the NTP shared memory.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>

#include "refclock_layouts.h"
#include "support/chronyd.h"
#include "support/nmea.h"
#include "support/shm_unit.h"
#include "support/tool_process.h"

namespace vyr::test {
namespace {

using Json = nlohmann::json;

std::string withChecksum(const std::string& body) {
    return nmea(body) + "\r\n";
}

std::string hhmmss(int second) {
    char text[16];
    std::snprintf(text, sizeof text, "1200%02d.00", second);
    return text;
}

// One second of a receiver that sends GGA, GSA, RMC, then its GSV series, as
// the bundled captures do; what differs from a good second is its fault.
enum class Fault { None, StatusV, NoDate, GgaOfTheSecondBefore, GgaOfTheSecondAfter, BadGsv };

std::string epoch(int second, Fault fault) {
    const int ggaSecond = fault == Fault::GgaOfTheSecondBefore  ? second - 1
                          : fault == Fault::GgaOfTheSecondAfter ? second + 1
                                                                : second;
    std::string out =
        withChecksum("GPGGA," + hhmmss(ggaSecond) +
                     ",4807.03800,N,01131.00002,E,1,09,1.07,519.6,M,47.6,M,,") +
        withChecksum("GPGSA,A,3,02,04,05,10,11,12,16,17,18,,,,1.81,1.07,1.44") +
        withChecksum("GPRMC," + hhmmss(second) + (fault == Fault::StatusV ? ",V" : ",A") +
                     ",4807.03800,N,01131.00002,E,0.017,," +
                     (fault == Fault::NoDate ? "" : "140524") + ",,,A");
    std::string gsv = withChecksum(
        "GPGSV,1,1,04,02,59,329,41,04,28,282,33,05,54,184,43,10,60,"
        "200,40");
    if (fault == Fault::BadGsv) {
        gsv[gsv.size() - 3] = gsv[gsv.size() - 3] == '0' ? '1' : '0';  // the checksum's digit
    }
    return out + gsv;
}

// A datagram socket bound where the tool sends chrony's samples.
class SampleSocket {
public:
    explicit SampleSocket(const std::string& path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        unlink(path.c_str());
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~SampleSocket() {
        close(fd_);
        unlink(path_.c_str());
    }
    // Samples until none came for quiet; each as received, with its size.
    std::vector<std::pair<ssize_t, tool::SockSample>> read(Clock::duration quiet) {
        std::vector<std::pair<ssize_t, tool::SockSample>> out;
        for (;;) {
            pollfd fd{fd_, POLLIN, 0};
            if (poll(&fd, 1, static_cast<int>(quiet / 1ms)) != 1) {
                return out;
            }
            tool::SockSample sample{};
            const ssize_t size = recv(fd_, &sample, sizeof sample + 8, MSG_TRUNC);
            out.emplace_back(size, sample);
        }
    }

private:
    std::string path_;
    int fd_ = -1;
};

// Seconds 10 to 17 with a fault each or none; the last second only closes the
// one before (an epoch ends when the next begins).
TEST(ServeTime, OnlyTrustedFixesGiveSamplesAndTimeOffsets) {
    const std::vector<std::pair<Fault, bool>> seconds = {
        {Fault::None, true},
        {Fault::StatusV, false},
        {Fault::None, true},
        {Fault::GgaOfTheSecondBefore, false},
        {Fault::None, true},
        {Fault::NoDate, false},
        {Fault::None, true},
        {Fault::GgaOfTheSecondAfter, false},
        {Fault::None, true},
        {Fault::BadGsv, false},
        // The second after a failed last sentence: which one it ended is unknown.
        {Fault::None, false},
        {Fault::None, true}};
    // Seconds 7 to 9 first, as a receiver sends them.
    std::string capture = epoch(7, Fault::None) + epoch(8, Fault::None) + epoch(9, Fault::None);
    std::vector<int> trusted = {7, 8, 9};
    for (size_t i = 0; i < seconds.size(); ++i) {
        const int second = 10 + static_cast<int>(i) * 2;  // room for a neighbour's GGA
        capture += epoch(second, seconds[i].first);
        if (seconds[i].second) {
            trusted.push_back(second);
        }
    }
    capture += epoch(50, Fault::None);
    const std::string capturePath = testing::TempDir() + "time-faults.nmea";
    std::ofstream(capturePath, std::ios::binary) << capture;
    const std::string socketPath = testing::TempDir() + "time-samples.sock";
    SampleSocket samples(socketPath);

    Serve serve("--replay " + capturePath + " --fast --wait-watchers 2 --chrony-sock " +
                socketPath);
    Connection timing(serve.port());
    Connection plain(serve.port());
    timing.send(R"(?WATCH={"enable":true,"pps":true};)");
    plain.send(kWatch);
    const auto received = samples.read(3s);
    timing.readFor(500ms);
    plain.readFor(100ms);

    // Seconds since 1970 of 2024-05-14 12:00:00.
    constexpr int64_t kNoon = 1715688000;
    std::vector<int> sampled;
    std::map<int, tool::SockSample> bySecond;
    for (const auto& [size, sample] : received) {
        EXPECT_EQ(size, ssize_t(sizeof(tool::SockSample)));
        EXPECT_EQ(sample.magic, tool::kSockMagic);
        EXPECT_EQ(sample.pulse, 0);
        EXPECT_EQ(sample.leap, 0);
        const double real = static_cast<double>(sample.tv.tv_sec - kNoon) +
                            static_cast<double>(sample.tv.tv_usec) * 1e-6 + sample.offset;
        const int second = static_cast<int>(std::lround(real));
        EXPECT_NEAR(real, second, 1e-6);
        sampled.push_back(second);
        bySecond[second] = sample;
    }
    EXPECT_EQ(sampled, trusted) << serve.log();

    std::vector<int> toffs;
    for (const std::string& line : timing.received()) {
        if (line.find(R"("class":"TOFF")") == std::string::npos) {
            continue;
        }
        const Json toff = Json::parse(line);
        const int second = static_cast<int>(toff["real_sec"].get<int64_t>() - kNoon);
        toffs.push_back(second);
        EXPECT_EQ(toff["real_nsec"], 0);
        EXPECT_EQ(toff["device"], VYR_TEST_DEVICE_PATH);
        // The same instant as the sample chrony got.
        const auto sample = bySecond.find(second);
        ASSERT_NE(sample, bySecond.end()) << line;
        EXPECT_EQ(toff["clock_sec"].get<int64_t>(), int64_t{sample->second.tv.tv_sec});
        EXPECT_EQ(toff["clock_nsec"].get<int64_t>() / 1000, int64_t{sample->second.tv.tv_usec});
    }
    EXPECT_EQ(toffs, trusted);
    for (const std::string& line : plain.received()) {
        EXPECT_EQ(line.find(R"("class":"TOFF")"), std::string::npos) << line;
    }
}

constexpr int kShmUnit = 42;  // this test's own

TEST(ServeTime, ChronydFollowsALiveClockReplayThroughSocketAndSharedMemory) {
    ASSERT_TRUE(claimShmUnit(kShmUnit));
    const ShmUnitRemover removeAfter{kShmUnit};
    Chronyd chronyd(
        {{"refclock SOCK {dir}/refclock.sock refid NMEA poll 0 filter 1 prefer",
          "refclock SHM " + std::to_string(kShmUnit) + " refid SHM poll 0 dpoll -2 filter 1"}});
    ASSERT_TRUE(chronyd.running()) << chronyd.log();
    Serve serve("--replay " VYR_TEST_PROJECT_DATA_DIR
                "/drive-gps-only.nmea --now --speed 1 "
                "--chrony-sock " +
                chronyd.dir() + "/refclock.sock --ntp-shm " + std::to_string(kShmUnit));

    const std::regex offset(R"(System time +: ([0-9.]+) seconds)");
    std::string tracking;
    std::vector<std::string> shm;
    bool reached = false;
    for (const auto deadline = Clock::now() + 30s; !reached && Clock::now() < deadline;) {
        std::this_thread::sleep_for(500ms);
        tracking = chronyd.chronyc("tracking").second;
        shm = chronyd.source("SHM");
        std::smatch match;
        reached = tracking.find("Reference ID    : 4E4D4541 (NMEA)") != std::string::npos &&
                  std::regex_search(tracking, match, offset) && std::stod(match[1]) < 0.05 &&
                  shm.size() >= 10 && shm[5] != "0" && std::fabs(std::stod(shm[8])) < 0.05;
    }
    EXPECT_TRUE(reached) << tracking << "\n"
                         << chronyd.chronyc("sources").second << "\n"
                         << serve.log();
    std::printf("%s\n%s\n", tracking.c_str(), chronyd.chronyc("sources").second.c_str());
}

}  // namespace
}  // namespace vyr::test
