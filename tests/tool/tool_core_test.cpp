// The tool's own logic without a device: how a record becomes a fix and its
// reports, the numbering of satellites, the request parser of the server,
// the collapsing of the library's log and the summary's time accounting.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "fix.h"
#include "log_relay.h"
#include "reports.h"
#include "requests.h"
#include "summary.h"

namespace vyr::tool {
namespace {

constexpr char kGga[] = "$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";
constexpr char kGsa[] = "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1";
constexpr char kGsv[] = "$GPGSV,1,1,04,04,40,083,46,05,17,308,41,09,07,344,39,12,77,156,45";
constexpr char kBdGsa[] = "$GNGSA,A,3,201,,,,,,,,,,,,2.5,1.3,2.1";
constexpr char kBdGsv[] = "$BDGSV,1,1,02,201,45,100,40,14,30,200,38";

// An epoch as the collector hands it over: the raw set, parsed by the
// library into the record.
EpochCopy epoch(const std::string& rmc) {
    EpochCopy copy{};
    std::snprintf(copy.raw.ggaStr, sizeof copy.raw.ggaStr, "%s", kGga);
    std::snprintf(copy.raw.gsaStr[0], sizeof copy.raw.gsaStr[0], "%s", kGsa);
    std::snprintf(copy.raw.gsaStr[1], sizeof copy.raw.gsaStr[1], "%s", kBdGsa);
    std::snprintf(copy.raw.rmcStr, sizeof copy.raw.rmcStr, "%s", rmc.c_str());
    std::snprintf(copy.raw.gpGsvStr[0], sizeof copy.raw.gpGsvStr[0], "%s", kGsv);
    std::snprintf(copy.raw.bdGsvStr[0], sizeof copy.raw.bdGsvStr[0], "%s", kBdGsv);
    GPSPARSER_ParseRawData(&copy.raw, &copy.packet);
    return copy;
}

struct ReportCase {
    const char* name;
    std::string rmc;
    std::string tpv;  // expected report, byte for byte
    bool skyHasDops;
};

void PrintTo(const ReportCase& c, std::ostream* os) {
    *os << c.name;
}

class Reports : public testing::TestWithParam<ReportCase> {};

TEST_P(Reports, TpvCarriesOnlyWhatBelongsToTheRmcSecond) {
    const Fix fix = makeFix(epoch(GetParam().rmc));
    EXPECT_EQ(tpvReport(fix, "/dev/x"), GetParam().tpv);
    const auto sky = nlohmann::ordered_json::parse(skyReport(fix, "/dev/x"));
    EXPECT_EQ(sky.contains("hdop"), GetParam().skyHasDops);
    EXPECT_EQ(sky.contains("time"), GetParam().skyHasDops);
    // The sky view is the epoch's own in every case: GPS from the record,
    // BeiDou parsed from the raw set and numbered apart from GPS.
    ASSERT_EQ(sky["satellites"].size(), 6u);
    EXPECT_EQ(sky["nSat"], 6);
    EXPECT_EQ(sky["uSat"], 5);  // 4, 5, 9, 12 and BeiDou 201; BeiDou 14 is not in the GSA
    EXPECT_EQ(sky["satellites"][4].dump(),
              R"({"PRN":401,"gnssid":3,"svid":1,"el":45,"az":100,"ss":40,"used":true})");
    EXPECT_EQ(sky["satellites"][5]["PRN"], 414);
    EXPECT_EQ(sky["satellites"][5]["used"], false);
}

INSTANTIATE_TEST_SUITE_P(
    Records, Reports,
    testing::Values(
        ReportCase{"SameSecond",
                   "$GPRMC,123519.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W",
                   R"({"class":"TPV","device":"/dev/x","mode":3,"time":"1994-03-23T12:35:19.000Z",)"
                   R"("lat":48.1173,"lon":11.51667,"altHAE":592.3,"altMSL":545.4,"geoidSep":46.9,)"
                   R"("track":84.4,"speed":11.524})",
                   true},
        // RMC sent before GGA: the record holds the GGA of the second before.
        ReportCase{"RmcOfTheNextSecond",
                   "$GPRMC,123520.00,A,4807.040,N,01131.010,E,022.4,084.4,230394,003.1,W",
                   R"({"class":"TPV","device":"/dev/x","mode":2,"time":"1994-03-23T12:35:20.000Z",)"
                   R"("lat":48.11733,"lon":11.51683,"track":84.4,"speed":11.524})",
                   false},
        ReportCase{
            "NoFixAndColdStartDate", "$GPRMC,123519.00,V,,,,,,,050180,,",
            R"({"class":"TPV","device":"/dev/x","mode":1,"time":"1980-01-05T12:35:19.000Z"})",
            true}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(Fix, CoordinatesKeepTheSentencesPrecisionWithoutFloatNoise) {
    const struct {
        GpsFloat field;
        const char* printed;
    } cases[] = {
        {{554782145, 100000}, "55.7970242"},  // 55 deg 47.82145 min
        {{-554782145, 100000}, "-55.7970242"}, {{4807038, 1000}, "48.1173"},
        {{1131000, 1000}, "11.51667"},         {{9000, 1}, "90.0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(nlohmann::json(*degreesFromField(c.field)).dump(), c.printed) << c.printed;
    }
    EXPECT_FALSE(degreesFromField({0, 0}));
}

TEST(Fix, SatellitesAreNumberedAsTheClientsDo) {
    const struct {
        Talker talker;
        int nmea, prn, gnssid, svid;  // gnssid -1: none known
    } cases[] = {
        {Talker::Gps, 1, 1, 0, 1},          {Talker::Gps, 32, 32, 0, 32},
        {Talker::Gps, 33, 120, 1, 120},     {Talker::Gps, 65, 65, 6, 1},
        {Talker::Gps, 138, 138, 1, 138},    {Talker::Gps, 193, 193, 5, 1},
        {Talker::Gps, 250, 250, -1, -1},    {Talker::BeiDou, 1, 401, 3, 1},
        {Talker::BeiDou, 214, 414, 3, 14},  {Talker::BeiDou, 437, 437, 3, 37},
        {Talker::BeiDou, 100, 100, -1, -1},
    };
    for (const auto& c : cases) {
        const SatelliteId id = identifySatellite(c.talker, c.nmea);
        EXPECT_EQ(id.prn, c.prn) << c.nmea;
        EXPECT_EQ(id.gnssid.value_or(-1), c.gnssid) << c.nmea;
        EXPECT_EQ(id.svid.value_or(-1), c.svid) << c.nmea;
    }
    EXPECT_EQ(fullYear(80), 1980);
    EXPECT_EQ(fullYear(99), 1999);
    EXPECT_EQ(fullYear(0), 2000);
    EXPECT_EQ(fullYear(79), 2079);
}

// Line, then the kinds and error messages (a regular expression) in order.
struct RequestCase {
    std::string line;
    std::vector<std::string> expected;  // "Version", "Watch", ... or "Error:<regex>"
};

std::string describe(const Request& request) {
    switch (request.kind) {
        case Request::Kind::Version:
            return "Version";
        case Request::Kind::Devices:
            return "Devices";
        case Request::Kind::Device:
            return request.device ? "Device=" : "Device";
        case Request::Kind::Watch:
            return request.watch ? "Watch=" : "Watch";
        case Request::Kind::Poll:
            return "Poll";
        case Request::Kind::Error:
            return "Error:" + request.error;
    }
    return "?";
}

TEST(Requests, EveryCommandOrAnErrorNeverMore) {
    const RequestCase cases[] = {
        {"?VERSION;", {"Version"}},
        {R"(?WATCH={"enable":true,"json":true};)", {"Watch="}},
        {R"(?WATCH={"enable":true,"json":true})", {"Watch="}},
        {"?WATCH;", {"Watch"}},
        {"?POLL;?DEVICES;?DEVICE;", {"Poll", "Devices", "Device"}},
        {R"(?DEVICE={"path":"/dev/x","bps":4800,"cycle":0.5};)", {"Device="}},
        {R"(?DEVICE={"bps":"fast"};)", {"Error:Invalid DEVICE: 'bps' must be an integer"}},
        {"?FOO;?POLL;", {"Error:Unrecognized request '\\?FOO'", "Poll"}},
        {"hello", {"Error:Unrecognized request 'hello'"}},
        {"\x01\x02\xff", {"Error:Unrecognized request '\\?\\?\\?'"}},
        {"?POLL;garbage", {"Poll", "Error:Unrecognized request 'garbage'"}},
        {R"(?WATCH={"enable":tru};)", {"Error:Invalid WATCH: not a JSON object"}},
        {R"(?WATCH={"enable":"yes"};)", {"Error:Invalid WATCH: 'enable' must be true or false"}},
        {R"(?WATCH={"raw":7};)", {"Error:Invalid WATCH: 'raw' must be 0, 1 or 2"}},
        {R"(?WATCH={"device":"a}";)", {"Error:Invalid WATCH: argument is not a JSON object"}},
        {"?WATCH=[1];", {"Error:Invalid WATCH: argument is not a JSON object"}},
        {"?VERSION={};", {"Error:Unrecognized request '\\?VERSION'"}},
        {"?VERSIONX;", {"Error:Unrecognized request '\\?VERSIONX'"}},
        {" ; ;", {}},
    };
    for (const RequestCase& c : cases) {
        const auto requests = parseRequestLine(c.line);
        ASSERT_EQ(requests.size(), c.expected.size()) << c.line;
        for (size_t i = 0; i < requests.size(); ++i) {
            EXPECT_TRUE(std::regex_match(describe(requests[i]), std::regex(c.expected[i])))
                << c.line << " -> " << describe(requests[i]);
        }
    }
}

TEST(Requests, WatchEnablesUnlessToldNotToAndChangesOnlyWhatItNames) {
    WatchPolicy policy;
    const auto apply = [&policy](const char* line) {
        parseRequestLine(line)[0].watch->applyTo(policy);
    };
    apply(R"(?WATCH={"raw":2,"pps":true};)");  // what a monitor program sends
    EXPECT_TRUE(policy.enable && policy.pps && policy.wantsSentences());
    EXPECT_FALSE(policy.wantsReports());
    apply(R"(?WATCH={"enable":true,"json":false};)");
    EXPECT_TRUE(policy.wantsSentences() && !policy.wantsReports()) << "json:false is kept";
    apply(R"(?WATCH={"json":true,"device":"/dev/x"};)");
    EXPECT_TRUE(policy.wantsReports() && policy.raw == 2 && policy.device == "/dev/x");
    apply(R"(?WATCH={"enable":false};)");
    EXPECT_FALSE(policy.wantsSentences() || policy.wantsReports());
}

// A line of the library's log as it prints one.
std::string logLine(const char* stamp, const char* message) {
    return std::string("\033[0;32;31m[") + stamp +
           "][ERR]\033[m MNG_GPS_MsgReadThread 40 :" + message + "\n";
}

TEST(LogCollapser, ShowsAPlaceOnceThenCounts) {
    LogCollapser collapser;
    const auto t0 = LogCollapser::Clock::now();
    std::string out;
    for (int i = 0; i < 5; ++i) {
        out += collapser.feed(logLine(("s 0" + std::to_string(i)).c_str(), "error"), t0);
    }
    out += collapser.feed("\033[1;33m[s 2][WAR]\033[m GPSPARSER_MsgProc 239 :SupportBD!\n", t0);
    // One place with other data each time, a raw newline and a control byte
    // among them; then the line that ends the run.
    out += collapser.feed(logLine("s 3", "discard data[\n]"), t0);
    out += collapser.feed(logLine("s 4", "discard data[\x01]"), t0);
    out += collapser.feed(logLine("s 5", "discard data[\x1b]"), t0);
    out += collapser.finish();
    EXPECT_EQ(out, logLine("s 00", "error") + "vyr-gps: last line repeated 4 times\n" +
                       "\033[1;33m[s 2][WAR]\033[m GPSPARSER_MsgProc 239 :SupportBD!\n" +
                       logLine("s 3", "discard data[\\x0A]") +
                       "vyr-gps: last line repeated 2 times (same place, other data)\n");
}

TEST(LogCollapser, AFloodStillShowsItsCountEveryFewSeconds) {
    LogCollapser collapser;
    const auto t0 = LogCollapser::Clock::now();
    std::string out = collapser.feed(logLine("s", "a") + logLine("s", "a"), t0);
    out += collapser.idle(t0 + std::chrono::milliseconds(200));
    EXPECT_EQ(out, logLine("s", "a"));
    out = collapser.feed(logLine("s", "a"), t0 + LogCollapser::kReportEvery);
    out += collapser.idle(t0 + LogCollapser::kReportEvery + std::chrono::milliseconds(200));
    EXPECT_EQ(out, "vyr-gps: last line repeated 2 times\n");
}

TEST(Summary, SpanCountsForwardTimeAndTimesItWentBack) {
    Summary summary;
    for (const int second : {0, 1, 2, 50, 51, 10, 11}) {
        Fix fix;
        fix.time = UtcTime{2024, 5, 14, 8, second / 60 + 30, second % 60, 0};
        summary.add(fix, 5);
    }
    EXPECT_EQ(summary.backwards(), 1u);
    EXPECT_DOUBLE_EQ(summary.forwardSeconds(), 2.0 + 48.0 + 1.0 + 1.0);
}

}  // namespace
}  // namespace vyr::tool
