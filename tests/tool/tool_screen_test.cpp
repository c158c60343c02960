// The GPS clients that draw a screen, each in a terminal of its own (a tmux
// server of the test's own), against `vyr-gps serve --replay`: what a user
// sees is read back from the pane.
#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "support/tool_process.h"

namespace {

using namespace vyr::test;

const std::string kCapture = VYR_TEST_PROJECT_DATA_DIR "/drive-gps-beidou.nmea";

// One pane running a command, 160 by 48 characters.
class Screen {
public:
    explicit Screen(const std::string& command)
        : tmux_("tmux -L vyr-gps-test-" + std::to_string(getpid()) + " ") {
        EXPECT_EQ(shell(tmux_ + "new-session -d -x 160 -y 48 '" + command + "'").first, 0);
    }
    ~Screen() { shell(tmux_ + "kill-server 2>/dev/null"); }
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    [[nodiscard]] std::string text() const { return shell(tmux_ + "capture-pane -p").second; }
    // Waits until every pattern is on the screen at once; the last screen.
    std::string waitFor(const std::vector<std::string>& patterns,
                        Clock::duration timeout = 20s) const {
        std::string screen;
        for (const auto deadline = Clock::now() + timeout; Clock::now() < deadline;) {
            screen = text();
            if (std::all_of(patterns.begin(), patterns.end(), [&screen](const std::string& p) {
                    return std::regex_search(screen, std::regex(p));
                })) {
                break;
            }
            std::this_thread::sleep_for(200ms);
        }
        return screen;
    }

private:
    std::string tmux_;
};

bool shows(const std::string& screen, const std::string& pattern) {
    return std::regex_search(screen, std::regex(pattern));
}

// The monitor program asks for sentences without saying "enable"; it shows
// them, the fields it parses from them and the fix.
TEST(ScreenClients, GpsmonShowsTheSentencesAndTheFix) {
    Serve serve("--replay " + kCapture + " --speed 4 --loop");
    const Screen screen("gpsmon 127.0.0.1:" + std::to_string(serve.port()));
    const std::vector<std::string> expected = {
        R"(\(7[0-9]\) \$GNRMC,[0-9]{6}\.00,A,480[0-9.]+,N,0113)",  // the sentence window
        R"(\(7[0-9]\) \$GNGGA,)", R"(Lat: +48 0[0-9]\.[0-9]+' N +Lon: +11 3)",  // the fix
        R"(Latitude: +480[0-9.]+ N)", R"(NMEA0183)"};
    const std::string shown = screen.waitFor(expected);
    for (const std::string& pattern : expected) {
        EXPECT_TRUE(shows(shown, pattern)) << pattern << " not on the screen:\n" << shown;
    }
}

// The error estimates (TPV epx, epy, epv) and the dilutions the SKY report
// computes from the satellites' geometry (xdop, ydop, tdop, gdop): numbers,
// not n/a, on a capture whose GSV gives elevations and azimuths. These values
// come with the fix assembly that fills every field the sentences allow.
TEST(CgpsScreen, ErrorEstimateAndDopRowsShowNumbers) {
    Serve serve("--replay " + kCapture + " --speed 4 --loop");
    const Screen screen("cgps 127.0.0.1:" + std::to_string(serve.port()));
    const std::string shown =
        screen.waitFor({R"(Status: +3D FIX)", R"(Geo Err +\(GDOP\): +[0-9])"});
    ASSERT_TRUE(shows(shown, R"(Latitude: +48\.[0-9]+ N)")) << shown;
    for (const std::string label :
         {"(XDOP, EPX):", "(YDOP, EPY):", "(VDOP, EPV):", "(TDOP):", "(GDOP):"}) {
        const size_t at = shown.find(label);
        ASSERT_NE(at, std::string::npos) << label << " not on the screen:\n" << shown;
        // The row's value, up to the right-hand window's frame.
        const std::string value = shown.substr(at + label.size(), 20);
        EXPECT_TRUE(value.find("n/a") == std::string::npos && shows(value, "[0-9]"))
            << label << value;
    }
}

}  // namespace
