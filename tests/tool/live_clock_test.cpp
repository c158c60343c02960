// The live clock: a capture's time and date fields rewritten to the current
// second, cut into epochs, and each epoch written at the top of the second it
// names, as the library reads it from the line.
#include "live_clock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <functional>
#include <thread>

#include "support/shell.h"
#include "time_sample.h"
#include "tool_error.h"

namespace vyr::tool {
namespace {

constexpr time_t kT = 1735130096;  // 2024-12-25 12:34:56 UTC

// Table rows are named by their first member.
struct {
    template <typename Case>
    std::string operator()(const testing::TestParamInfo<Case>& row) const {
        return row.param.name;
    }
} const caseName;

struct RewriteCase {
    const char* name;
    std::string line, expected;
};

class LiveClockRewrite : public testing::TestWithParam<RewriteCase> {};

TEST_P(LiveClockRewrite, TimeDateAndChecksum) {
    EXPECT_EQ(rewriteTime(GetParam().line, kT), GetParam().expected);
}

const std::string kRmcTail = ",A,4807.03800,N,01131.00002,E,0.017,,";
const std::string kGgaTail = ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";

INSTANTIATE_TEST_SUITE_P(
    Table, LiveClockRewrite,
    testing::Values(
        RewriteCase{"Rmc", "$GPRMC,083000.00" + kRmcTail + "140524,,,A*7B\r\n",
                    "$GPRMC,123456.00" + kRmcTail + "251224,,,A*73\r\n"},
        RewriteCase{"GgaFractionZeroed", "$GNGGA,083000.50" + kGgaTail + "*74\n",
                    "$GNGGA,123456.00" + kGgaTail + "*7D\n"},
        RewriteCase{"GllTimeAfterPosition", "$GPGLL,4807.038,N,01131.000,E,083000.500,A,A*55",
                    "$GPGLL,4807.038,N,01131.000,E,123456.000,A,A*5C"},
        RewriteCase{"ZdaFullDate", "$GPZDA,083000.00,14,05,2024,00,00*69\r\n",
                    "$GPZDA,123456.00,25,12,2024,00,00*61\r\n"},
        RewriteCase{"Gst", "$GPGST,083000.00,1.2,,,,0.9,0.8,1.5*74",
                    "$GPGST,123456.00,1.2,,,,0.9,0.8,1.5*78"},
        RewriteCase{"LowerCaseChecksum", "$GPRMC,083000.00" + kRmcTail + "140524,,,A*7b",
                    "$GPRMC,123456.00" + kRmcTail + "251224,,,A*73"},
        RewriteCase{"NoChecksumStaysWithout", "$GPRMC,083000.00" + kRmcTail + "140524,,,A\n",
                    "$GPRMC,123456.00" + kRmcTail + "251224,,,A\n"},
        // Off by one bit before, off by the same bit after.
        RewriteCase{"MismatchKept", "$GPRMC,083000.00" + kRmcTail + "140524,,,A*7A\r\n",
                    "$GPRMC,123456.00" + kRmcTail + "251224,,,A*72\r\n"},
        RewriteCase{"MalformedChecksumUntouched", "$GPGST,083000.00,1.2,,,,0.9,0.8,1.5*7\r\n",
                    "$GPGST,083000.00,1.2,,,,0.9,0.8,1.5*7\r\n"},
        RewriteCase{"NoTimeYet", "$GPRMC,,V,,,,,,,,,,N*53\r\n", "$GPRMC,,V,,,,,,,,,,N*53\r\n"},
        RewriteCase{"NoTimeField", "$GPGSV,1,1,01,02,59,329,41*4A\r\n",
                    "$GPGSV,1,1,01,02,59,329,41*4A\r\n"},
        RewriteCase{"FragmentBeforeTheSentence", "29,41*7$GPGST,083000.00,1.2,,,,0.9,0.8,1.5*74",
                    "29,41*7$GPGST,123456.00,1.2,,,,0.9,0.8,1.5*78"}),
    caseName);

TEST(LiveClockEpochs, ANewTimeStartsAnEpoch) {
    const std::string capture =
        "0.93,519.2,M*5C\r\n"  // the end of a line cut off
        "$GPRMC,082959.00" +
        kRmcTail +
        "140524,,,A*71\r\n"
        "$GPTXT,01,01,02,ANTSTATUS=OK*3B\r\n"  // no time: stays with 08:29:59
        "$GPGGA,083000.00" +
        kGgaTail +
        "*7E\r\n"
        "$GPGSA,A,3,02,04,05,,,,,,,,,,1.81,1.07,1.44*04\r\n"
        "$GPRMC,083000.00" +
        kRmcTail +
        "140524,,,A*7B\r\n"  // same second: same epoch
        "$GPRMC,083001.00" +
        kRmcTail +
        "140524,,,A*7A\r\n"  // RMC first
        "$GPGGA,083001.00" +
        kGgaTail + "*7F";  // no line end at the end
    const Epochs epochs = splitEpochs({capture.begin(), capture.end()});
    EXPECT_EQ(epochs.lead, "0.93,519.2,M*5C\r\n");
    ASSERT_EQ(epochs.epochs.size(), 3u);
    EXPECT_EQ(epochs.epochs[0].rfind("$GPRMC,082959", 0), 0u);
    EXPECT_NE(epochs.epochs[0].find("GPTXT"), std::string::npos);
    EXPECT_EQ(epochs.epochs[1].rfind("$GPGGA,083000", 0), 0u);
    EXPECT_NE(epochs.epochs[1].find("$GPRMC,083000"), std::string::npos);
    EXPECT_EQ(epochs.epochs[2].rfind("$GPRMC,083001", 0), 0u);
    EXPECT_EQ(epochs.lead + epochs.epochs[0] + epochs.epochs[1] + epochs.epochs[2], capture);
}

TEST(LiveClockPace, OnlyTheLinesOwn) {
    EXPECT_NO_THROW(checkLiveClockPace(Pace{}));
    EXPECT_THROW(checkLiveClockPace(Pace{2.0, false, false}), ToolError);
    EXPECT_THROW(checkLiveClockPace(Pace{1.0, true, false}), ToolError);
}

// The pacing as the library sees it: each epoch read from the line at the
// second its sentences name. The sample of its first sentence, taken when the
// line end arrives, must land within 50 ms of that second.
TEST(LiveClockFeed, EachEpochBeginsAtTheSecondItNames) {
    const std::string path =
        std::filesystem::temp_directory_path() / ("vyr-live-" + std::to_string(getpid()));
    PtyLine line(path);
    std::vector<char> capture;
    {
        const std::string all = test::readFile(VYR_TEST_PROJECT_DATA_DIR "/drive-gps-only.nmea");
        size_t end = 0;
        for (int epoch = 0; epoch < 3; ++epoch) {  // the cut-off lead, 08:29:59 and two more
            end = all.find("$GPGGA", end + 1);
        }
        capture.assign(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(end));
    }
    const int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct Arrival {
        std::string text;
        timespec clock;
    };
    std::vector<Arrival> lines;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        std::string text;
        char c;
        pollfd in{fd, POLLIN, 0};
        while (!done.load() || poll(&in, 1, 0) > 0) {
            if (poll(&in, 1, 50) <= 0 || read(fd, &c, 1) != 1) {
                continue;
            }
            if (c == '\n') {
                timespec now{};
                clock_gettime(CLOCK_REALTIME, &now);
                lines.push_back({text, now});
                text.clear();
            } else if (c != '\r') {
                text += c;
            }
        }
    });
    feedLiveClock(
        line, capture, Pace{}, [] { return true; }, [](size_t) {});
    EXPECT_TRUE(line.drain(2000, [] { return true; }));
    done.store(true);
    reader.join();
    close(fd);

    int epochs = 0;
    std::string lastTime;
    for (const Arrival& arrival : lines) {
        const size_t dollar = arrival.text.find('$');
        if (dollar == std::string::npos) {
            continue;  // the cut-off lead
        }
        const std::string sentence = arrival.text.substr(dollar);
        EXPECT_EQ(VYR_GPS_NmeaChecksum(sentence.c_str(), static_cast<uint32_t>(sentence.size())),
                  VYR_GPS_CHECKSUM_OK)
            << sentence;
        const std::string type = sentence.substr(3, 3);
        if (type != "GGA" && type != "RMC") {
            continue;
        }
        const std::string time = sentence.substr(7, 6);
        if (time == lastTime) {
            continue;
        }
        lastTime = time;
        ++epochs;
        const TimeSample sample =
            sentenceTimeSample(timespec{}, arrival.clock, sentence.size() + kLineEndBytes);
        const time_t named = sample.clock.tv_sec + (sample.clock.tv_nsec > 500000000 ? 1 : 0);
        const double began = static_cast<double>(sample.clock.tv_sec - named) +
                             static_cast<double>(sample.clock.tv_nsec) * 1e-9;
        std::tm utc{};
        char expected[16];
        std::strftime(expected, sizeof expected, "%H%M%S", gmtime_r(&named, &utc));
        EXPECT_EQ(time, expected) << sentence;
        EXPECT_TRUE(began > -0.005 && began < 0.05) << sentence << " began at " << began;
    }
    EXPECT_EQ(epochs, 3);
}

}  // namespace
}  // namespace vyr::tool
