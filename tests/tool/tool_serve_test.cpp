// vyr-gps serve with the GPS clients' own programs and libraries: the C
// client library, gpspipe, gpxlogger and the Python module, many clients at
// once, a client that never reads, what each watch policy gets, and bad
// requests. Every server listens on a free port of the loopback interface.
#include <gps.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "support/tool_process.h"

namespace {

using namespace vyr::test;
using Json = nlohmann::json;

const std::string kCapture = VYR_TEST_PROJECT_DATA_DIR "/drive-gps-beidou.nmea";

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

TEST(ServeClients, CLibraryReceivesEveryFixAsReplayPrintsIt) {
    ASSERT_GT(expectedTpvs().size(), 250u);
    // The whole capture's reports (about 600 kB) fit in the client's queue:
    // the replay runs flat out and a client slowed by a sanitizer must not
    // fall far enough behind to be dropped.
    Serve serve("--replay " + kCapture + " --fast --wait-watchers 1 --client-buffer 4194304");
    gps_data_t data{};
    ASSERT_EQ(gps_open("127.0.0.1", std::to_string(serve.port()).c_str(), &data), 0);
    const std::unique_ptr<gps_data_t, int (*)(gps_data_t*)> closer(&data, gps_close);
    gps_stream(&data, WATCH_ENABLE | WATCH_JSON, nullptr);
    std::vector<std::string> tpvs;
    for (const auto deadline = Clock::now() + 90s;
         tpvs.size() < expectedTpvs().size() && Clock::now() < deadline;) {
        if (!gps_waiting(&data, 500000)) {
            continue;
        }
        char message[4096] = {};
        ASSERT_GE(gps_read(&data, message, sizeof message - 1), 0) << serve.log();
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
        // DEVICE: the line coming up after gpspipe started watching.
        ASSERT_TRUE(report["class"] == "TPV" || report["class"] == "SKY" ||
                    report["class"] == "DEVICE")
            << out[i];
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
    // Names of this process's own: other builds' suites may run beside it.
    const std::string stem = testing::TempDir() + "vyr-gps-serve-" + std::to_string(getpid());
    const std::string ours = stem + "-ours.gpx";
    const std::string theirs = stem + "-theirs.gpx";
    run(kTool + " replay " + kCapture + " --fast --gpx " + ours);
    Serve serve("--replay " + kCapture + " --speed 20 --wait-watchers 1");
    const pid_t logger =
        spawn("gpxlogger -f " + theirs + " 127.0.0.1:" + std::to_string(serve.port()));
    EXPECT_TRUE(serve.waitForLog("capture .* has ended", nullptr, 60s)) << serve.log();
    std::this_thread::sleep_for(2s);  // the last reports on their way
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

// What a client gets for its requests while a capture streams: first in one
// window, then after a second request in another. Answers are the lines
// that are neither reports nor sentences, matched in order.
struct PolicyCase {
    const char* name;
    std::string first;
    bool reports, sentences;  // in the first window
    std::string then;
    bool reportsThen;
    std::vector<std::string> answers;
};

TEST(ServeProtocol, EachPolicyGetsWhatItAskedFor) {
    const std::string device = VYR_TEST_DEVICE_PATH;
    const PolicyCase cases[] = {
        {"monitor program: enable left out",
         R"(?WATCH={"raw":2,"pps":true};)",
         false,
         true,
         {},
         false,
         {"DEVICES",
          R"("class":"WATCH","enable":true,"json":false,"nmea":false,"raw":2,.*"pps":true)"}},
        {"json false: polls only, then json true streams",
         R"(?WATCH={"enable":true,"json":false};)",
         false,
         false,
         R"(?POLL;?WATCH={"json":true};)",
         true,
         {"DEVICES", R"("class":"WATCH","enable":true,"json":false)",
          R"("class":"POLL",.*"active":1,"tpv":\[\{"class":"TPV",.*"mode":3.*"sky":\[\{)",
          "DEVICES", R"("class":"WATCH","enable":true,"json":true)"}},
        {"another device: nothing",
         R"(?WATCH={"enable":true,"json":true,"nmea":true,"device":"/dev/other"};)",
         false,
         false,
         {},
         false,
         {"DEVICES", R"("device":"/dev/other")"}},
        {"device asked, speed change refused",
         R"(?DEVICE;?DEVICE={"bps":4800};?DEVICE={"path":")" + device + R"(","bps":9600};)",
         false,
         false,
         {},
         false,
         {R"(^\{"class":"DEVICE","path":")" + device + R"(","activated":"[-0-9T:.]+Z".*"bps":9600)",
          R"("class":"ERROR","message":"Cannot change the speed or mode of )",
          R"(^\{"class":"DEVICE","path":")"}},
    };
    Serve serve("--replay " + kCapture + " --speed 20 --loop");
    // Once a watcher has seen the line's activation, no DEVICE notice of it
    // can come between the answers.
    Connection first(serve.port());
    first.send(kWatch);
    for (std::string line; !(line = first.nextLine()).empty() &&
                           line.find(R"("activated":")") == std::string::npos;) {
    }
    std::vector<std::unique_ptr<Connection>> clients;
    for (const PolicyCase& c : cases) {
        clients.push_back(std::make_unique<Connection>(serve.port()));
        clients.back()->send(c.first + "\n");
    }
    const auto readAll = [&clients] {
        for (const auto until = Clock::now() + 2s; Clock::now() < until;) {
            for (const auto& client : clients) {
                client->readFor(10ms);
            }
        }
    };
    // Reports or sentences among the lines [from, to).
    const auto count = [](const std::vector<std::string>& lines, size_t from, size_t to,
                          bool sentences) {
        return std::count_if(
            lines.begin() + static_cast<std::ptrdiff_t>(from),
            lines.begin() + static_cast<std::ptrdiff_t>(to), [sentences](const std::string& line) {
                return sentences ? line.starts_with("$") : line.starts_with(R"({"class":"TPV")");
            });
    };
    readAll();
    std::vector<size_t> firstWindow;
    for (size_t i = 0; i < std::size(cases); ++i) {
        firstWindow.push_back(clients[i]->received().size());
        clients[i]->send(cases[i].then + "\n");
    }
    readAll();
    for (size_t i = 0; i < std::size(cases); ++i) {
        const PolicyCase& c = cases[i];
        const auto& received = clients[i]->received();
        EXPECT_EQ(count(received, 0, firstWindow[i], false) > 0, c.reports) << c.name;
        EXPECT_EQ(count(received, 0, firstWindow[i], true) > 20, c.sentences) << c.name;
        EXPECT_EQ(count(received, firstWindow[i], received.size(), false) > 0,
                  c.reports || c.reportsThen)
            << c.name;
        std::vector<std::string> answers;
        for (const std::string& line : received) {
            if (!line.starts_with("$") && !line.starts_with(R"({"class":"TPV")") &&
                !line.starts_with(R"({"class":"SKY")") &&
                !line.starts_with(R"({"class":"TOFF")") &&
                !line.starts_with(R"({"class":"VERSION")")) {
                answers.push_back(line);
            }
        }
        ASSERT_EQ(answers.size(), c.answers.size()) << c.name;
        for (size_t k = 0; k < answers.size(); ++k) {
            EXPECT_TRUE(std::regex_search(answers[k], std::regex(c.answers[k])))
                << c.name << ": " << answers[k];
        }
    }
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

}  // namespace
