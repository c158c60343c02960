// vyr-gps as a user runs it: replays of the bundled captures through the
// serial path and the simulated source, its output formats, the monitor on a
// pseudo-terminal, and its refusals. Expected figures come from the capture
// bytes (tool_harness.h), never from an earlier run of the tool.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "tool_harness.h"

namespace vyr::tooltest {
namespace {

const std::string kDevice = VYR_TEST_DEVICE_PATH;
const std::string kDataDir = VYR_TEST_PROJECT_DATA_DIR;

std::string capturePath(const std::string& name) {
    return kDataDir + "/" + name;
}

// "name   value" lines of the text summary.
long long summaryValue(const std::string& out, const std::string& name) {
    const std::regex pattern("\n" + name + " +([0-9]+)\n");
    std::smatch match;
    if (!std::regex_search(out, match, pattern)) {
        ADD_FAILURE() << "no '" << name << "' in the summary:\n" << out;
        return -1;
    }
    return std::stoll(match[1]);
}

// Fix lines of the text output: between the header and the summary.
size_t fixLines(const std::string& out) {
    size_t count = 0;
    for (const std::string& line : splitLines(out)) {
        if (line == "--") {
            break;
        }
        count += std::regex_search(line, std::regex("^2024-05-14T.*Z  [AV] ")) ? 1 : 0;
    }
    return count;
}

struct ReplayCase {
    const char* capture;
    const char* source;
};

class Replay : public testing::TestWithParam<ReplayCase> {};

TEST_P(Replay, SummaryAndFixLinesMatchTheCapture) {
    const std::string path = capturePath(GetParam().capture);
    const std::string bytes = readFile(path);
    ASSERT_FALSE(bytes.empty()) << path;
    const CaptureModel model = modelCapture(bytes);

    const RunResult run = runTool({"replay", path, "--fast", "--source", GetParam().source});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(summaryValue(run.out, "bytes"), static_cast<long long>(bytes.size()));
    EXPECT_EQ(summaryValue(run.out, "sentences"), static_cast<long long>(model.sentences.size()));
    EXPECT_EQ(summaryValue(run.out, "fixes"), static_cast<long long>(model.epochs.size()));
    EXPECT_EQ(summaryValue(run.out, "fixes valid"), static_cast<long long>(model.validEpochs()));
    EXPECT_EQ(fixLines(run.out), model.epochs.size());
    // The replay leaves nothing behind at the device path.
    struct stat info {};
    EXPECT_NE(lstat(kDevice.c_str(), &info), 0);
}

INSTANTIATE_TEST_SUITE_P(Captures, Replay,
                         testing::Values(ReplayCase{"drive-gps-beidou.nmea", "serial"},
                                         ReplayCase{"drive-gps-only.nmea", "serial"},
                                         ReplayCase{"drive-gps-beidou.nmea", "simulator"},
                                         ReplayCase{"drive-gps-only.nmea", "simulator"}),
                         [](const testing::TestParamInfo<ReplayCase>& param) {
                             std::string name =
                                 std::string(param.param.capture) + "_" + param.param.source;
                             for (char& c : name) {
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

// Every TPV object agrees with the RMC sentence of the epoch it reports.
TEST(ToolJson, EveryLineParsesAndEachFixMatchesItsRmc) {
    const std::string path = capturePath("drive-gps-beidou.nmea");
    const CaptureModel model = modelCapture(readFile(path));
    const RunResult run = runTool({"replay", path, "--fast", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;

    std::vector<nlohmann::json> reports;
    for (const std::string& line : splitLines(run.out)) {
        ASSERT_NO_THROW(reports.push_back(nlohmann::json::parse(line))) << line;
    }
    ASSERT_EQ(reports.size(), model.epochs.size() + 1);  // one SUMMARY at the end
    EXPECT_EQ(reports.back()["class"], "SUMMARY");
    EXPECT_EQ(reports.back()["fixes"], model.epochs.size());

    for (size_t i = 0; i < model.epochs.size(); ++i) {
        SCOPED_TRACE("fix " + std::to_string(i) + ": " + model.epochs[i].rmc);
        const nlohmann::json& tpv = reports[i];
        const auto rmc = splitFields(model.epochs[i].rmc);
        ASSERT_GE(rmc.size(), 10u);
        EXPECT_EQ(tpv["class"], "TPV");
        const std::string time = "20" + rmc[9].substr(4, 2) + "-" + rmc[9].substr(2, 2) + "-" +
                                 rmc[9].substr(0, 2) + "T" + rmc[1].substr(0, 2) + ":" +
                                 rmc[1].substr(2, 2) + ":" + rmc[1].substr(4, 2);
        EXPECT_EQ(tpv["time"].get<std::string>().substr(0, 19), time);
        EXPECT_EQ(tpv["status"], model.epochs[i].valid() ? 1 : 0);
        EXPECT_EQ(tpv["satellites"].size(),
                  static_cast<size_t>(model.epochs[i].satellitesListed()));
        if (rmc[3].empty()) {
            EXPECT_FALSE(tpv.contains("lat"));
            EXPECT_EQ(tpv["mode"], 1);
            continue;
        }
        EXPECT_NEAR(tpv["lat"].get<double>(), decimalDegrees(rmc[3], rmc[4]), 1e-8);
        EXPECT_NEAR(tpv["lon"].get<double>(), decimalDegrees(rmc[5], rmc[6]), 1e-8);
        const double knots = std::stod(rmc[7]);
        EXPECT_NEAR(tpv["speed_kmh"].get<double>(), knots * 1.852, 1e-3);
        EXPECT_NEAR(tpv["speed"].get<double>(), knots * 1852.0 / 3600.0, 1e-3);
        if (rmc[8].empty()) {
            EXPECT_FALSE(tpv.contains("track"));
        } else {
            EXPECT_NEAR(tpv["track"].get<double>(), std::stod(rmc[8]), 1e-2);
        }
    }
}

// --nmea shows exactly what the serial line frames, in order.
TEST(ToolNmea, EchoesEveryFramedSentenceInOrder) {
    const std::string path = capturePath("drive-gps-beidou.nmea");
    const CaptureModel model = modelCapture(readFile(path));
    const RunResult run = runTool({"replay", path, "--fast", "--nmea"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> echoed;
    for (const std::string& line : splitLines(run.out)) {
        if (!line.empty() && line[0] == '$') {
            echoed.push_back(line);
        }
    }
    EXPECT_EQ(echoed, model.sentences);
}

TEST(ToolGpx, WellFormedTrackWithOnePointPerValidFix) {
    const std::string path = capturePath("drive-gps-only.nmea");
    const CaptureModel model = modelCapture(readFile(path));
    char gpxPath[] = "/tmp/vyr-gps-test-XXXXXX.gpx";
    const int fd = mkstemps(gpxPath, 4);
    ASSERT_GE(fd, 0);
    close(fd);
    const RunResult run = runTool({"replay", path, "--fast", "--gpx", gpxPath});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string gpx = readFile(gpxPath);

    std::vector<std::pair<double, double>> points;
    const std::regex trkpt("<trkpt lat=\"([-0-9.]+)\" lon=\"([-0-9.]+)\">");
    for (auto it = std::sregex_iterator(gpx.begin(), gpx.end(), trkpt);
         it != std::sregex_iterator(); ++it) {
        points.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
    }
    std::vector<std::pair<double, double>> expected;
    for (const ModelEpoch& epoch : model.epochs) {
        const auto rmc = splitFields(epoch.rmc);
        if (epoch.valid()) {
            expected.emplace_back(decimalDegrees(rmc[3], rmc[4]), decimalDegrees(rmc[5], rmc[6]));
        }
    }
    ASSERT_EQ(points.size(), expected.size());
    for (size_t i = 0; i < points.size(); ++i) {
        EXPECT_NEAR(points[i].first, expected[i].first, 1e-6) << i;
        EXPECT_NEAR(points[i].second, expected[i].second, 1e-6) << i;
    }
    // The no-fix stretch splits the track into segments.
    EXPECT_NE(gpx.find("<trkseg>", gpx.find("</trkseg>")), std::string::npos);

    if (system("command -v python3 >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "python3 not available for the XML check";
    }
    const std::string check =
        "python3 -c 'import sys, xml.dom.minidom as m; d = m.parse(sys.argv[1]); "
        "sys.exit(0 if d.documentElement.tagName == \"gpx\" else 1)' " +
        std::string(gpxPath);
    EXPECT_EQ(system(check.c_str()), 0) << gpx.substr(0, 400);
    unlink(gpxPath);
}

// Paced like a 9600-baud line sped up 50 times: the replay takes the line's
// time, and pacing changes nothing in the result.
TEST(ToolPacing, SpeedFactorSetsTheDuration) {
    const std::string path = capturePath("drive-gps-only.nmea");
    const std::string bytes = readFile(path);
    const CaptureModel model = modelCapture(bytes);
    const double expectedSeconds = static_cast<double>(bytes.size()) / (960.0 * 50);
    const auto begin = std::chrono::steady_clock::now();
    const RunResult run = runTool({"replay", path, "--speed", "50"});
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_GE(seconds, expectedSeconds * 0.95);
    EXPECT_LT(seconds, expectedSeconds + 10.0);
    EXPECT_EQ(summaryValue(run.out, "fixes"), static_cast<long long>(model.epochs.size()));
}

struct ErrorCase {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* message;  // regular expression on standard error
};

class ToolErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(ToolErrors, ExitNonZeroWithAClearMessage) {
    const RunResult run = runTool(GetParam().args, 30);
    EXPECT_EQ(run.status, GetParam().status) << run.err;
    EXPECT_TRUE(std::regex_search(run.err, std::regex(GetParam().message))) << run.err;
    EXPECT_EQ(run.out.find("fixes"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Usage, ToolErrors,
    testing::Values(
        ErrorCase{"MissingFile",
                  {"replay", "/nonexistent/drive.nmea"},
                  1,
                  "cannot open capture /nonexistent/drive.nmea: No such file or directory"},
        ErrorCase{"DirectoryAsFile", {"replay", "/tmp"}, 1, "cannot open capture /tmp"},
        ErrorCase{"UnknownOption", {"replay", "x.nmea", "--bogus"}, 2, "--bogus"},
        ErrorCase{"NoCommand", {}, 2, "subcommand"},
        ErrorCase{"NegativeSpeed", {"replay", "x.nmea", "--speed", "-2"}, 2, "speed"},
        ErrorCase{"FastWithSpeed", {"replay", "x.nmea", "--fast", "--speed", "2"}, 2, "excludes"},
        ErrorCase{"UnknownSource", {"replay", "x.nmea", "--source", "usb"}, 2, "usb"},
        ErrorCase{"LogLevelOutOfRange", {"--log-level", "12", "monitor"}, 2, "log-level"},
        ErrorCase{"MonitorWithoutDevice",
                  {"monitor"},
                  1,
                  "cannot open the GPS device .*No such file or directory"}),
    [](const testing::TestParamInfo<ErrorCase>& param) { return std::string(param.param.name); });

// A file or a link at the device path that the tool did not make is left
// alone, and the replay is refused.
TEST(ToolDevicePath, RefusesAPathItDidNotCreate) {
    const std::string capture = capturePath("drive-gps-only.nmea");
    {
        std::ofstream foreign(kDevice);
        foreign << "not a tty\n";
    }
    RunResult run = runTool({"replay", capture, "--fast"}, 30);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("device path " + kDevice + " already exists"), std::string::npos)
        << run.err;
    EXPECT_EQ(readFile(kDevice), "not a tty\n");
    unlink(kDevice.c_str());

    ASSERT_EQ(symlink("/dev/null", kDevice.c_str()), 0);
    run = runTool({"replay", capture, "--fast", "--source", "simulator"}, 30);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("already exists"), std::string::npos) << run.err;
    char target[64] = {};
    EXPECT_EQ(readlink(kDevice.c_str(), target, sizeof target - 1), 9);
    EXPECT_STREQ(target, "/dev/null");
    unlink(kDevice.c_str());
}

// A pseudo-terminal at the device path, written by the test.
class ReceiverLine {
public:
    ReceiverLine() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            return;
        }
        slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
        termios raw{};
        tcgetattr(slave_, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave_, TCSANOW, &raw);
        linked_ = symlink(ptsname(master_), kDevice.c_str()) == 0;
    }
    ~ReceiverLine() {
        if (linked_) {
            unlink(kDevice.c_str());
        }
        close(slave_);
        close(master_);
    }
    [[nodiscard]] bool ready() const { return linked_; }
    void send(const std::string& bytes) const {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

private:
    int master_ = -1;
    int slave_ = -1;
    bool linked_ = false;
};

class Monitor : public testing::TestWithParam<int> {};

TEST_P(Monitor, PrintsFixesFromTheReceiverUntilSignalled) {
    ReceiverLine line;
    if (!line.ready()) {
        GTEST_SKIP() << "no pseudo-terminal available";
    }
    // The first bursts of a capture, up to (not including) a later GGA.
    const std::string bytes = readFile(capturePath("drive-gps-only.nmea"));
    size_t end = 0;
    for (int i = 0; i < 6; ++i) {
        end = bytes.find("$GPGGA", end + 1);
    }
    const std::string head = bytes.substr(0, end);
    const size_t expected = modelCapture(head).epochs.size();
    ASSERT_GE(expected, 4u);

    Child child({"monitor", "--json"});
    ASSERT_TRUE(child.started());
    // Give the tool time to open the line before the receiver talks.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    line.send(head);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    const auto tpvCount = [&] {
        size_t count = 0;
        for (const std::string& l : splitLines(child.out)) {
            count += l.find("\"class\":\"TPV\"") != std::string::npos ? 1 : 0;
        }
        return count;
    };
    while (tpvCount() < expected && std::chrono::steady_clock::now() < deadline) {
        child.pump(100);
    }
    child.signal(GetParam());
    EXPECT_EQ(child.wait(20), 0) << child.err;
    EXPECT_EQ(tpvCount(), expected) << child.out;
    const auto lines = splitLines(child.out);
    ASSERT_FALSE(lines.empty());
    const nlohmann::json summary = nlohmann::json::parse(lines.back());
    EXPECT_EQ(summary["class"], "SUMMARY");
    EXPECT_EQ(summary["fixes"], expected);
}

INSTANTIATE_TEST_SUITE_P(Signals, Monitor, testing::Values(SIGINT, SIGTERM),
                         [](const testing::TestParamInfo<int>& param) {
                             return std::string(param.param == SIGINT ? "SIGINT" : "SIGTERM");
                         });

}  // namespace
}  // namespace vyr::tooltest
