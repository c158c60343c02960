// The epoch assembler of vyr-gps over real captures: receivers that send RMC
// first and GGA first, every constellation in the sky view, and a noisy line
// on which nothing presented may differ from the clean capture.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "assembler_support.h"
#include "reports.h"

namespace vyr::tool {
namespace {

using namespace vyr::tool::test;

// --- Real receivers -------------------------------------------------------------

// The GGA of each second in a capture: altitude, HDOP and satellites in use.
struct GgaOfSecond {
    std::optional<double> altitude, hdop;
    int satellites = 0;
};

std::map<std::string, GgaOfSecond> ggaBySecond(const std::string& bytes) {
    std::map<std::string, GgaOfSecond> out;
    vyr::test::frameCapture(bytes, [&](std::string_view s, size_t, size_t) {
        GpsGga gga{};
        const std::string text(s);
        if (sentenceType(text) == SentenceType::Gga &&
            VYR_GPS_NmeaChecksum(text.data(), static_cast<uint32_t>(text.size())) > 0 &&
            GPSPARSER_ParseGGA(&gga, text.c_str()) == 1 && gga.quality > 0) {
            char key[16];
            std::snprintf(key, sizeof key, "%02d:%02d:%02d", gga.time.hours, gga.time.minutes,
                          gga.time.seconds);
            out[key] = {valueOf(gga.altitude), valueOf(gga.hdop), gga.satellitesInUse};
        }
    });
    return out;
}

struct ReceiverCase {
    const char* capture;
    int fixMode;           // what the receiver's GSA says while it has a fix
    const char* released;  // the sentence whose arrival completes the fix
    bool hdopIsGga;        // its GSA's HDOP is its GGA's, second by second
};

void PrintTo(const ReceiverCase& c, std::ostream* os) {
    *os << c.capture;
}

class Receivers : public testing::TestWithParam<ReceiverCase> {};

// Mode, altitude and DOPs of each fix come from the RMC's own second, on
// receivers that send RMC first and on those that send GGA first, and the fix
// is presented as soon as the last of its sentences has arrived.
TEST_P(Receivers, EachFixIsItsOwnSecondsAndOnTime) {
    const ReceiverCase& c = GetParam();
    const std::string bytes = capture(c.capture);
    const auto gga = ggaBySecond(bytes);
    const Released run = assembleCapture(bytes);
    int fixes = 0, checked = 0;
    for (size_t i = 0; i < run.presented.size(); ++i) {
        const auto* fix = std::get_if<Fix>(&run.presented[i]);
        if (fix == nullptr) {
            continue;
        }
        ++fixes;
        const auto second = gga.find(fix->time ? fix->time->iso8601(0).substr(11, 8) : "");
        if (!fix->valid || second == gga.end()) {
            continue;
        }
        ++checked;
        std::string where = c.capture;  // appends: GCC 12 -O2 warns (-Wrestrict) on "a" + b
        where += ' ';
        where += fix->time->iso8601(0);
        EXPECT_EQ(fix->mode, c.fixMode) << where;
        EXPECT_EQ(fix->altitude, c.fixMode == 3 ? second->second.altitude : fix->altitude) << where;
        if (c.hdopIsGga) {
            EXPECT_EQ(fix->dops.h, second->second.hdop) << where;
        }
        if (fix->epoch > 2 && run.releasedBy[i] != "end") {  // not the capture's last
            EXPECT_EQ(run.releasedBy[i], c.released) << where;
        }
    }
    EXPECT_GE(checked, std::min<int>(5, static_cast<int>(gga.size()))) << c.capture;
    EXPECT_GE(checked, fixes * 3 / 4 - 2) << c.capture;
}

INSTANTIATE_TEST_SUITE_P(
    Captures, Receivers,
    testing::Values(ReceiverCase{"gpsd/ublox-8.log", 3, "GSA", true},  // RMC VTG GGA GSA ...
                    ReceiverCase{"gpsd/isync.log", 3, "GST", true},    // RMC VTG GGA GSA ... GST
                    ReceiverCase{"AeroRust-nmea/nmea1.log", 3, "GGA", true},     // GSV GSA RMC GGA
                    ReceiverCase{"data/drive-gps-beidou.nmea", 3, "RMC", true},  // GGA GSA RMC
                    ReceiverCase{"gpsd/skytraq-dgps.log", 3, "GST", true},
                    ReceiverCase{"gpsd/mtk-3329.log", 2, "RMC", true},
                    ReceiverCase{"gpsd/polarx2.log", 2, "GSA", true}),  // GST GGA RMC GSA
    captureName<testing::TestParamInfo<ReceiverCase>>);

struct SkyCase {
    const char* capture;
    std::set<int> constellations;  // gnssid
    int gsaSlots;  // the GSAs list the satellites the GGA counts, up to this many; 0: they do not
    std::set<int> firstUsed = {};  // PRNs used in the first sky view, read off the capture
};

void PrintTo(const SkyCase& c, std::ostream* os) {
    *os << c.capture;
}

class Skies : public testing::TestWithParam<SkyCase> {};

TEST_P(Skies, ListEveryConstellationWithTheReceiversUsedFlags) {
    const SkyCase& c = GetParam();
    const std::string bytes = capture(c.capture);
    const auto gga = ggaBySecond(bytes);
    const Released run = assembleCapture(bytes);
    std::map<uint64_t, std::string> secondOfEpoch;  // from its fix: a SKY may come first
    for (const Fix& fix : run.all<Fix>()) {
        secondOfEpoch[fix.epoch] = fix.time ? fix.time->iso8601(0).substr(11, 8) : "";
    }
    std::set<int> seen;
    int compared = 0;
    const auto skies = run.all<Sky>();
    ASSERT_FALSE(skies.empty());
    std::set<int> firstUsed;
    for (const Satellite& satellite : skies.front().satellites) {
        if (satellite.used && !c.firstUsed.empty()) {
            firstUsed.insert(satellite.id.prn);
        }
    }
    EXPECT_EQ(firstUsed, c.firstUsed);
    for (const Sky& sky : skies) {
        for (const Satellite& satellite : sky.satellites) {
            seen.insert(satellite.id.gnssid.value_or(-1));
        }
        const auto second = gga.find(secondOfEpoch[sky.epoch]);
        if (c.gsaSlots > 0 && second != gga.end()) {
            EXPECT_EQ(sky.used(), std::min(second->second.satellites, c.gsaSlots)) << second->first;
            ++compared;
        }
    }
    EXPECT_EQ(seen, c.constellations);
    EXPECT_GE(compared, c.gsaSlots > 0 ? 5 : 0);
}

INSTANTIATE_TEST_SUITE_P(Captures, Skies,
                         testing::Values(
                             // GNGSA 23,09,16,07,26,03,27,22 and 80,70,73,79,69,71 without system
                             // ids (NMEA 4.0): GLONASS by its numbers. Its GGA counts at most 12.
                             SkyCase{"gpsd/ublox-8.log",
                                     {0, 1, 6},
                                     0,
                                     {3, 7, 9, 16, 22, 23, 26, 27, 69, 70, 71, 73, 79, 80}},
                             SkyCase{"AeroRust-nmea/nmea1.log", {0, 6}, 12},  // one GPS GSA
                             SkyCase{"AeroRust-nmea/nmea_with_sat_info.log", {0, 2, 6}, 0},
                             SkyCase{"gpsd/quectel-l76k-dual.log", {0, 3, 6}, 36},
                             SkyCase{"gpsd/telit-pls83-w.log", {0, 2, 3, 6}, 0},
                             SkyCase{"gpsd/st-teseo-liv4f.log", {0, 2, 3}, 0},
                             SkyCase{"data/drive-gps-beidou.nmea", {0, 3}, 24}),
                         captureName<testing::TestParamInfo<SkyCase>>);

// --- A noisy line -------------------------------------------------------------

// A capture with random bit errors. Corruptions that the line's checks cannot
// see (an XOR checksum misses an even number of flips in one bit column, and
// a line that has not yet sent a checksum is taken as it is) are undone: the
// sentences as framed are checked as the tool checks them, and one that would
// be taken although it differs from the clean capture gets its bytes back.
std::string noisy(const std::string& clean, double errorRate, unsigned seed, size_t& flips) {
    std::string bytes = clean;
    std::mt19937_64 random(seed);
    std::geometric_distribution<size_t> gap(errorRate);
    flips = 0;
    for (size_t bit = gap(random); bit < bytes.size() * 8; bit += 1 + gap(random)) {
        bytes[bit / 8] = static_cast<char>(bytes[bit / 8] ^ (1 << (bit % 8)));
        ++flips;
    }
    for (bool undone = true; undone;) {
        std::vector<std::pair<size_t, size_t>> invisible;  // first byte and length
        bool checksummed = false;
        vyr::test::frameCapture(bytes, [&](std::string_view s, size_t begin, size_t end) {
            const int verdict = VYR_GPS_NmeaChecksum(s.data(), static_cast<uint32_t>(s.size()));
            const bool taken = verdict == VYR_GPS_CHECKSUM_OK ||
                               (verdict == VYR_GPS_CHECKSUM_ABSENT && !checksummed);
            checksummed = checksummed || verdict == VYR_GPS_CHECKSUM_OK;
            if (taken &&
                bytes.compare(begin, end + 1 - begin, clean, begin, end + 1 - begin) != 0) {
                invisible.emplace_back(begin, end + 1 - begin);
            }
        });
        for (const auto& [begin, length] : invisible) {
            bytes.replace(begin, length, clean, begin, length);
        }
        undone = !invisible.empty();
    }
    return bytes;
}

// The presented values of each TPV, by its time.
std::map<std::string, Json> presentedValues(const std::string& bytes) {
    std::map<std::string, Json> out;
    for (const Fix& fix : assembleCapture(bytes).all<Fix>()) {
        const Json tpv = Json::parse(tpvReport(fix, "d"));
        Json values = Json::object();
        for (const char* name : {"lat", "lon", "speed", "track", "altHAE", "altMSL"}) {
            if (tpv.contains(name)) {
                values[name] = tpv[name];
            }
        }
        out[tpv.value("time", "no time " + std::to_string(out.size()))] = values;
    }
    return out;
}

struct NoiseCase {
    const char* capture;
    double errorRate;
    unsigned seed;
};

void PrintTo(const NoiseCase& c, std::ostream* os) {
    *os << c.capture << " " << c.errorRate << " seed " << c.seed;
}

class NoisyLine : public testing::TestWithParam<NoiseCase> {};

TEST_P(NoisyLine, NothingPresentedDiffersFromTheCleanLine) {
    const NoiseCase& c = GetParam();
    const std::string clean = capture(c.capture);
    size_t flips = 0;
    const auto expected = presentedValues(clean);
    const auto got = presentedValues(noisy(clean, c.errorRate, c.seed, flips));
    int positions = 0, cleanPositions = 0, withheld = 0, differing = 0;
    for (const auto& [time, values] : expected) {
        cleanPositions += values.contains("lat") ? 1 : 0;
        const auto found = got.find(time);
        for (const auto& [name, value] : values.items()) {
            if (found == got.end() || !found->second.contains(name)) {
                ++withheld;
            } else if (found->second[name] != value) {
                ++differing;
                ADD_FAILURE() << time << " " << name << ": " << found->second[name]
                              << " instead of " << value;
            }
        }
    }
    for (const auto& [time, values] : got) {
        positions += values.contains("lat") ? 1 : 0;
        if (!expected.count(time)) {
            differing += static_cast<int>(values.size());
            ADD_FAILURE() << "a time the clean line never had: " << time << " " << values;
        }
    }
    std::printf(
        "%s at %g, seed %u: %zu bit flips; %zu fixes presented of %zu, %d positions of %d; "
        "%d values held back, %d differ\n",
        c.capture, c.errorRate, c.seed, flips, got.size(), expected.size(), positions,
        cleanPositions, withheld, differing);
    EXPECT_GT(flips, 0u);
    if (c.errorRate <= 1e-4) {
        EXPECT_GE(positions * 100, cleanPositions * 85);
    }
}

INSTANTIATE_TEST_SUITE_P(
    BitErrors, NoisyLine, testing::ValuesIn([] {
        std::vector<NoiseCase> cases;
        for (const char* file : {"data/drive-gps-beidou.nmea", "data/drive-gps-only.nmea"}) {
            for (const double rate : {1e-4, 1e-3}) {
                for (const unsigned seed : {1u, 2u, 3u}) {
                    cases.push_back({file, rate, seed});
                }
            }
        }
        return cases;
    }()));

}  // namespace
}  // namespace vyr::tool
