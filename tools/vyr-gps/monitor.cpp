// vyr-gps monitor: the receiver at the device path until SIGINT or SIGTERM.
#include "commands.h"
#include "library.h"
#include "session.h"

namespace vyr::tool {

int monitor(std::FILE* out, const Options& options) {
    Session session(out,
                    {options.json, options.echoNmea, options.gpxPath, kDevicePath, kDevicePath});
    session.attach();
    // Nothing reaches standard output unless the device opens.
    startLibrary(kDevicePath);
    session.startPrinting();
    const sigset_t set = stopSignals();
    const timespec tick{0, 200 * 1000 * 1000};
    while (!session.outputClosed() && sigtimedwait(&set, nullptr, &tick) < 0) {
    }
    stopLibrary();
    session.detach();
    session.printSummary(0);
    return 0;
}

}  // namespace vyr::tool
