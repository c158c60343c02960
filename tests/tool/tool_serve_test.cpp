// vyr-gps serve with the GPS clients' own programs and libraries: the C
// client library, gpspipe, gpxlogger and the Python module, many clients at
// once, a client that never reads, bad requests and a line that hangs up.
// Every server listens on a free port of the loopback interface; every wait
// has a deadline, so a regression fails instead of hanging.
#include <arpa/inet.h>
#include <gps.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "pty_line.h"
#include "support/shell.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

const std::string kTool = VYR_TEST_TOOL_PATH;
const std::string kCapture = VYR_TEST_PROJECT_DATA_DIR "/drive-gps-beidou.nmea";

using vyr::test::readFile;

// Standard output of a command, killed after two minutes.
std::string run(const std::string& command) {
    return vyr::test::shell("timeout -s KILL 120 " + command).second;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line.substr(0, line.find_last_not_of("\r") + 1));
    }
    return out;
}

// The TPV reports `replay --json` prints for the capture: what every client
// must receive, in order.
const std::vector<std::string>& expectedTpvs() {
    static const std::vector<std::string> tpvs = [] {
        std::vector<std::string> out;
        for (const auto& line : lines(run(kTool + " replay " + kCapture + " --fast --json"))) {
            if (line.starts_with(R"({"class":"TPV")")) {
                out.push_back(line);
            }
        }
        return out;
    }();
    return tpvs;
}

pid_t spawn(const std::string& command) {
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), nullptr);
        _exit(127);
    }
    return pid;
}

// Exit status after SIGTERM, or -1 when the process had to be killed.
int terminate(pid_t pid, int signal = SIGTERM) {
    kill(pid, signal);
    for (const auto deadline = Clock::now() + 15s; Clock::now() < deadline;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(20ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

// `vyr-gps serve` on a free loopback port, its standard error in a file.
class Serve {
public:
    explicit Serve(const std::string& args)
        : log_(testing::TempDir() + "vyr-gps-serve-" + std::to_string(getpid()) + ".log") {
        pid_ = spawn(kTool + " serve --listen 127.0.0.1:0 " + args + " >/dev/null 2>" + log_);
        std::smatch match;
        EXPECT_TRUE(waitForLog("listening on 127\\.0\\.0\\.1:([0-9]+)", &match)) << log();
        port_ = match.empty() ? 0 : std::stoi(match[1]);
    }
    // A clean exit on SIGTERM, without a sanitizer's report.
    ~Serve() {
        if (pid_ > 0) {
            EXPECT_EQ(stop(), 0) << log();
        }
        EXPECT_EQ(log().find("Sanitizer"), std::string::npos) << log();
        std::filesystem::remove(log_);
    }
    int stop() { return terminate(std::exchange(pid_, -1)); }
    [[nodiscard]] int port() const { return port_; }
    [[nodiscard]] std::string log() const { return readFile(log_); }
    bool waitForLog(const std::string& pattern, std::smatch* match = nullptr,
                    Clock::duration timeout = 20s) const {
        for (const auto deadline = Clock::now() + timeout; Clock::now() < deadline;) {
            static std::string text;
            text = log();
            std::smatch found;
            if (std::regex_search(text, found, std::regex(pattern))) {
                if (match != nullptr) {
                    *match = found;
                }
                return true;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

private:
    std::string log_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// A raw protocol connection.
class Connection {
public:
    explicit Connection(int port, int receiveBuffer = 0) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        if (receiveBuffer > 0) {
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Connection() { close(fd_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    [[nodiscard]] bool connected() const { return connected_; }
    [[nodiscard]] int fd() const { return fd_; }
    [[nodiscard]] bool closedByServer() const { return eof_; }
    void send(const std::string& text) const {
        ASSERT_EQ(::send(fd_, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size()));
    }
    // Reads what is there (false at end of stream) into complete lines.
    bool readAvailable() {
        char buffer[65536];
        const ssize_t count = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
            eof_ = true;
            return false;
        }
        if (count > 0) {
            pending_.append(buffer, static_cast<size_t>(count));
            for (size_t end; (end = pending_.find("\r\n")) != std::string::npos;) {
                lines_.push_back(pending_.substr(0, end));
                pending_.erase(0, end + 2);
            }
        }
        return true;
    }
    // The next line, waiting up to timeout; empty at end of stream or timeout.
    std::string nextLine(Clock::duration timeout = 10s) {
        for (const auto deadline = Clock::now() + timeout;
             next_ == lines_.size() && !eof_ && Clock::now() < deadline;) {
            pollfd fd{fd_, POLLIN, 0};
            poll(&fd, 1, 50);
            readAvailable();
        }
        return next_ < lines_.size() ? lines_[next_++] : std::string();
    }
    [[nodiscard]] const std::vector<std::string>& received() const { return lines_; }

private:
    int fd_;
    bool connected_ = false;
    bool eof_ = false;
    std::string pending_;
    std::vector<std::string> lines_;
    size_t next_ = 0;
};

std::vector<std::string> tpvsIn(const std::vector<std::string>& received) {
    std::vector<std::string> out;
    std::copy_if(received.begin(), received.end(), std::back_inserter(out),
                 [](const std::string& l) { return l.starts_with(R"({"class":"TPV")"); });
    return out;
}

const std::string kWatch = R"(?WATCH={"enable":true,"json":true};)"
                           "\n";

TEST(ServeClients, CLibraryReceivesEveryFixAsReplayPrintsIt) {
    ASSERT_GT(expectedTpvs().size(), 250u);
    Serve serve("--replay " + kCapture + " --fast --wait-watchers 1");
    gps_data_t data{};
    ASSERT_EQ(gps_open("127.0.0.1", std::to_string(serve.port()).c_str(), &data), 0);
    gps_stream(&data, WATCH_ENABLE | WATCH_JSON, nullptr);
    std::vector<std::string> tpvs;
    for (const auto deadline = Clock::now() + 90s;
         tpvs.size() < expectedTpvs().size() && Clock::now() < deadline;) {
        if (!gps_waiting(&data, 500000)) {
            continue;
        }
        char message[4096] = {};
        ASSERT_GE(gps_read(&data, message, sizeof message - 1), 0);
        const std::string line = lines(message).empty() ? "" : lines(message)[0];
        if (!line.starts_with(R"({"class":"TPV")")) {
            continue;
        }
        tpvs.push_back(line);
        // What the library made of the report is what it says.
        const Json tpv = Json::parse(line);
        EXPECT_EQ(data.fix.mode, tpv["mode"].get<int>()) << line;
        if (tpv.contains("lat")) {
            EXPECT_DOUBLE_EQ(data.fix.latitude, tpv["lat"].get<double>()) << line;
            EXPECT_DOUBLE_EQ(data.fix.longitude, tpv["lon"].get<double>()) << line;
        }
        if (tpv.contains("altMSL")) {
            EXPECT_DOUBLE_EQ(data.fix.altMSL, tpv["altMSL"].get<double>()) << line;
        }
    }
    gps_close(&data);
    EXPECT_EQ(tpvs, expectedTpvs());
}

TEST(ServeClients, GpspipeSeesVersionDevicesWatchThenReports) {
    Serve serve("--replay " + kCapture + " --speed 50 --loop");
    const auto out =
        lines(run("gpspipe -w -n 60 127.0.0.1:" + std::to_string(serve.port()) + " 2>&1"));
    ASSERT_EQ(out.size(), 60u) << serve.log();
    const auto classOf = [](const std::string& line) { return Json::parse(line)["class"]; };
    EXPECT_EQ(classOf(out[0]), "VERSION");
    EXPECT_EQ(Json::parse(out[0])["proto_major"], 3);
    EXPECT_EQ(classOf(out[1]), "DEVICES");
    EXPECT_EQ(Json::parse(out[1])["devices"][0]["path"], VYR_TEST_DEVICE_PATH);
    EXPECT_EQ(classOf(out[2]), "WATCH");
    int tpvs = 0;
    for (size_t i = 3; i < out.size(); ++i) {
        const Json report = Json::parse(out[i]);
        ASSERT_TRUE(report["class"] == "TPV" || report["class"] == "SKY") << out[i];
        if (report["class"] == "TPV" && report.contains("lat")) {
            ++tpvs;
            EXPECT_NEAR(report["lat"].get<double>(), 48.1, 0.1) << out[i];
            EXPECT_NEAR(report["lon"].get<double>(), 11.5, 0.1) << out[i];
        }
    }
    EXPECT_GE(tpvs, 25);
}

// Track points as (lat, lon, ele, time, fix), from either writer's layout.
std::vector<std::string> trackPoints(const std::string& gpx) {
    static const std::regex point(
        R"re(<trkpt lat="([^"]+)" lon="([^"]+)">\s*(?:<ele>([^<]+)</ele>)?\s*)re"
        R"re((?:<time>([^<]+)</time>)?\s*(?:<fix>([^<]+)</fix>)?)re");
    std::vector<std::string> out;
    for (std::sregex_iterator it(gpx.begin(), gpx.end(), point), end; it != end; ++it) {
        out.push_back((*it)[1].str() + " " + (*it)[2].str() + " " + (*it)[3].str() + " " +
                      (*it)[4].str() + " " + (*it)[5].str());
    }
    return out;
}

TEST(ServeClients, GpxloggerTrackEqualsTheToolsGpx) {
    const std::string ours = testing::TempDir() + "vyr-gps-serve-ours.gpx";
    const std::string theirs = testing::TempDir() + "vyr-gps-serve-theirs.gpx";
    run(kTool + " replay " + kCapture + " --fast --gpx " + ours);
    Serve serve("--replay " + kCapture + " --speed 20 --wait-watchers 1");
    const pid_t logger =
        spawn("gpxlogger -f " + theirs + " 127.0.0.1:" + std::to_string(serve.port()));
    EXPECT_TRUE(serve.waitForLog("capture .* has ended", nullptr, 60s)) << serve.log();
    std::this_thread::sleep_for(1s);  // the last reports on their way
    terminate(logger, SIGINT);
    const auto expected = trackPoints(readFile(ours));
    EXPECT_GT(expected.size(), 250u);
    EXPECT_EQ(trackPoints(readFile(theirs)), expected);
    std::filesystem::remove(ours);
    std::filesystem::remove(theirs);
}

// Through the simulated-source hook this time.
TEST(ServeClients, PythonModuleStreamsFixes) {
    Serve serve("--replay " + kCapture + " --speed 50 --source simulator --wait-watchers 1");
    const std::string script =
        "import gps, sys\n"
        "s = gps.gps(host='127.0.0.1', port=sys.argv[1], mode=gps.WATCH_ENABLE | gps.WATCH_JSON)\n"
        "n = 0\n"
        "while n < 20:\n"
        "    r = s.next()\n"
        "    if r.get('class') == 'TPV' and s.fix.mode in (2, 3):\n"
        "        n += 1\n"
        "print(n, round(s.fix.latitude), round(s.fix.longitude))\n";
    std::ofstream(testing::TempDir() + "vyr-gps-serve.py") << script;
    // Debian's python3: the module is installed for it.
    const std::string out = run("/usr/bin/python3 " + testing::TempDir() + "vyr-gps-serve.py " +
                                std::to_string(serve.port()) + " 2>&1");
    EXPECT_EQ(out, "20 48 12\n") << serve.log();
}

TEST(ServeClients, SixtyFourClientsGetEveryFixWhileOneThatNeverReadsIsDropped) {
    constexpr int kReaders = 64;
    const size_t expected = expectedTpvs().size();  // before the server takes the device path
    Serve serve("--replay " + kCapture +
                " --speed 50 --max-clients 65 --client-buffer 131072 --wait-watchers 65");
    std::vector<std::unique_ptr<Connection>> readers;
    for (int i = 0; i < kReaders; ++i) {
        readers.push_back(std::make_unique<Connection>(serve.port()));
        ASSERT_TRUE(readers.back()->connected());
        readers.back()->send(kWatch);
    }
    Connection stuck(serve.port(), 4096);
    stuck.send(kWatch);
    for (const auto deadline = Clock::now() + 120s; Clock::now() < deadline;) {
        std::vector<pollfd> fds;
        for (const auto& reader : readers) {
            fds.push_back({reader->fd(), POLLIN, 0});
        }
        poll(fds.data(), fds.size(), 100);
        size_t complete = 0;
        for (const auto& reader : readers) {
            reader->readAvailable();
            complete += tpvsIn(reader->received()).size() >= expected ? 1 : 0;
        }
        if (complete == readers.size()) {
            break;
        }
    }
    for (const auto& reader : readers) {
        EXPECT_EQ(tpvsIn(reader->received()), expectedTpvs());
    }
    EXPECT_TRUE(serve.waitForLog("client [0-9]+ \\(127\\.0\\.0\\.1:[0-9]+\\) dropped"))
        << serve.log();
    // Its connection was closed: what it can still read ends.
    while (stuck.nextLine(5s) != "") {
    }
    EXPECT_TRUE(stuck.closedByServer());
}

TEST(ServeClients, BadRequestsGetAnErrorAndTheServerKeepsServing) {
    Serve serve("--replay " + kCapture + " --speed 20 --loop --max-clients 8");
    Connection halfSent(serve.port());
    halfSent.send("?WATC");  // and nothing more
    const std::string bad[] = {
        "?FOO;\n",
        std::string("\x00\xff\x13\x10garbage\n", 13),
        std::string(5000, 'x') + "\n",
        "?WATCH={\"enable\":tru};\n",
        "?WATCH={\"enable\":1}\n",
        "?WATCH={\"enable\":true\n",
    };
    for (const std::string& input : bad) {
        Connection client(serve.port());
        EXPECT_EQ(Json::parse(client.nextLine())["class"], "VERSION");
        client.send(input);
        const std::string reply = client.nextLine();
        EXPECT_EQ(Json::parse(reply)["class"], "ERROR") << input << " -> " << reply;
    }
    Connection watcher(serve.port());
    watcher.send(kWatch + "?POLL;\n");
    int tpvs = 0;
    bool polled = false;
    for (std::string line; tpvs < 5 && !(line = watcher.nextLine()).empty();) {
        const Json report = Json::parse(line);
        tpvs += report["class"] == "TPV" ? 1 : 0;
        polled = polled || report["class"] == "POLL";
    }
    EXPECT_EQ(tpvs, 5) << serve.log();
    EXPECT_TRUE(polled);
    // SIGTERM: a clean exit that removes the link.
    EXPECT_EQ(serve.stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(VYR_TEST_DEVICE_PATH)));
}

TEST(ServeClients, AClientPastTheLimitGetsAnErrorAndIsClosed) {
    Serve serve("--max-clients 2");
    Connection first(serve.port()), second(serve.port()), third(serve.port());
    EXPECT_EQ(Json::parse(third.nextLine())["class"], "VERSION");
    EXPECT_EQ(Json::parse(third.nextLine())["class"], "ERROR");
    EXPECT_EQ(third.nextLine(), "");
    EXPECT_TRUE(third.closedByServer());
    second.send("?VERSION;\n");
    EXPECT_EQ(Json::parse(second.nextLine())["class"], "VERSION");
    EXPECT_EQ(Json::parse(second.nextLine())["class"], "VERSION");
}

// The receiver goes away (its pseudo-terminal hangs up) and a new one
// appears at the device path: the same connection gets fixes again.
TEST(ServeClients, ClientsGetFixesAgainAfterTheLineHangsUp) {
    const std::string capture = readFile(VYR_TEST_PROJECT_DATA_DIR "/drive-gps-only.nmea");
    auto line = std::make_unique<vyr::tool::PtyLine>(VYR_TEST_DEVICE_PATH);
    Serve serve("--silence 1");
    Connection client(serve.port());
    client.send(kWatch);
    const auto feed = [&](size_t from, size_t to) {
        for (size_t offset = from; offset < to; offset += 1000) {
            line->write(capture.data() + offset, std::min<size_t>(1000, to - offset),
                        [] { return true; });
            std::this_thread::sleep_for(20ms);
            client.readAvailable();
        }
        for (const auto until = Clock::now() + 2s; Clock::now() < until;) {
            client.nextLine(100ms);
        }
        return tpvsIn(client.received()).size();
    };
    const size_t before = feed(0, 20000);
    EXPECT_GE(before, 10u) << serve.log();

    line.reset();  // closes the master: the slave hangs up
    EXPECT_TRUE(serve.waitForLog("hung up")) << serve.log();
    line = std::make_unique<vyr::tool::PtyLine>(VYR_TEST_DEVICE_PATH);
    EXPECT_TRUE(serve.waitForLog("hung up[\\s\\S]*reading")) << serve.log();
    const size_t after = feed(20000, 40000);
    EXPECT_GE(after, before + 10) << serve.log();
    EXPECT_FALSE(client.closedByServer());
    EXPECT_TRUE(serve.waitForLog("no sentence from .* for [0-9]+ s")) << serve.log();
    EXPECT_EQ(serve.stop(), 0);
    line.reset();
}

}  // namespace
