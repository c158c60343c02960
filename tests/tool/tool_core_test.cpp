// The tool's own logic without a device: the reports of a fix in the clients'
// names and units, coordinates with every digit, the request parser of the
// server, the collapsing of the library's log and the summary's time
// accounting.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <regex>

#include "assembler.h"
#include "assembler_support.h"
#include "json_line.h"
#include "log_relay.h"
#include "reports.h"
#include "requests.h"
#include "summary.h"

namespace vyr::tool {
namespace {

using vyr::tool::test::nmea;

// The reports of the last of four seconds of a receiver that sends RMC,
// GGA, GSA, GST, GSV, in the clients' names and units.
TEST(Reports, EveryFieldTheSentencesGiveInTheClientsNamesAndUnits) {
    EpochAssembler assembler;
    std::vector<Presentation> out;
    for (int s = 0; s < 4; ++s) {
        const std::string time = "12351" + std::to_string(s) + ".00";
        out.clear();
        for (const std::string& body :
             {"GPRMC," + time + ",A,4807.0381234,N,01131.0000005,E,022.4,084.4,230394,003.1,W",
              "GPGGA," + time + ",4807.0381234,N,01131.0000005,E,2,08,0.9,54" + std::to_string(s) +
                  ".4,M,46.9,M,,",
              std::string("GPGSA,A,3,04,05,09,12,,,,,,,,,2.5,1.3,2.1"),
              "GPGST," + time + ",11,,,,0.70,0.49,1.1",
              std::string("GPGSV,1,1,04,04,40,083,46,05,17,308,41,09,07,344,39,12,77,156,45")}) {
            assembler.add(nmea(body), {}, out);
        }
    }
    std::erase_if(out, [](const Presentation& p) { return std::holds_alternative<EpochEnd>(p); });
    ASSERT_EQ(out.size(), 3u) << "TPV, GST and SKY of the last second, each when it is complete";
    EXPECT_EQ(tpvReport(std::get<Fix>(out[0]), "/dev/x"),
              R"({"class":"TPV","device":"/dev/x","mode":3,"status":2,)"
              R"("time":"1994-03-23T12:35:13.000Z","ept":1.99338e-07,"lat":48.117302057,)"
              R"("lon":11.516666675,"altHAE":590.3,"altMSL":543.4,"alt":543.4,"epx":0.98,)"
              R"("epy":1.4,"epv":2.2,"track":84.4,"magtrack":87.5,"magvar":-3.1,"speed":11.524,)"
              R"("climb":1.0,"eps":0.26,"epd":1.2928,"epc":0.42,"geoidSep":46.9,"eph":1.709,)"
              R"("sep":2.786,"ecefx":4180513.09,"ecefy":851801.47,"ecefz":4726033.35,)"
              R"("ecefpAcc":2.786,"ecefvx":-2.456,"ecefvy":11.204,"ecefvz":1.495,)"
              R"("ecefvAcc":0.494})");
    EXPECT_EQ(gstReport(std::get<Gst>(out[1]), "/dev/x"),
              R"({"class":"GST","device":"/dev/x","time":"1994-03-23T12:35:13.000Z","rms":11.0,)"
              R"("lat":0.7,"lon":0.49,"alt":1.1})");
    const auto sky = nlohmann::json::parse(skyReport(std::get<Sky>(out[2]), "/dev/x"));
    EXPECT_EQ(sky["hdop"], 1.3);
    EXPECT_EQ(sky["pdop"], 2.5);
    EXPECT_EQ(sky["uSat"], 4);
    EXPECT_TRUE(sky.contains("xdop") && sky.contains("tdop") && sky.contains("gdop"));
}

// Places and motions whose earth-centred values are known without the
// formulas: the axes' directions and the ellipsoid's two radii.
// The reports of every second are written straight into text; they must read
// as the same JSON that nlohmann-json writes for the other responses.
TEST(Reports, WrittenLineIsTheJsonTheLibraryWouldWrite) {
    const auto written = [](auto value) {
        JsonLine line;
        line.member("v", value);
        return line.finish();
    };
    const auto dumped = [](auto value) { return nlohmann::ordered_json{{"v", value}}.dump(); };
    // Where the layout changes (exponent, ".0", sign, zero, not finite).
    for (const double value :
         {0.0, -0.0, 1.0, -521.0, 0.1, 1e-4, 9.9999e-5, 1.99338e-07, 1e15, 999999999999999.0,
          1.5e300, 5e-324, 48.117302057, static_cast<double>(NAN), static_cast<double>(INFINITY)}) {
        EXPECT_EQ(written(value), dumped(value)) << value;
    }
    EXPECT_EQ(written(-1234567890123LL), dumped(-1234567890123LL));
    EXPECT_EQ(written(size_t{20}), dumped(size_t{20}));
    EXPECT_EQ(written(true), dumped(true));
    for (const std::string& text : std::initializer_list<std::string>{
             "/dev/ttyS1", "a\"b\\c", std::string("\x01\t\n\x1f\x7f", 5), "\xc3\xa9t\xc3\xa9",
             "bad \xff byte"}) {
        EXPECT_EQ(written(text),
                  nlohmann::ordered_json({{"v", text}})
                      .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    }
    // Any double: the same value back, in no more characters.
    uint64_t bits = 0x9E3779B97F4A7C15;
    for (int i = 0; i < 20000; ++i) {
        bits = bits * 6364136223846793005ULL + 1442695040888963407ULL;
        double value;
        std::memcpy(&value, &bits, sizeof value);
        const double degrees = static_cast<double>(bits >> 11) * 0x1p-53 * 360.0 - 180.0;
        for (const double v : {value, degrees, std::round(degrees * 1e9) / 1e9}) {
            const std::string text = written(v);
            const auto back = nlohmann::json::parse(text)["v"];
            if (std::isfinite(v)) {
                ASSERT_EQ(back.get<double>(), v) << text;
            }
            ASSERT_LE(text.size(), dumped(v).size()) << text;
        }
    }
    JsonLine nested;
    nested.member("n", 1);
    nested.beginArray("a");
    for (int i = 0; i < 2; ++i) {
        nested.beginObject();
        nested.member("i", i);
        nested.member("o", std::optional<int>());
        nested.endObject();
    }
    nested.endArray();
    EXPECT_EQ(nested.finish(), R"({"n":1,"a":[{"i":0},{"i":1}]})");
}

TEST(Fix, EarthCentredCoordinatesPointAlongTheRightAxes) {
    struct Case {
        double lat, lon, height, speed, track, climb;
        Ecef position, velocity;
    };
    constexpr double a = 6378137.0, b = 6356752.314245;
    for (const Case& c : {
             Case{0, 0, 0, 1, 0, 0, {a, 0, 0}, {0, 0, 1}},         // north is +z
             Case{0, 0, 10, 1, 90, 0, {a + 10, 0, 0}, {0, 1, 0}},  // east is +y
             Case{0, 0, 0, 0, 0, 2, {a, 0, 0}, {2, 0, 0}},         // up is +x
             Case{0, 90, 0, 1, 90, 0, {0, a, 0}, {-1, 0, 0}},      // east at 90E is -x
             Case{0, -90, 0, 1, 180, 0, {0, -a, 0}, {0, 0, -1}},   // south
             Case{90, 0, -5, 0, 0, 1, {0, 0, b - 5}, {0, 0, 1}},   // the pole, up
             Case{-90, 0, 0, 1, 0, 0, {0, 0, -b}, {1, 0, 0}},      // north from the south pole
         }) {
        const Ecef p = ecefPosition(c.lat, c.lon, c.height);
        const Ecef v = ecefVelocity(c.lat, c.lon, c.speed, c.track, c.climb);
        const auto near = [](const Ecef& got, const Ecef& want, double tolerance) {
            return std::fabs(got.x - want.x) < tolerance && std::fabs(got.y - want.y) < tolerance &&
                   std::fabs(got.z - want.z) < tolerance;
        };
        EXPECT_TRUE(near(p, c.position, 1e-3))
            << c.lat << " " << c.lon << ": " << p.x << " " << p.y << " " << p.z;
        EXPECT_TRUE(near(v, c.velocity, 1e-9)) << c.lat << " " << c.lon << " track " << c.track
                                               << ": " << v.x << " " << v.y << " " << v.z;
    }
}

TEST(Fix, CoordinatesKeepEveryDigitTheReceiverSent) {
    const struct {
        const char* field;
        const char* hemisphere;
        const char* printed;  // "" for none
    } cases[] = {
        {"5547.82145", "N", "55.7970242"},
        {"5547.82145", "S", "-55.7970242"},
        {"4807.038", "N", "48.1173"},
        {"01131.000", "E", "11.51667"},
        {"03858.587325", "E", "38.97645542"},  // 1.8e-7 degrees lost when cut to 5 decimals
        {"12118.8685453", "W", "-121.314475755"},
        {"9000", "N", "90.0"},
        {"9000.1", "N", ""},
        {"4860.000", "N", ""},
        {"", "N", ""},
        {"4807.038", "", ""},
        {"4807.038", "X", ""},
        {"48O7.038", "N", ""},
    };
    for (const auto& c : cases) {
        const char positive =
            c.hemisphere == std::string("E") || c.hemisphere == std::string("W") ? 'E' : 'N';
        const auto degrees =
            degreesFromField(c.field, c.hemisphere, positive, positive == 'N' ? 'S' : 'W');
        EXPECT_EQ(degrees ? nlohmann::json(*degrees).dump() : "", c.printed) << c.field;
    }
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
        summary.addFix(fix);
    }
    EXPECT_EQ(summary.backwards(), 1u);
    EXPECT_DOUBLE_EQ(summary.forwardSeconds(), 2.0 + 48.0 + 1.0 + 1.0);
}

}  // namespace
}  // namespace vyr::tool
