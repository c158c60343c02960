// The receiver's line as vyr-gps sees it: a receiver at a path of the test's
// own read by `monitor --device` at a given or found speed, unplugged and
// plugged in again; paths it refuses; and what `serve` tells its watchers
// when its line (the library's own, or a --device line) hangs up, falls
// silent and comes back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <atomic>
#include <fstream>
#include <nlohmann/json.hpp>

#include "pty_line.h"
#include "support/tool_process.h"

namespace {

using namespace vyr::test;
using Json = nlohmann::json;

const std::string kCaptureFile = VYR_TEST_PROJECT_DATA_DIR "/drive-gps-only.nmea";

// A receiver at path: a pseudo-terminal whose slave is linked there. Until
// the line is set to its speed (0: any) it sends noise without a "$", as a
// receiver looks at the wrong speed; then it sends what it is given. The
// destructor unplugs it: the line hangs up and the link goes.
class Receiver {
public:
    Receiver(std::string path, speed_t speed) : path_(std::move(path)), speed_(speed) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        char name[128] = {};
        EXPECT_TRUE(master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0 &&
                    ptsname_r(master_, name, sizeof name) == 0);
        // Held open, raw, so that the line hangs up only when unplugged.
        slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios raw{};
        tcgetattr(slave_, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave_, TCSANOW, &raw);
        unlink(path_.c_str());
        EXPECT_EQ(symlink(name, path_.c_str()), 0) << path_;
        writer_ = std::thread([this] { writeLoop(); });
    }
    ~Receiver() {
        stop_ = true;
        writer_.join();
        unlink(path_.c_str());
        close(master_);
        close(slave_);
    }
    void send(std::string bytes) {
        std::lock_guard lock(mutex_);
        queue_ += bytes;
    }
    // Everything sent and read from the line.
    bool drained() {
        std::lock_guard lock(mutex_);
        int unread = 0;
        return queue_.empty() && ioctl(slave_, FIONREAD, &unread) == 0 && unread == 0;
    }

private:
    void writeLoop() {
        bool started = false;
        while (!stop_) {
            termios line{};
            tcgetattr(master_, &line);  // the slave's settings
            std::string chunk;
            if (speed_ == 0 || cfgetispeed(&line) == speed_) {
                std::lock_guard lock(mutex_);
                chunk = queue_.substr(0, 512);
                started = started || !chunk.empty();
            } else if (!started) {
                chunk = std::string(32, '\x55') + "\x13\xaa\x80";
            }
            const ssize_t written = chunk.empty() ? 0 : write(master_, chunk.data(), chunk.size());
            if (written > 0 && started) {
                std::lock_guard lock(mutex_);
                queue_.erase(0, static_cast<size_t>(written));
            }
            std::this_thread::sleep_for(written > 0 && started ? 2ms : 20ms);
        }
    }

    std::string path_;
    speed_t speed_;
    int master_ = -1, slave_ = -1;
    std::mutex mutex_;
    std::string queue_;
    std::atomic<bool> stop_{false};
    std::thread writer_;
};

std::string receiverPath() {
    return testing::TempDir() + "vyr-gps-receiver-" + std::to_string(getpid());
}

// TPV lines without their device, which names the path each run read.
std::vector<std::string> tpvsWithoutDevice(const std::string& text) {
    std::vector<std::string> out;
    for (std::string line : tpvsIn(lines(text))) {
        const size_t at = line.find(R"("device":")");
        out.push_back(line.erase(at, line.find('"', at + 10) + 2 - at));
    }
    return out;
}

// Unplugged halfway and plugged in again, the receiver's bytes reach the
// library as one unbroken line: every fix equals replay's of the capture.
class MonitorDevice : public testing::TestWithParam<std::string> {};

TEST_P(MonitorDevice, FixesEqualReplaysAcrossAnUnplug) {
    const std::string capture = readFile(kCaptureFile);
    const auto expected =
        tpvsWithoutDevice(run(kTool + " --json replay " + kCaptureFile + " --fast"));
    ASSERT_GT(expected.size(), 250u);
    const size_t half = capture.find("$GPGGA", capture.size() / 2);
    const std::string path = receiverPath();
    const std::string output = testing::TempDir() + "vyr-gps-monitor.json";
    auto receiver = std::make_unique<Receiver>(path, B4800);
    receiver->send(capture.substr(0, half));
    ToolProcess monitor("--json monitor --device " + path + " " + GetParam(), output);
    const auto waitFor = [&](const std::function<bool()>& done) {
        for (const auto deadline = Clock::now() + 60s; !done() && Clock::now() < deadline;) {
            std::this_thread::sleep_for(50ms);
        }
        return done();
    };
    ASSERT_TRUE(waitFor([&] { return receiver->drained(); })) << monitor.log();
    receiver.reset();
    EXPECT_TRUE(monitor.waitForLog("the line " + path + " hung up")) << monitor.log();
    receiver = std::make_unique<Receiver>(path, B4800);
    receiver->send(capture.substr(half));
    EXPECT_TRUE(waitFor([&] { return tpvsIn(lines(readFile(output))).size() >= expected.size(); }))
        << monitor.log();
    EXPECT_EQ(monitor.stop(SIGINT), 0);
    EXPECT_EQ(tpvsWithoutDevice(readFile(output)), expected);
    EXPECT_NE(readFile(output).find(R"("device":")" + path + "\""), std::string::npos);
    EXPECT_TRUE(std::regex_search(monitor.log(), std::regex("reading .* at 4800 bps[\\s\\S]*"
                                                            "hung up[\\s\\S]*at 4800 bps")))
        << monitor.log();
    receiver.reset();
    std::filesystem::remove(output);
}

INSTANTIATE_TEST_SUITE_P(Speeds, MonitorDevice, testing::Values("--baud 4800", "--baud auto"),
                         [](const auto& test) { return test.param.substr(7); });

TEST(MonitorDevice, PathsItCannotReadAreRefusedInOneLine) {
    const std::string path = receiverPath();
    const std::string file = testing::TempDir() + "vyr-gps-not-a-tty";
    std::ofstream(file) << "$GPGGA\n";
    Receiver held(path, 0);
    ToolProcess holder("monitor --device " + path + " --baud 9600");
    ASSERT_TRUE(holder.waitForLog("reading " + path)) << holder.log();
    // As root every open succeeds: the case runs as nobody.
    const std::string nobody =
        geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const Receiver forbidden(path + "-root-only", 0);
    if (geteuid() != 0) {
        chmod((path + "-root-only").c_str(), 0);
    }
    const struct {
        std::string command, message;
    } cases[] = {
        {kTool + " monitor --device " + path + "-missing",
         "cannot open the GPS device .*-missing: it does not exist"},
        {kTool + " monitor --device " + file,
         "cannot use .* as the GPS device: it is not a terminal"},
        {kTool + " monitor --device " + path, "the GPS device .* is in use by another program"},
        {nobody + kTool + " monitor --device " + path + "-root-only",
         "cannot open the GPS device .*-root-only: permission denied"},
    };
    for (const auto& c : cases) {
        const auto [status, err] = shell("timeout -s KILL 20 " + c.command + " 2>&1 >/dev/null");
        EXPECT_EQ(status, 1) << c.command;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_TRUE(std::regex_search(err, std::regex(c.message))) << err;
    }
    EXPECT_EQ(holder.stop(SIGINT), 0);
    std::filesystem::remove(file);
}

// The line of `serve`: the library's own (a pseudo-terminal at its device
// path) or a receiver at another path relayed with --device, which is not
// there yet when the server starts.
class ServeLine : public testing::TestWithParam<bool> {
protected:
    void plug() {
        if (GetParam()) {
            receiver_ = std::make_unique<Receiver>(receiverPath(), B9600);
        } else {
            line_ = std::make_unique<vyr::tool::PtyLine>(VYR_TEST_DEVICE_PATH);
        }
    }
    void unplug() {
        receiver_.reset();
        line_.reset();
    }
    void send(const std::string& bytes) {
        if (receiver_) {
            receiver_->send(bytes);
        } else {
            line_->write(bytes.data(), bytes.size(), [] { return true; });
        }
    }
    std::unique_ptr<Receiver> receiver_;
    std::unique_ptr<vyr::tool::PtyLine> line_;
};

TEST_P(ServeLine, WatchersAreToldWhenTheLineGoesAndWhenItIsBack) {
    const std::string capture = readFile(kCaptureFile);
    constexpr auto kSilence = 2s;
    const std::string device = GetParam() ? receiverPath() : VYR_TEST_DEVICE_PATH;
    if (!GetParam()) {
        plug();
    }
    Serve serve("--silence 2" + (GetParam() ? " --device " + device : std::string()));
    Connection client(serve.port());
    client.send(kWatch);
    // Fixes that come before the server has taken the WATCH go to nobody.
    std::string answer;
    while (!(answer = client.nextLine()).empty() && !answer.starts_with(R"({"class":"WATCH")")) {
    }
    ASSERT_FALSE(answer.empty()) << "no WATCH answer\n" << serve.log();
    if (GetParam()) {
        EXPECT_TRUE(serve.waitForLog("does not exist .*; trying again until it appears"));
        plug();
    }
    // Opening a line drops what was written into it before: the capture
    // starts once the tool has the line open. (A relayed receiver holds its
    // bytes until the tool has set the line's speed.)
    if (!GetParam()) {
        EXPECT_TRUE(serve.waitForLog("reading " + device)) << serve.log();
    }
    // After each event, the DEVICE notice every watcher must get within the
    // silence limit and a second; returns where it is among the lines.
    std::vector<std::string> activations;
    const auto expectNotice = [&](const char* event, bool up) {
        const auto deadline = Clock::now() + kSilence + 1s;
        for (size_t seen = client.received().size(); Clock::now() < deadline;
             client.readFor(20ms)) {
            for (; seen < client.received().size(); ++seen) {
                const Json line = Json::parse(client.received()[seen]);
                if (line["class"] == "DEVICE" && line["activated"].is_string() == up &&
                    line["path"] == device) {
                    if (up) {
                        EXPECT_EQ(
                            std::count(activations.begin(), activations.end(), line["activated"]),
                            0)
                            << event << ": activation time not new";
                        activations.push_back(line["activated"]);
                    }
                    return seen;
                }
            }
        }
        ADD_FAILURE() << event << ": no DEVICE notice within the silence limit and 1 s\n"
                      << serve.log();
        return client.received().size();
    };
    // TPVs with a fix (mode 2 or 3) among the lines [from, to).
    const auto fixesIn = [&](size_t from, size_t to) {
        int fixes = 0;
        for (size_t i = from; i < to; ++i) {
            const Json line = Json::parse(client.received()[i]);
            fixes += line["class"] == "TPV" && line["mode"] >= 2 ? 1 : 0;
        }
        return fixes;
    };

    send(capture.substr(0, 20000));
    client.readFor(1s);
    EXPECT_GE(fixesIn(0, client.received().size()), 10) << serve.log();
    unplug();
    const size_t down = expectNotice("unplugged", false);
    client.send("?POLL;\n");
    client.readFor(300ms);
    plug();
    // As at the start, the capture goes on once the tool has the line open again.
    if (!GetParam()) {
        EXPECT_TRUE(serve.waitForLog("hung up; reopening it[\\s\\S]*reading " + device))
            << serve.log();
    }
    send(capture.substr(20000, 20000));
    const size_t up = expectNotice("plugged in again", true);
    EXPECT_EQ(fixesIn(down, up), 0) << "a fix while the line was down";
    client.readFor(1s);
    EXPECT_GE(fixesIn(up, client.received().size()), 10) << serve.log();
    // Silent: down once the limit passes, up again with the next sentence.
    const size_t silent = expectNotice("silent", false);
    send(capture.substr(40000, 3000));
    EXPECT_EQ(fixesIn(silent, expectNotice("sending again", true)), 0);
    EXPECT_TRUE(std::regex_search(
        serve.log(), std::regex("no sentence from " + device +
                                " for [0-9]+ s[\\s\\S]*sentences from " + device + " again")))
        << serve.log();
    bool polled = false;
    for (const std::string& line : client.received()) {
        if (line.starts_with(R"({"class":"POLL")")) {
            polled = true;
            const Json poll = Json::parse(line);
            EXPECT_EQ(poll["active"], 0) << line;
            EXPECT_EQ(poll["tpv"][0]["mode"], 0) << line;
        }
    }
    EXPECT_TRUE(polled);
    EXPECT_FALSE(client.closedByServer());
    EXPECT_EQ(serve.stop(), 0);
    unplug();
}

INSTANTIATE_TEST_SUITE_P(Lines, ServeLine, testing::Bool(), [](const auto& test) {
    return std::string(test.param ? "RelayedDevice" : "LibrarysOwnLine");
});

}  // namespace
