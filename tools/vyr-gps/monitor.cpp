// vyr-gps monitor: the receiver at the device path, or at --device PATH
// relayed into the library's line, until SIGINT or SIGTERM.
#include <pthread.h>

#include <memory>
#include <thread>

#include "commands.h"
#include "device_relay.h"
#include "library.h"
#include "session.h"

namespace vyr::tool {

int monitor(std::FILE* out, const Options& options) {
    const std::string& device = options.device.empty() ? options.libraryDevice : options.device;
    // PATH is opened before anything else, so that a path that cannot be read
    // is refused before any output.
    std::unique_ptr<DeviceRelay> relay;
    if (!options.device.empty()) {
        relay = std::make_unique<DeviceRelay>(
            DeviceRelay::Config{options.device, options.baud, options.libraryDevice},
            [](bool, int) {});
    }
    Session session(out, {options.json, options.echoNmea, options.gpxPath, device, device});
    session.attach();
    // Nothing reaches standard output unless the device opens.
    startLibrary(options.libraryDevice);
    session.startPrinting();
    std::thread relaying;
    if (relay) {
        relaying = std::thread([&relay] {
            pthread_setname_np(pthread_self(), "vyr-relay");
            relay->run();
        });
    }
    const sigset_t set = stopSignals();
    const timespec tick{0, 200 * 1000 * 1000};
    while (!session.outputClosed() && sigtimedwait(&set, nullptr, &tick) < 0) {
    }
    if (relay) {
        relay->requestStop();
        relaying.join();
    }
    stopLibrary();
    session.detach();
    session.printSummary(0);
    return 0;
}

}  // namespace vyr::tool
