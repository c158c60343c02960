// vyr-gps: runs the GPS library on a capture file or on the receiver and
// prints one line (or JSON object) per delivered fix.
//
//   vyr-gps replay FILE [--speed N | --fast] [--source serial|simulator]
//   vyr-gps monitor
//   common: --json  --gpx FILE  --nmea  --log-level N
//
// Fixes and the summary go to standard output. The library's diagnostic lines
// (printed on standard output by the library) are sent to standard error, so
// the output stays clean for pipes and files.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "pty_line.h"
#include "session.h"
#include "vyr_gpsparser.h"
#include "vyr_platform.h"

#ifndef VYR_GPS_DEVICE_PATH
#error "VYR_GPS_DEVICE_PATH must name the library's build-time serial device path"
#endif
#ifndef VYR_TOOL_VERSION
#define VYR_TOOL_VERSION "0"
#endif

namespace vyr::tool {
namespace {

constexpr double kLineBytesPerSecond = 960.0;  // 9600 baud, 8N1: 10 bits a byte
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

struct Options {
    bool json = false;
    bool echoNmea = false;
    std::string gpxPath;
    int logLevel = VYR_PLATFORM_DEFAULT_PRINT_LEVEL;
    std::string file;
    double speed = 1.0;
    bool fast = false;
    std::string source = "serial";
};

std::string hex(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08" PRIX32, code);
    return text;
}

// SIGINT and SIGTERM are blocked in every thread (the library's reader thread
// inherits the mask) and taken synchronously by the controlling thread.
sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

bool stopRequested() {
    const sigset_t set = stopSignals();
    const timespec noWait{0, 0};
    return sigtimedwait(&set, nullptr, &noWait) > 0;
}

std::vector<char> readCapture(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        throw ToolError("cannot open capture " + path + ": " + std::strerror(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        throw ToolError("cannot open capture " + path + ": is a directory");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw ToolError("cannot open capture " + path + ": " + std::strerror(errno));
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Brings the manager up on the device; explains a failure in the device's
// own terms (missing, not accessible) where it can.
void startLibrary(const std::string& device) {
    const uint32_t init = VYR_GPSPARSER_Init();
    if (init != VYR_GPS_OK) {
        std::string reason = "the library could not open it";
        if (access(device.c_str(), F_OK) != 0 || access(device.c_str(), R_OK | W_OK) != 0) {
            reason = std::strerror(errno);
        }
        throw ToolError("cannot open the GPS device " + device + ": " + reason +
                        " (VYR_GPSPARSER_Init returned " + hex(init) + ")");
    }
    const uint32_t start = VYR_GPSPARSER_Start();
    if (start != VYR_GPS_OK) {
        VYR_GPSPARSER_Deinit();
        throw ToolError("cannot start the reader thread (VYR_GPSPARSER_Start returned " +
                        hex(start) + ")");
    }
}

void stopLibrary() {
    const uint32_t stop = VYR_GPSPARSER_Stop();
    const uint32_t deinit = VYR_GPSPARSER_Deinit();
    if (stop != VYR_GPS_OK || deinit != VYR_GPS_OK) {
        throw ToolError("shutting the library down failed (Stop " + hex(stop) + ", Deinit " +
                        hex(deinit) + ")");
    }
}

// A progress line on a terminal, for replays that take a while.
class Progress {
public:
    Progress(size_t total, double expectedSeconds)
        : total_(total), enabled_(isatty(STDERR_FILENO) == 1 && expectedSeconds > 3.0) {}
    void update(size_t done, uint64_t fixes) {
        const auto now = std::chrono::steady_clock::now();
        if (!enabled_ || now - last_ < std::chrono::milliseconds(250)) {
            return;
        }
        last_ = now;
        std::fprintf(
            stderr, "\r\033[Kreplay %3.0f%%  %zu/%zu bytes  %" PRIu64 " fixes",
            total_ == 0 ? 100.0 : 100.0 * static_cast<double>(done) / static_cast<double>(total_),
            done, total_, fixes);
    }
    void clear() {
        if (enabled_) {
            std::fputs("\r\033[K", stderr);
        }
    }

private:
    size_t total_;
    bool enabled_;
    std::chrono::steady_clock::time_point last_{};
};

// Writes the capture into the line at the chosen pace. Returns the number of
// bytes written (less than the file when interrupted).
size_t feedSerial(PtyLine& line, const std::vector<char>& data, const Options& options,
                  Session& session, bool& interrupted) {
    using namespace std::chrono;
    const double rate = kLineBytesPerSecond * options.speed;
    Progress progress(data.size(), options.fast ? 0.0 : static_cast<double>(data.size()) / rate);
    constexpr size_t kChunk = 256;
    // --fast keeps only a small window in flight, so the library's reader
    // sets the pace and a stop request is answered promptly.
    constexpr int kFastWindow = 2048;
    const auto begin = steady_clock::now();
    size_t offset = 0;
    while (offset < data.size()) {
        if (stopRequested()) {
            interrupted = true;
            break;
        }
        size_t allowed = data.size();
        if (options.fast) {
            if (line.pending() > kFastWindow) {
                std::this_thread::sleep_for(milliseconds(1));
                continue;
            }
        } else {
            const double elapsed = duration<double>(steady_clock::now() - begin).count();
            allowed = std::min(data.size(), static_cast<size_t>(elapsed * rate) + 1);
        }
        if (allowed <= offset) {
            std::this_thread::sleep_for(milliseconds(2));
            continue;
        }
        const size_t count = std::min(kChunk, allowed - offset);
        line.write(data.data() + offset, count);
        offset += count;
        progress.update(offset, session.fixes());
    }
    progress.clear();
    if (!interrupted && !line.drain(30000)) {
        std::fprintf(stderr, "vyr-gps: the library did not read the whole capture within 30 s\n");
    }
    return offset;
}

// Simulated source: one line of the capture per call, from its last "$" (what
// the serial framer keeps of a line), without the line end, cut to 179
// characters. Runs on the reader thread; it paces itself by sleeping.
class SimulatedSource {
public:
    SimulatedSource(const std::vector<char>& data, const Options& options)
        : rate_(options.fast ? 0.0 : kLineBytesPerSecond * options.speed) {
        size_t lineStart = 0;
        for (size_t i = 0; i <= data.size(); ++i) {
            if (i < data.size() && data[i] != '\r' && data[i] != '\n') {
                continue;
            }
            const std::string line(data.begin() + static_cast<std::ptrdiff_t>(lineStart),
                                   data.begin() + static_cast<std::ptrdiff_t>(i));
            const size_t dollar = line.rfind('$');
            if (dollar != std::string::npos) {
                sentences_.push_back({line.substr(dollar, VYR_GPS_SENTENCE_SIZE - 1), i + 1});
            }
            lineStart = i + 1;
        }
        total_ = data.size();
        instance_ = this;
    }
    ~SimulatedSource() { instance_ = nullptr; }
    SimulatedSource(const SimulatedSource&) = delete;
    SimulatedSource& operator=(const SimulatedSource&) = delete;

    static int32_t next(char* buffer, int32_t size) { return instance_->fill(buffer, size); }

    [[nodiscard]] bool exhausted() const { return exhausted_.load(); }
    [[nodiscard]] size_t consumed() const { return consumed_.load(); }
    void stop() { stopped_.store(true); }

private:
    struct Entry {
        std::string text;
        size_t endOffset;  // file offset after the line, for pacing and progress
    };

    int32_t fill(char* buffer, int32_t size) {
        using namespace std::chrono;
        if (!started_) {
            started_ = true;
            begin_ = steady_clock::now();
        }
        if (stopped_.load() || next_ >= sentences_.size()) {
            // Asked again after the last sentence: everything handed out
            // before has been framed, notified and collected.
            consumed_.store(stopped_.load() ? consumed_.load() : total_);
            exhausted_.store(true);
            return 0;
        }
        const Entry& entry = sentences_[next_++];
        if (rate_ > 0.0) {
            const auto due = begin_ + duration_cast<steady_clock::duration>(duration<double>(
                                          static_cast<double>(entry.endOffset) / rate_));
            std::this_thread::sleep_until(due);
        }
        const size_t length = std::min(entry.text.size(), static_cast<size_t>(size - 1));
        std::memcpy(buffer, entry.text.data(), length);
        buffer[length] = '\0';
        consumed_.store(std::min(entry.endOffset, total_));
        return static_cast<int32_t>(length);
    }

    static inline SimulatedSource* instance_ = nullptr;
    double rate_;
    std::vector<Entry> sentences_;
    size_t total_ = 0;
    size_t next_ = 0;  // reader thread only
    bool started_ = false;
    std::chrono::steady_clock::time_point begin_{};
    std::atomic<bool> exhausted_{false};
    std::atomic<bool> stopped_{false};
    std::atomic<size_t> consumed_{0};
};

size_t feedSimulated(SimulatedSource& source, size_t total, const Options& options,
                     Session& session, bool& interrupted) {
    Progress progress(
        total,
        options.fast ? 0.0 : static_cast<double>(total) / (kLineBytesPerSecond * options.speed));
    while (!source.exhausted()) {
        if (stopRequested()) {
            interrupted = true;
            source.stop();
            break;
        }
        progress.update(source.consumed(), session.fixes());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    progress.clear();
    return source.consumed();
}

int replay(std::FILE* out, const Options& options) {
    const std::vector<char> data = readCapture(options.file);
    PtyLine line(VYR_GPS_DEVICE_PATH);
    Session session(out, {options.json, options.echoNmea, options.gpxPath, options.file});
    std::unique_ptr<SimulatedSource> source;
    if (options.source == "simulator") {
        source = std::make_unique<SimulatedSource>(data, options);
    }
    session.attach();
    startLibrary(VYR_GPS_DEVICE_PATH);
    bool interrupted = false;
    size_t bytes = 0;
    try {
        if (source) {
            Vyr_GPSPARSER_RegisterSimulater(&SimulatedSource::next);
            bytes = feedSimulated(*source, data.size(), options, session, interrupted);
        } else {
            bytes = feedSerial(line, data, options, session, interrupted);
        }
    } catch (...) {
        VYR_GPSPARSER_Stop();
        VYR_GPSPARSER_Deinit();
        throw;
    }
    // Stop joins the reader after its current pass, so every sentence read
    // so far has been delivered when it returns.
    stopLibrary();
    Vyr_GPSPARSER_RegisterSimulater(nullptr);
    session.detach();
    session.printSummary(bytes);
    return interrupted ? kExitInterrupted : 0;
}

int monitor(std::FILE* out, const Options& options) {
    Session session(out, {options.json, options.echoNmea, options.gpxPath, VYR_GPS_DEVICE_PATH});
    session.attach();
    startLibrary(VYR_GPS_DEVICE_PATH);
    const sigset_t set = stopSignals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    stopLibrary();
    session.detach();
    session.printSummary(0);
    return 0;
}

}  // namespace
}  // namespace vyr::tool

int main(int argc, char** argv) {
    using namespace vyr::tool;
    Options options;
    CLI::App app{"Runs the GPS library on a capture or on the receiver and prints every fix.",
                 "vyr-gps"};
    app.set_version_flag(
        "--version", std::string("vyr-gps " VYR_TOOL_VERSION " (device " VYR_GPS_DEVICE_PATH ")"));
    app.require_subcommand(1);
    app.fallthrough();
    app.add_flag("--json", options.json, "one JSON object per line per fix (class TPV)");
    app.add_option("--gpx", options.gpxPath, "write the valid fixes as a GPX 1.1 track to FILE")
        ->type_name("FILE");
    app.add_flag("--nmea", options.echoNmea, "also print every framed sentence");
    app.add_option("--log-level", options.logLevel,
                   "library print level: 0 none, 1 errors, 2 +warnings (default), 3 +info, "
                   "4 +debug")
        ->check(CLI::Range(0, 9));

    CLI::App* replayCommand =
        app.add_subcommand("replay", "run a capture file through the library");
    replayCommand->add_option("FILE", options.file, "NMEA capture (raw receiver bytes)")
        ->required();
    CLI::Option* speed =
        replayCommand
            ->add_option("--speed", options.speed, "pace as N times a 9600-baud line (default 1)")
            ->check(CLI::PositiveNumber);
    replayCommand->add_flag("--fast", options.fast, "no pacing: as fast as the library reads")
        ->excludes(speed);
    replayCommand
        ->add_option("--source", options.source,
                     "serial: through a pseudo-terminal at the device path (default); "
                     "simulator: through the simulated-source hook")
        ->check(CLI::IsMember({"serial", "simulator"}));

    app.add_subcommand("monitor",
                       "read the receiver at " VYR_GPS_DEVICE_PATH " until SIGINT or SIGTERM");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : kExitUsage;
    }

    // Data on the original standard output; the library's log lines (which it
    // prints on standard output) to standard error.
    const int dataFd = dup(STDOUT_FILENO);
    std::FILE* out = dataFd >= 0 ? fdopen(dataFd, "w") : nullptr;
    if (out == nullptr || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::fprintf(stderr, "vyr-gps: cannot set up the output: %s\n", std::strerror(errno));
        return kExitFailure;
    }
    if (isatty(dataFd) == 1) {
        setvbuf(out, nullptr, _IOLBF, 0);
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);

    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    VyrPlatform_SetPrintLevel(options.logLevel);

    try {
        if (replayCommand->parsed()) {
            return replay(out, options);
        }
        return monitor(out, options);
    } catch (const ToolError& error) {
        std::fflush(out);
        std::fprintf(stderr, "vyr-gps: %s\n", error.what());
        return kExitFailure;
    }
}
