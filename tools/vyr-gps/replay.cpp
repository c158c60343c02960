// vyr-gps replay FILE: the capture through the library, one line or report
// per fix, then the summary.
#include <unistd.h>

#include <cinttypes>
#include <memory>

#include "commands.h"
#include "library.h"
#include "live_clock.h"
#include "notice.h"
#include "session.h"

namespace vyr::tool {

namespace {

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

double expectedSeconds(size_t bytes, const Pace& pace) {
    return pace.fast ? 0.0 : static_cast<double>(bytes) / (kLineBytesPerSecond * pace.speed);
}

}  // namespace

std::string captureSource(const Options& options) {
    if (!options.source.empty()) {
        return options.source;
    }
    if (options.libraryDevice.rfind("/dev/", 0) != 0) {
        return "serial";
    }
    notice(
        "this build's device path is %s, a real serial port; the capture goes through the "
        "simulated source instead",
        options.libraryDevice.c_str());
    return "simulator";
}

void checkLiveClock(const Options& options, bool serial) {
    if (!options.now) {
        return;
    }
    checkLiveClockPace(options.pace);
    if (!serial) {
        throw ToolError(
            "--now writes the capture into the serial line at the top of each "
            "second; it cannot go through the simulated source");
    }
}

namespace {

void startLibraryFor(const std::string& source, const std::string& device) {
    try {
        startLibrary(device);
    } catch (const ToolError& error) {
        if (source != "simulator" || device.rfind("/dev/", 0) != 0) {
            throw;
        }
        throw ToolError(std::string(error.what()) +
                        "; the library opens its device even while a simulated source feeds it");
    }
}

}  // namespace

int replay(std::FILE* out, const Options& options) {
    const std::vector<char> data = readCapture(options.file);
    const std::string sourceName = captureSource(options);
    // The simulated source needs no line; one is placed all the same where it
    // can be, for the library to open.
    std::unique_ptr<PtyLine> line;
    checkLiveClock(options, sourceName == "serial");
    if (sourceName == "serial" || options.libraryDevice.rfind("/dev/", 0) != 0) {
        line = std::make_unique<PtyLine>(options.libraryDevice);
    }
    Session session(out, {options.json, options.echoNmea, options.gpxPath, options.libraryDevice,
                          options.file});
    std::unique_ptr<SimulatedSource> source;
    if (sourceName == "simulator") {
        source = std::make_unique<SimulatedSource>(data, options.pace);
    }
    session.attach();
    startLibraryFor(sourceName, options.libraryDevice);
    session.startPrinting();
    bool interrupted = false;
    const auto keepGoing = [&] {
        interrupted = interrupted || stopRequested();
        return !interrupted && !session.outputClosed();
    };
    Progress progress(data.size(), expectedSeconds(data.size(), options.pace));
    size_t bytes = 0;
    try {
        if (source) {
            Vyr_GPSPARSER_RegisterSimulater(&SimulatedSource::next);
            while (!source->exhausted() && keepGoing()) {
                progress.update(source->consumed(), session.fixes());
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            source->stop();
            bytes = source->consumed();
        } else {
            bytes = (options.now ? feedLiveClock : feedSerial)(
                *line, data, options.pace, keepGoing,
                [&](size_t done) { progress.update(done, session.fixes()); });
            if (keepGoing() && !line->drain(30000, keepGoing)) {
                std::fprintf(stderr,
                             "vyr-gps: the library did not read the whole capture within 30 s\n");
            }
        }
    } catch (...) {
        VYR_GPSPARSER_Stop();
        VYR_GPSPARSER_Deinit();
        throw;
    }
    progress.clear();
    // Stop joins the reader after its current pass, so every sentence read
    // so far has been delivered when it returns.
    stopLibrary();
    Vyr_GPSPARSER_RegisterSimulater(nullptr);
    session.detach();
    session.printSummary(bytes);
    // A reader that closed the output (replay | head) ends the run quietly.
    return interrupted ? kExitInterrupted : 0;
}

}  // namespace vyr::tool
