// vyr-gps serve: one library instance shared with any number of GPS clients
// over TCP. Threads: the event loop (this thread: clients, reports), the
// line supervisor (the library's lifecycle), the library's reader thread
// (callbacks into the feed) and, with --replay over the serial path, the
// thread that writes the capture into the pseudo-terminal, or with --device
// the thread that relays the receiver's bytes into it.
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

#include "commands.h"
#include "device_relay.h"
#include "library_feed.h"
#include "line_supervisor.h"
#include "notice.h"
#include "server.h"
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
        feedSerial(*line, data, options.pace, keepGoing, [](size_t) {});
    }
    if (keepGoing()) {
        notice("the capture %s has ended; still serving", options.file.c_str());
    }
}

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
    asio::io_context io;
    Server server(
        io, parseListenAddress(options.listen),
        {device, "vyr-gps " VYR_TOOL_VERSION, options.maxClients, options.clientBufferBytes});
    const auto endpoint = server.endpoint();
    notice("listening on %s:%u for clients of %s", endpoint.address().to_string().c_str(),
           endpoint.port(), device.c_str());

    std::vector<char> data;
    std::unique_ptr<PtyLine> line;
    std::unique_ptr<SimulatedSource> source;
    if (!options.file.empty()) {
        data = readCapture(options.file);
        const std::string sourceName = captureSource(options);
        if (sourceName == "serial" || options.libraryDevice.rfind("/dev/", 0) != 0) {
            line = std::make_unique<PtyLine>(options.libraryDevice);
        }
        if (sourceName == "simulator") {
            source = std::make_unique<SimulatedSource>(data, options.pace);
        }
    }

    LineSupervisor supervisor(
        {options.libraryDevice,
         std::chrono::milliseconds(static_cast<int64_t>(options.silenceSeconds * 1000.0)), device,
         9600, options.device.empty()},
        {[&](std::optional<std::string> activated, int bps) {
            asio::post(io, [&server, activated, bps] { server.setLine(activated, bps); });
        }});
    std::unique_ptr<DeviceRelay> relay;
    if (!options.device.empty()) {
        relay = std::make_unique<DeviceRelay>(
            DeviceRelay::Config{options.device, options.baud, options.libraryDevice, true},
            [&supervisor](bool up, int bps) { supervisor.setSource(up, bps); });
    }

    LibraryFeed feed({[&] {
                          asio::post(io, [&] {
                              LibraryFeed::Batch batch = feed.drain();
                              if (batch.dropped > 0) {
                                  notice("%llu events dropped: the server fell behind the library",
                                         static_cast<unsigned long long>(batch.dropped));
                              }
                              for (auto& event : batch.events) {
                                  if (auto* sentence = std::get_if<std::string>(&event)) {
                                      server.publishSentence(std::move(*sentence));
                                  } else {
                                      server.publishFix(
                                          makeFix(*std::get<std::unique_ptr<EpochCopy>>(event)));
                                  }
                              }
                          });
                      },
                      [&server] { return server.sentencesWanted(); },
                      [&supervisor] { supervisor.sentenceSeen(); }});

    std::atomic<bool> stopping{false};
    StopSignals signals(io, [&] {
        stopping.store(true);
        server.stop();
        supervisor.requestStop();
        io.stop();
    });

    feed.attach();
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
    feed.detach();
    Vyr_GPSPARSER_RegisterSimulater(nullptr);
    signals.close();
    return 0;
}

}  // namespace vyr::tool
