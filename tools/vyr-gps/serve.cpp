// vyr-gps serve: one library instance shared with any number of GPS clients
// over TCP. Threads: the event loop (this thread: clients), the line
// supervisor (the library's lifecycle), the library's reader thread
// (callbacks into the feed, which assembles the sentences into reports)
// and, with --replay over the serial path, the thread that writes the
// capture into the pseudo-terminal, or with --device the thread that relays
// the receiver's bytes into it, and with --pps the thread that waits for the
// pulses (time_sources.h).
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

#include "assembler.h"
#include "commands.h"
#include "device_relay.h"
#include "library_feed.h"
#include "line_supervisor.h"
#include "live_clock.h"
#include "notice.h"
#include "server.h"
#include "time_sources.h"
#include "tool_error.h"

namespace vyr::tool {

namespace {

// Waits until enough clients watch, then hands the capture to the library:
// written into the pseudo-terminal at its pace, or through the simulated
// source. Returns when the capture has ended (never with --loop) or on stop.
void playCapture(const Options& options, const std::vector<char>& data, PtyLine* line,
                 SimulatedSource* source, const Server& server, const std::atomic<bool>& stopping) {
    const auto keepGoing = [&stopping] { return !stopping.load(); };
    while (keepGoing() && server.watchers() < options.waitWatchers) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!keepGoing()) {
        return;
    }
    if (source != nullptr) {
        Vyr_GPSPARSER_RegisterSimulater(&SimulatedSource::next);
        while (keepGoing() && !source->exhausted()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    } else {
        (options.now ? feedLiveClock : feedSerial)(*line, data, options.pace, keepGoing,
                                                   [](size_t) {});
    }
    if (keepGoing()) {
        notice("the capture %s has ended; still serving", options.file.c_str());
    }
}

void publish(Server& server, TimeSources& time, const Presentation& presentation) {
    time.take(presentation);
    if (const auto* fix = std::get_if<Fix>(&presentation)) {
        server.publishTpv(*fix);
    } else if (const auto* sky = std::get_if<Sky>(&presentation)) {
        server.publishSky(*sky);
    } else if (const auto* gst = std::get_if<Gst>(&presentation)) {
        server.publishGst(*gst);
    }
}

// Sentences that failed their checksum, logged as a rate once a minute (a
// noisy line would otherwise log a line per sentence).
class BadSentenceRate {
public:
    static constexpr std::chrono::seconds kWindow{60};

    void update(const ChecksumGate& gate, std::chrono::steady_clock::time_point now) {
        if (now - windowStart_ < kWindow) {
            return;
        }
        const uint64_t failed = gate.failed() - failed_;
        const uint64_t checked = gate.checked() - checked_;
        if (failed > 0 && windowStart_.time_since_epoch().count() != 0) {
            notice(
                "%llu of %llu sentences (%.2f%%) failed their checksum in the last %lld s "
                "and were ignored",
                static_cast<unsigned long long>(failed), static_cast<unsigned long long>(checked),
                100.0 * static_cast<double>(failed) / static_cast<double>(checked),
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::seconds>(now - windowStart_).count()));
        }
        windowStart_ = now;
        failed_ = gate.failed();
        checked_ = gate.checked();
    }

private:
    std::chrono::steady_clock::time_point windowStart_{};
    uint64_t failed_ = 0;
    uint64_t checked_ = 0;
};

// SIGINT and SIGTERM (blocked in every thread) as an event of the loop.
class StopSignals {
public:
    StopSignals(asio::io_context& io, std::function<void()> onStop)
        : descriptor_(io), onStop_(std::move(onStop)) {
        const sigset_t set = stopSignals();
        const int fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
        if (fd < 0) {
            throw ToolError(std::string("cannot watch for signals: ") + std::strerror(errno));
        }
        descriptor_.assign(fd);
        wait();
    }
    void close() {
        asio::error_code ignored;
        descriptor_.close(ignored);
    }

private:
    void wait() {
        asio::async_read(descriptor_, asio::buffer(&info_, sizeof info_),
                         [this](asio::error_code error, size_t) {
                             if (!error) {
                                 notice("signal %u: shutting down", info_.ssi_signo);
                                 onStop_();
                             }
                         });
    }
    asio::posix::stream_descriptor descriptor_;
    std::function<void()> onStop_;
    signalfd_siginfo info_{};
};

}  // namespace

int serve(const Options& options) {
    const std::string& device = options.device.empty() ? options.libraryDevice : options.device;
    std::vector<char> data;
    std::unique_ptr<PtyLine> line;
    std::unique_ptr<SimulatedSource> source;
    if (!options.file.empty()) {
        data = readCapture(options.file);
        const std::string sourceName = captureSource(options);
        checkLiveClock(options, sourceName == "serial");
        if (sourceName == "serial" || options.libraryDevice.rfind("/dev/", 0) != 0) {
            line = std::make_unique<PtyLine>(options.libraryDevice);
        }
        if (sourceName == "simulator") {
            source = std::make_unique<SimulatedSource>(data, options.pace);
        }
    }
    asio::io_context io;
    Server server(
        io, parseListenAddress(options.listen),
        {device, "vyr-gps " VYR_TOOL_VERSION, options.maxClients, options.clientBufferBytes});
    const auto endpoint = server.endpoint();
    notice("listening on %s:%u for clients of %s", endpoint.address().to_string().c_str(),
           endpoint.port(), device.c_str());

    TimeSources time({options.chronySock, options.ntpShm, options.ppsDevice}, server);

    // Assembled on the reader thread (library_feed.h); the rate is the loop's.
    BadSentenceRate badSentences;
    std::unique_ptr<LibraryFeed> feed;  // made below: its hooks name the supervisor
    LineSupervisor supervisor(
        {options.libraryDevice,
         std::chrono::milliseconds(static_cast<int64_t>(options.silenceSeconds * 1000.0)), device,
         9600, options.device.empty()},
        {[&](std::optional<std::string> activated, int bps) {
            // Supervisor thread, which starts once the feed exists.
            feed->newLine();
            asio::post(io, [&server, &time, activated, bps] {
                server.setLine(activated, bps);
                time.setBaud(bps);
            });
        }});
    std::unique_ptr<DeviceRelay> relay;
    if (!options.device.empty()) {
        relay = std::make_unique<DeviceRelay>(
            DeviceRelay::Config{options.device, options.baud, options.libraryDevice, true},
            [&supervisor](bool up, int bps) { supervisor.setSource(up, bps); });
    }

    feed = std::make_unique<LibraryFeed>(LibraryFeed::Hooks{
        [&] {
            asio::post(io, [&] {
                LibraryFeed::Batch batch = feed->drain();
                if (batch.dropped > 0) {
                    notice("%llu reports and sentences dropped: the server fell behind the library",
                           static_cast<unsigned long long>(batch.dropped));
                }
                for (LibraryFeed::Item& item : batch.items) {
                    if (auto* sentence = std::get_if<std::string>(&item)) {
                        server.publishSentence(std::move(*sentence));
                    } else {
                        publish(server, time, std::get<Presentation>(item));
                    }
                }
                badSentences.update(batch.checksums, std::chrono::steady_clock::now());
            });
        },
        [&supervisor](LineSupervisor::Clock::time_point at) { supervisor.sentenceSeen(at); },
        [&server] { return server.sentencesWanted(); }});

    std::atomic<bool> stopping{false};
    StopSignals signals(io, [&] {
        stopping.store(true);
        server.stop();
        supervisor.requestStop();
        io.stop();
    });

    feed->attach();
    // Named for top and /proc/<pid>/task (the kernel keeps 15 characters).
    std::thread supervising([&supervisor] {
        pthread_setname_np(pthread_self(), "vyr-supervisor");
        supervisor.run();
    });
    std::thread playing;
    if (!options.file.empty()) {
        playing = std::thread([&] {
            pthread_setname_np(pthread_self(), "vyr-replay");
            playCapture(options, data, line.get(), source.get(), server, stopping);
        });
    }
    std::thread relaying;
    if (relay) {
        relaying = std::thread([&relay] {
            pthread_setname_np(pthread_self(), "vyr-relay");
            relay->run();
        });
    }
    io.run();

    stopping.store(true);
    supervisor.requestStop();
    if (relay) {
        relay->requestStop();
        relaying.join();
    }
    if (playing.joinable()) {
        playing.join();
    }
    supervising.join();  // the library is stopped: no callback runs any more
    feed->detach();
    Vyr_GPSPARSER_RegisterSimulater(nullptr);
    signals.close();
    return 0;
}

}  // namespace vyr::tool
