// A real chronyd takes the tool's time samples: from chrony's socket, from
// the NTP shared memory and, as pulses, from a second socket locked to the
// first. The reference runs 125 ms ahead of the system clock, so a sign or
// unit slip in any of the three shows as a source 250 ms or more apart.
#include <gtest/gtest.h>
#include <sys/shm.h>

#include <cmath>
#include <regex>

#include "chrony_sock.h"
#include "ntp_shm.h"
#include "support/chronyd.h"
#include "support/shm_unit.h"

namespace vyr::tool {
namespace {

constexpr long kAheadNanos = 125000000;

// Sleeps until kAheadNanos before the next whole second of the system clock
// and returns that second with the system clock read on waking.
TimeSample nextSecond() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const time_t second = now.tv_sec + (now.tv_nsec < 1000000000 - kAheadNanos ? 1 : 2);
    const timespec wake{second - 1, 1000000000 - kAheadNanos};
    clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &wake, nullptr);
    clock_gettime(CLOCK_REALTIME, &now);
    return {{second, 0}, now, kSentencePrecision};
}

constexpr int kShmUnit = 41;  // this test's own

TEST(Chrony, TakesSocketSharedMemoryAndPulseSamples) {
    ASSERT_TRUE(test::claimShmUnit(kShmUnit));
    const test::ShmUnitRemover removeAfter{kShmUnit};
    test::Chronyd chronyd({{"refclock SOCK {dir}/refclock.sock refid NMEA poll 0 filter 1",
                            "refclock SHM " + std::to_string(kShmUnit) + " refid SHM0 poll 0",
                            "refclock SOCK {dir}/pps.sock refid PPS poll 0 filter 1 lock NMEA"}});
    ASSERT_TRUE(chronyd.running()) << chronyd.log();
    const auto quiet = [](const std::string&) {};
    ChronySock nmea(chronyd.dir() + "/refclock.sock", quiet);
    ChronySock pulses(chronyd.dir() + "/pps.sock", quiet);
    NtpShm shm(kShmUnit);

    const auto reached = [&chronyd](const std::string& name) {
        const auto row = chronyd.source(name);
        return row.size() >= 10 && row[5] != "0";
    };
    std::string tracking;
    for (int second = 0; second < 20; ++second) {
        const TimeSample sample = nextSecond();
        EXPECT_TRUE(nmea.send(sample, false));
        EXPECT_TRUE(pulses.send(sample, true));
        shm.write(sample);
        tracking = chronyd.chronyc("tracking").second;
        if (tracking.find("(NMEA)") != std::string::npos && reached("SHM0") && reached("PPS")) {
            break;
        }
    }
    EXPECT_NE(tracking.find("Reference ID    : 4E4D4541 (NMEA)"), std::string::npos) << tracking;
    std::smatch match;
    ASSERT_TRUE(std::regex_search(tracking, match,
                                  std::regex(R"(System time +: ([0-9.]+) seconds (slow|fast))")))
        << tracking;
    EXPECT_EQ(match[2], "slow");
    EXPECT_NEAR(std::stod(match[1]), 0.125, 0.015) << tracking;
    // The other two agree with the one selected, to far better than 50 ms.
    for (const char* name : {"SHM0", "PPS"}) {
        const auto row = chronyd.source(name);
        ASSERT_GE(row.size(), 10u) << name << "\n" << chronyd.chronyc("sources").second;
        EXPECT_NE(row[5], "0") << name << " never reached";
        EXPECT_LT(std::fabs(std::stod(row[7])), 0.005) << name << "\n"
                                                       << chronyd.chronyc("sources").second;
    }
}

}  // namespace
}  // namespace vyr::tool
