// The epoch assembler of vyr-gps: what it presents from a receiver's
// sentences, run in process through the library's own framer. Real captures
// of receivers that send RMC first and GGA first, every constellation in the
// sky view, sentences that fail their checksum, and a noisy line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>

#include "assembler.h"
#include "reports.h"
#include "support/framing.h"
#include "support/shell.h"

namespace vyr::tool {
namespace {

using Json = nlohmann::json;

// A sentence with its checksum appended.
std::string nmea(const std::string& body) {
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X", sum);
    return "$" + body + tail;
}

// What an assembler released, with the type letters of the sentence that
// released each presentation.
struct Released {
    std::vector<Presentation> presented;
    std::vector<std::string> releasedBy;
    template <typename T>
    [[nodiscard]] std::vector<T> all() const {
        std::vector<T> out;
        for (const Presentation& p : presented) {
            if (const auto* item = std::get_if<T>(&p)) {
                out.push_back(*item);
            }
        }
        return out;
    }
};

// Sentences one after another as a capture delivers them (no pauses), or
// with the steady time of each.
Released assemble(const std::vector<std::string>& sentences,
                  const std::vector<std::chrono::milliseconds>& at = {}) {
    EpochAssembler assembler;
    Released run;
    std::vector<Presentation> out;
    for (size_t i = 0; i < sentences.size(); ++i) {
        Arrival arrival;
        arrival.steady = std::chrono::steady_clock::time_point(
            i < at.size() ? at[i] : std::chrono::milliseconds(static_cast<int64_t>(i)));
        arrival.realtime.tv_sec = static_cast<time_t>(i);
        out.clear();
        assembler.add(sentences[i], arrival, out);
        for (Presentation& p : out) {
            run.presented.push_back(std::move(p));
            run.releasedBy.push_back(sentences[i].substr(3, 3));
        }
    }
    out.clear();
    assembler.finish(out);
    for (Presentation& p : out) {
        run.presented.push_back(std::move(p));
        run.releasedBy.push_back("end");
    }
    return run;
}

Released assembleCapture(const std::string& bytes) {
    std::vector<std::string> sentences;
    vyr::test::frameCapture(bytes,
                            [&](std::string_view s, size_t, size_t) { sentences.emplace_back(s); });
    return assemble(sentences);
}

// A test name from a parameter's capture file.
template <typename Info>
std::string captureName(const Info& info) {
    std::string name = info.param.capture;
    std::replace_if(
        name.begin(), name.end(), [](char ch) { return !std::isalnum(ch); }, '_');
    return name;
}

std::string capture(const std::string& name) {
    const std::string path = name.starts_with("data/") ? VYR_TEST_PROJECT_DATA_DIR + name.substr(4)
                                                       : VYR_TEST_CAPTURE_DIR "/" + name;
    return vyr::test::readFile(path);
}

// --- Checksums and what a failed sentence withholds ---------------------------

TEST(Assembler, ALineWithoutChecksumsIsTrustedOnlyUntilItSendsOne) {
    const std::string good = nmea("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1");
    std::string lower = good;
    std::transform(lower.end() - 2, lower.end(), lower.end() - 2, ::tolower);
    const struct {
        std::string sentence;
        bool passes;
    } cases[] = {
        {"$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1", true},  // an old receiver's
        {good, true},
        {"$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1", false},  // now a fragment
        {lower, true},
        {good.substr(0, good.size() - 1) + "0", false},
        {good.substr(0, 20) + "\n" + good, false},  // a line end flipped into a letter
    };
    ChecksumGate gate;
    for (const auto& c : cases) {
        EXPECT_EQ(gate.pass(c.sentence), c.passes) << c.sentence;
    }
    EXPECT_EQ(gate.failed(), 3u);
}

// Four seconds of a receiver that sends GGA, GSA, RMC, GSV; every value
// differs from second to second, so that a value of the wrong second shows.
std::vector<std::string> ggaFirstSeconds() {
    std::vector<std::string> out;
    for (int s = 0; s < 4; ++s) {
        char body[160];
        std::snprintf(body, sizeof body,
                      "GPGGA,1200%02d.00,4807.%03d,N,01131.000,E,1,08,0.%d,5%02d.0,M,46.9,M,,", s,
                      100 + s, 5 + s, s);
        out.push_back(nmea(body));
        std::snprintf(body, sizeof body, "GPGSA,A,3,04,05,09,12,,,,,,,,,1.%d,0.%d,1.%d", s, 5 + s,
                      s);
        out.push_back(nmea(body));
        std::snprintf(body, sizeof body,
                      "GPRMC,1200%02d.00,A,4807.%03d,N,01131.000,E,02%d.4,08%d.4,230394,003.1,W", s,
                      100 + s, s, s);
        out.push_back(nmea(body));
        out.push_back(nmea("GPGSV,1,1,05,04,40,083,46,05,17,308,41,09,07,344,39,12,77,156,45"));
    }
    return out;
}

struct WithheldCase {
    const char* corrupted;  // which sentence of the third second
    bool tpv, altitude, gsaDops, sky;
};

void PrintTo(const WithheldCase& c, std::ostream* os) {
    *os << c.corrupted;
}

class Withheld : public testing::TestWithParam<WithheldCase> {};

TEST_P(Withheld, AFailedSentenceWithholdsExactlyItsValues) {
    std::vector<std::string> sentences = ggaFirstSeconds();
    const WithheldCase& c = GetParam();
    const auto corrupt =
        std::find_if(sentences.begin() + 8, sentences.begin() + 12,
                     [&c](const std::string& s) { return s.find(c.corrupted) == 3; });
    if (corrupt != sentences.begin() + 12) {
        (*corrupt)[12] ^= 0x01;  // one bit in a value field
    }
    const Released run = assembleCapture([&] {
        std::string bytes;
        for (const auto& s : sentences) {
            bytes += s + "\r\n";
        }
        return bytes;
    }());
    std::map<int, Fix> fixes;  // by second
    for (const Fix& fix : run.all<Fix>()) {
        ASSERT_TRUE(fix.time);
        EXPECT_FALSE(fixes.count(fix.time->second)) << "second presented twice";
        fixes[fix.time->second] = fix;
    }
    // The other seconds are whole and each value is its own second's.
    for (const auto& [second, fix] : fixes) {
        ASSERT_TRUE(fix.latitude);
        EXPECT_NEAR(*fix.latitude, 48 + (7.1 + second * 0.001) / 60, 5e-6) << second;
        if (second != 2) {
            EXPECT_EQ(fix.altitude, 500.0 + second) << second;
            EXPECT_NEAR(fix.dops.p.value_or(0), 1 + second / 10.0, 1e-9) << second;
            EXPECT_EQ(fix.mode, 3);
            // A failure may have been the next second's first sentence.
            EXPECT_TRUE(fix.timing.timeTrusted || std::string(c.corrupted) != "none") << second;
        }
    }
    ASSERT_EQ(fixes.count(2), c.tpv ? 1u : 0u);
    if (c.tpv) {
        const Fix& fix = fixes[2];
        EXPECT_EQ(fix.altitude.has_value(), c.altitude);
        EXPECT_EQ(fix.status.has_value(), c.altitude);
        EXPECT_EQ(fix.dops.p.has_value(), c.gsaDops);
        EXPECT_EQ(fix.dops.h, c.gsaDops || c.altitude ? std::optional(0.7) : std::nullopt);
        EXPECT_EQ(fix.mode, c.gsaDops || c.altitude ? 3 : 2);
        // Known for the whole epoch once it has ended.
        const auto ends = run.all<EpochEnd>();
        const auto end = std::find_if(ends.begin(), ends.end(),
                                      [&fix](const EpochEnd& e) { return e.epoch == fix.epoch; });
        ASSERT_NE(end, ends.end());
        EXPECT_EQ(end->timing.timeTrusted, std::string(c.corrupted) == "none");
    }
    const auto skies = run.all<Sky>();
    const auto sky2 = std::find_if(skies.begin(), skies.end(), [](const Sky& sky) {
        return sky.epoch == 3;  // one epoch a second, from the first
    });
    ASSERT_EQ(sky2 != skies.end(), c.sky);
    if (c.sky) {
        EXPECT_EQ(sky2->satellites.size(), 4u);
        EXPECT_EQ(sky2->used(), c.gsaDops ? 4 : 0);
        ASSERT_TRUE(sky2->time) << "the epoch's GGA time, the last RMC's date";
        EXPECT_EQ(sky2->time->iso8601(0), "1994-03-23T12:00:02Z");
    }
    const auto ends = run.all<EpochEnd>();
    EXPECT_EQ(std::count_if(ends.begin(), ends.end(), [](const EpochEnd& e) { return e.heldBack; }),
              c.tpv ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(ThirdSecond, Withheld,
                         testing::Values(WithheldCase{"none", true, true, true, true},
                                         WithheldCase{"RMC", false, true, true, true},
                                         // The first sentence of the second: its GSA still pairs
                                         // with its own RMC, not with the second before.
                                         WithheldCase{"GGA", true, false, true, true},
                                         WithheldCase{"GSA", true, true, false, true},
                                         WithheldCase{"GSV", true, true, true, false}),
                         [](const auto& test) { return std::string(test.param.corrupted); });

// --- The sky view -------------------------------------------------------------

TEST(Assembler, SkyListsEachSatelliteOnceWithWhatTheReceiverSent) {
    const std::vector<std::string> second = {
        nmea("GNRMC,120000.00,A,4807.038,N,01131.000,E,0.1,,230394,,"),
        nmea("GNGSA,A,3,05,07,,,,,,,,,,,1.8,1.0,1.5,1"),  // NMEA 4.10 system ids
        nmea("GNGSA,A,3,05,,,,,,,,,,,,1.8,1.0,1.5,3"),
        // GPS on L1 (signal 1) and L5 (signal 8); 7 without a place, 9 not
        // tracked; 5 on both signals.
        nmea("GPGSV,1,1,03,05,40,100,45,07,,,30,09,10,200,,1"),
        nmea("GPGSV,1,1,01,05,40,100,38,8"),
        nmea("GAGSV,1,1,01,05,20,300,35,7"),
    };
    std::vector<std::string> sentences;
    for (int i = 0; i < 4; ++i) {
        sentences.insert(sentences.end(), second.begin(), second.end());
        sentences[sentences.size() - second.size()] =
            nmea("GNRMC,12000" + std::to_string(i) + ".00,A,4807.038,N,01131.000,E,0.1,,230394,,");
    }
    const auto skies = assemble(sentences).all<Sky>();
    ASSERT_EQ(skies.size(), 4u);
    const auto sky = nlohmann::ordered_json::parse(skyReport(skies[2], "d"));
    EXPECT_EQ(sky["satellites"].dump(),
              R"([{"PRN":5,"gnssid":0,"svid":5,"el":40,"az":100,"ss":45,"used":true},)"
              R"({"PRN":7,"gnssid":0,"svid":7,"ss":30,"used":true},)"
              R"({"PRN":9,"gnssid":0,"svid":9,"el":10,"az":200,"used":false},)"
              R"({"PRN":305,"gnssid":2,"svid":5,"el":20,"az":300,"ss":35,"used":true}])");
    EXPECT_EQ(sky["uSat"], 3);
    EXPECT_EQ(sky["time"], "1994-03-23T12:00:02.000Z");
}

TEST(Satellites, NumberedAsTheClientsDo) {
    const struct {
        System system;
        int nmea, prn, gnssid, svid;  // gnssid -1: none known
    } cases[] = {
        {System::Gps, 1, 1, 0, 1},         {System::Gps, 33, 120, 1, 120},
        {System::Unknown, 65, 65, 6, 1},   {System::Gps, 138, 138, 1, 138},
        {System::Unknown, 193, 193, 5, 1}, {System::Gps, 250, 250, -1, -1},
        {System::Glonass, 79, 79, 6, 15},  {System::Glonass, 15, 79, 6, 15},
        {System::Galileo, 36, 336, 2, 36}, {System::Galileo, 301, 301, 2, 1},
        {System::BeiDou, 1, 401, 3, 1},    {System::BeiDou, 214, 414, 3, 14},
        {System::BeiDou, 437, 437, 3, 37}, {System::BeiDou, 100, 100, -1, -1},
        {System::Qzss, 2, 194, 5, 2},      {System::NavIc, 3, 803, 7, 3},
    };
    for (const auto& c : cases) {
        const SatelliteId id = identifySatellite(c.system, c.nmea);
        EXPECT_EQ(id.prn, c.prn) << c.nmea;
        EXPECT_EQ(id.gnssid.value_or(-1), c.gnssid) << c.nmea;
        EXPECT_EQ(id.svid.value_or(-1), c.svid) << c.nmea;
    }
}

TEST(Satellites, DopsFromWhereTheUsedOnesStand) {
    // A u-blox receiver's fourteen used GPS and GLONASS satellites; the
    // figures come from a separate least-squares computation.
    const std::vector<Bearing> used = {{68, 103}, {67, 312}, {47, 64},  {46, 259}, {23, 45},
                                       {21, 174}, {12, 109}, {8, 167},  {78, 285}, {76, 297},
                                       {33, 233}, {32, 38},  {40, 156}, {24, 325}};
    const auto dops = geometryDops(used);
    ASSERT_TRUE(dops);
    EXPECT_NEAR(dops->x, 0.58, 0.005);
    EXPECT_NEAR(dops->y, 0.51, 0.005);
    EXPECT_NEAR(dops->v, 1.10, 0.005);
    EXPECT_NEAR(dops->t, 0.74, 0.005);
    EXPECT_NEAR(dops->g, 1.54, 0.005);
    EXPECT_FALSE(geometryDops({used.begin(), used.begin() + 3})) << "three satellites";
    EXPECT_FALSE(geometryDops({{30, 0}, {30, 90}, {30, 180}, {30, 270}, {30, 45}}))
        << "one elevation: height and clock cannot be told apart";
}

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

// --- A pause on a live line ---------------------------------------------------

TEST(Assembler, APauseBeforeABurstOpensItsEpoch) {
    // A receiver whose burst starts with its GSV and GSA (as the aircraft
    // receiver of the AeroRust capture), read from its RMC on: without the
    // pauses its GSA would go with the RMC before it.
    std::vector<std::string> sentences;
    std::vector<std::chrono::milliseconds> at;
    for (int s = 0; s < 4; ++s) {
        const std::string time = "12000" + std::to_string(s) + ".00";
        if (s > 0) {
            sentences.push_back(
                nmea("GPGSV,1,1,04,04,40,083,46,05,17,308,41,09,07,344,39,12,77,156,45"));
            sentences.push_back(
                nmea("GPGSA,A,3,04,05,09,12,,,,,,,,,1.5,0." + std::to_string(s) + ",1.2"));
        }
        sentences.push_back(nmea("GPRMC," + time + ",A,4807.038,N,01131.000,E,0.1,,230394,,"));
        sentences.push_back(
            nmea("GPGGA," + time + ",4807.038,N,01131.000,E,1,04,0.9,545.4,M,46.9,M,,"));
        // The burst at the top of each second, 70 ms a sentence.
        for (int i = 0; at.size() < sentences.size(); ++i) {
            at.push_back(std::chrono::milliseconds(1000 * s + 70 * i));
        }
    }
    const auto fixes = assemble(sentences, at).all<Fix>();
    ASSERT_EQ(fixes.size(), 4u);
    for (const Fix& fix : fixes) {
        const int s = fix.time->second;
        if (s > 0) {
            EXPECT_EQ(fix.dops.h, s / 10.0) << s;
            // The burst's first sentence, as a time consumer needs it.
            EXPECT_EQ(fix.timing.firstSentenceLength, sentences[2].size()) << s;
            EXPECT_EQ(fix.timing.firstSentenceRealtime.tv_sec, 4 * s - 2) << s;
        }
    }
}

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
