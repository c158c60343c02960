// vyr-gps as a user runs it: replays of the bundled captures, its output
// formats and its refusals. Expected figures come from the capture bytes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <tuple>

#include "support/shell.h"
#include "vyr_gpsparser.h"

namespace {

const std::string kData = VYR_TEST_PROJECT_DATA_DIR "/";
// Killed after two minutes: a replay stuck writing to a line that nobody reads
// does not stop on SIGTERM.
const std::string kReplay = "timeout -s KILL 120 " VYR_TEST_TOOL_PATH " replay " + kData;
const std::string kDevice = VYR_TEST_DEVICE_PATH;

using vyr::test::readFile;
using vyr::test::shell;

struct Counts {
    long long sentences = 0, bad = 0, records = 0, fixes = 0, valid = 0, withBeiDou = 0;
};

// Frames a capture as the reader does ("$" to CR or LF, at most 179
// characters; a "$" restarts a sentence that is not full) and completes
// records as the collector does: GGA opens one; GSA, RMC and the last GPGSV
// of its series (total capped at 4) complete it, plus the last BDGSV once any
// BDGSV was seen. The tool presents a fix for every RMC of these clean
// captures (valid with status A) and a sky view with BeiDou for every
// complete BDGSV series.
Counts model(const std::string& capture) {
    Counts n;
    std::string s;
    bool open{}, gga{}, gsa{}, rmc{}, gp{}, bd{}, beidou{}, good{};
    for (const char c : readFile(kData + capture)) {
        if (c == '$' && (!open || s.size() < 179)) {
            s = "$", open = true;
        } else if (c != '\r' && c != '\n') {
            s += open && s.size() < 179 ? std::string(1, c) : "";
        } else if (open) {
            open = false;
            ++n.sentences;
            // A sentence without a checksum (one cut at 179 characters) is
            // bad once the line has sent good ones.
            const int check = VYR_GPS_NmeaChecksum(s.data(), static_cast<uint32_t>(s.size()));
            n.bad += check == VYR_GPS_CHECKSUM_BAD || (check == VYR_GPS_CHECKSUM_ABSENT && good);
            good = good || check == VYR_GPS_CHECKSUM_OK;
            const std::string t = s.substr(1, 5);
            int total = 0, number = 0;
            std::sscanf(s.c_str(), "$%*5[A-Z],%d,%d", &total, &number);
            const bool last = number >= 1 && number <= 4 && (total < 4 ? total : 4) == number;
            beidou = beidou || t == "BDGSV";
            gga = gga || t == "GNGGA" || t == "GPGGA" || t == "BDGGA";
            gsa = gsa || (gga && (t == "GPGSA" || t == "GNGSA"));
            if (t == "GPRMC" || t == "GNRMC") {
                rmc = rmc || gga;
                ++n.fixes, n.valid += std::regex_search(s, std::regex("^.{6},[^,]*,A,")) ? 1 : 0;
            }
            n.withBeiDou += t == "BDGSV" && last ? 1 : 0;
            gp = gp || (gga && t == "GPGSV" && last);
            bd = bd || (gga && t == "BDGSV" && last);
            if (gga && gsa && rmc && gp && (bd || !beidou)) {
                ++n.records;
                gga = gsa = rmc = gp = bd = false;
            }
        }
    }
    return n;
}

class Replay : public testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(Replay, SummaryMatchesTheCapture) {
    const Counts n = model(GetParam().first);
    const auto [status, out] =
        shell(kReplay + GetParam().first + " --fast --source " + GetParam().second);
    ASSERT_EQ(status, 0);
    char summary[256];
    std::snprintf(summary, sizeof summary,
                  "\nsentences      %lld\nfixes          %lld\nfixes valid    %lld\n"
                  "checksum bad   %lld sentences; 0 fixes held back (their RMC failed)\n"
                  "records        %lld from the library\n",
                  n.sentences, n.fixes, n.valid, n.bad, n.records);
    EXPECT_NE(out.find(summary), std::string::npos) << "expected" << summary << "in:\n" << out;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(kDevice))) << kDevice;
}

INSTANTIATE_TEST_SUITE_P(
    Captures, Replay,
    testing::Values(std::pair<std::string, std::string>{"drive-gps-beidou.nmea", "serial"},
                    std::pair<std::string, std::string>{"drive-gps-only.nmea", "serial"},
                    std::pair<std::string, std::string>{"drive-gps-only.nmea", "simulator"}));

TEST(ToolOutput, JsonLinesParseWithOneTpvPerFixAndEveryConstellation) {
    const auto [status, out] = shell(kReplay + "drive-gps-beidou.nmea --fast --json");
    ASSERT_EQ(status, 0);
    std::istringstream lines(out);
    long long fixes = 0, withBeiDou = 0;
    for (std::string line; std::getline(lines, line);) {
        const auto report = nlohmann::json::parse(line, nullptr, false);
        ASSERT_FALSE(report.is_discarded()) << line;
        fixes += report["class"] == "TPV" ? 1 : 0;
        withBeiDou += line.find("\"gnssid\":3,") != std::string::npos ? 1 : 0;
    }
    const Counts n = model("drive-gps-beidou.nmea");
    EXPECT_EQ(std::pair(fixes, withBeiDou), std::pair(n.fixes, n.withBeiDou));
}

TEST(ToolOutput, GpxIsWellFormedWithOnePointPerValidFix) {
    if (shell("command -v python3").first != 0) {
        GTEST_SKIP() << "python3 not available for the XML check";
    }
    const std::string gpx = testing::TempDir() + "vyr-gps-test.gpx";
    ASSERT_EQ(shell(kReplay + "drive-gps-only.nmea --fast --gpx " + gpx).first, 0);
    const std::string count =
        "import sys, xml.dom.minidom as m; "
        "print(len(m.parse(sys.argv[1]).getElementsByTagName('trkpt')))";
    const auto [status, points] = shell("python3 -c \"" + count + "\" " + gpx);
    std::filesystem::remove(gpx);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(std::stoll(points), model("drive-gps-only.nmea").valid);
}

// Arguments after "replay <data dir>/", exit status, regular expression on standard error.
using ErrorCase = std::tuple<std::string, int, std::string>;

class ToolErrors : public testing::TestWithParam<ErrorCase> {};

// Every case runs with a file the tool did not make at the device path; it
// must be left as it is.
TEST_P(ToolErrors, ExitNonZeroWithAClearMessage) {
    const auto& [args, expectedStatus, message] = GetParam();
    ASSERT_TRUE(std::ofstream(kDevice) << "not a tty\n") << kDevice;
    const auto [status, err] = shell(kReplay + args + " 2>&1 >/dev/null");
    EXPECT_EQ(status, expectedStatus);
    EXPECT_TRUE(std::regex_search(err, std::regex(message))) << err;
    EXPECT_EQ(readFile(kDevice), "not a tty\n");
    std::filesystem::remove(kDevice);
}

INSTANTIATE_TEST_SUITE_P(
    Usage, ToolErrors,
    testing::Values(
        ErrorCase{"missing.nmea", 1, "cannot open capture .*/missing.nmea: No such file"},
        ErrorCase{"drive-gps-only.nmea --bogus", 2, "--bogus"},
        ErrorCase{"drive-gps-only.nmea --fast", 1, "device path " + kDevice + " already exists"},
        ErrorCase{"drive-gps-only.nmea --speed 0", 2, "--speed: must be a number greater than 0"}));

std::string writeTemp(const std::string& name, const std::string& bytes) {
    const std::string path = testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// A receiver that sends RMC before GGA, whose clock jumps back once, with
// the date a receiver reports before it knows it. It sends no checksums,
// except on one RMC that was damaged on the line (its checksum does not match).
std::string rmcFirstCapture() {
    std::string capture;
    for (const int second : {0, 1, 2, 3, 4, 50, 51, 52}) {
        char time[16];
        std::snprintf(time, sizeof time, "1000%02d.00", second);
        capture += "$GPRMC," + std::string(time) + ",A,4807.03" + (second == 2 ? "9" : "8") +
                   ",N,01131.000,E,0.5,54.7,050180,," + (second == 2 ? "*00" : "") + "\r\n";
        capture +=
            "$GPGGA," + std::string(time) + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,\r\n";
        capture += "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1\r\n";
        capture += "$GPGSV,1,1,04,04,40,083,46,05,17,308,41,09,07,344,39,12,77,156,45\r\n";
        if (second == 4) {
            capture += "$GPRMC,095900.00,A,4807.038,N,01131.000,E,0.5,54.7,050180,,\r\n";
        }
    }
    return capture;
}

TEST(ToolSummary, FixesOfTheirOwnSecondMixedRecordsAndTimeGoingBack) {
    const std::string capture = writeTemp("vyr-gps-rmc-first.nmea", rmcFirstCapture());
    const auto [status, out] =
        shell(kReplay.substr(0, kReplay.size() - kData.size()) + capture + " --fast --json");
    ASSERT_EQ(status, 0);
    // The tool: one fix for each RMC but the damaged one, each with the
    // altitude of its own second's GGA, except the RMC after the jump, which
    // has none.
    const auto summary = nlohmann::json::parse(out.substr(out.rfind("{\"class\":\"SUMMARY\"")));
    EXPECT_EQ(summary["fixes"], 8);
    EXPECT_EQ(summary["bad_checksum"], 1);
    EXPECT_EQ(summary["held_back"], 1);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 8 + 8 + 1)
        << "8 TPV, a SKY for each of the 8 GSV, the summary";
    EXPECT_EQ(summary["first"], "1980-01-05T10:00:00.000Z");
    EXPECT_EQ(summary["backwards"], 1);
    EXPECT_EQ(summary["span_s"], 4.0 + 110.0 + 1.0 + 1.0)
        << "00..04, back to 09:59:00, on to 50..52";
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(R"({"class":"TPV")")) {
            EXPECT_EQ(line.find("altMSL") == std::string::npos,
                      line.find("T09:59:00") != std::string::npos)
                << line;
        }
    }
    // The library, which takes the damaged RMC too: 8 GGA epochs, the first
    // 7 completed by the next second's RMC (mixed), the last never completed.
    EXPECT_EQ(summary["records"], 7);
    EXPECT_EQ(summary["mixed"], 7);
    EXPECT_EQ(summary["epochs_incomplete"], 1);
    std::filesystem::remove(capture);
}

TEST(ToolOutput, AReaderThatStopsReadingEndsTheRunAndTheLinkGoes) {
    const auto [status, out] = shell(kReplay + "drive-gps-beidou.nmea --speed 20 | head -n 3");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(kDevice)));
    EXPECT_EQ(shell(kReplay + "drive-gps-only.nmea --fast >/dev/null").first, 0);
}

TEST(ToolOutput, ALinkLeftByARunThatDiedIsReplaced) {
    std::filesystem::create_symlink("/dev/pts/987654", kDevice);
    const auto [status, err] = shell(kReplay + "drive-gps-only.nmea --fast 2>&1 >/dev/null");
    EXPECT_EQ(status, 0);
    EXPECT_NE(err.find("replacing " + kDevice), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(kDevice)));
}

TEST(ToolOutput, BinaryBytesOnTheLineGiveAFewReadableLogLines) {
    const std::string sentences = readFile(kData + "drive-gps-only.nmea");
    // A "$" and then binary protocol bytes: every byte past the sentence
    // length is discarded with a log line of its own.
    std::string binary = "$";
    for (int i = 0; i < 6000; ++i) {
        const char byte = static_cast<char>((i * 7) % 256);
        binary += byte == '$' || byte == '\r' || byte == '\n' ? '#' : byte;
    }
    const std::string capture = writeTemp(
        "vyr-gps-binary.nmea", sentences.substr(0, 4000) + binary + sentences.substr(4000, 4000));
    const auto [status, err] = shell(kReplay.substr(0, kReplay.size() - kData.size()) + capture +
                                     " --fast 2>&1 >/dev/null");
    EXPECT_EQ(status, 0);
    EXPECT_LT(std::count(err.begin(), err.end(), '\n'), 20) << err;
    EXPECT_NE(err.find("last line repeated"), std::string::npos) << err;
    for (const char c : err) {
        EXPECT_TRUE(c == '\n' || c == '\033' || (c >= 0x20 && c < 0x7F)) << int(c);
    }
    std::filesystem::remove(capture);
}

TEST(ToolMonitor, PrintsNothingWhenTheDeviceCannotBeOpened) {
    const auto [status, out] =
        shell("timeout -s KILL 20 " VYR_TEST_TOOL_PATH " monitor 2>/dev/null");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "");
}

}  // namespace
