// The epoch assembler of vyr-gps: what it presents from a receiver's
// sentences, run in process through the library's own framer: sentences that
// fail their checksum, the sky view and its DOPs, and a pause on a live line.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "assembler_support.h"
#include "reports.h"

namespace vyr::tool {
namespace {

using namespace vyr::tool::test;

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

}  // namespace
}  // namespace vyr::tool
