// vyr-gps: runs the GPS library on a capture file or on the receiver and
// prints one line (or report) per delivered fix, or shares the receiver with
// the GPS clients of the system.
//
//   vyr-gps replay FILE [--speed N | --fast] [--source serial|simulator] [--now]
//   vyr-gps monitor [--device PATH [--baud N|auto]]
//   vyr-gps serve [--listen HOST:PORT] [--replay FILE [--speed N | --fast] [--loop] [--now]]
//                 [--device PATH [--baud N|auto]]
//                 [--chrony-sock PATH] [--ntp-shm N] [--pps DEVICE]
//   common: --json  --gpx FILE  --nmea  --log-level N
//
// Fixes and the summary go to standard output. The library's diagnostic lines
// (printed on standard output by the library) are relayed to standard error,
// so the output stays clean for pipes and files.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>

#include "commands.h"
#include "log_relay.h"
#include "receiver_port.h"
#include "tool_error.h"

#ifndef VYR_GPS_DEVICE_PATH
#error "VYR_GPS_DEVICE_PATH must name the library's build-time serial device path"
#endif

namespace vyr::tool {

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

namespace {

// --speed: any positive pace, said in words when it is not.
std::string checkSpeed(const std::string& text) {
    try {
        size_t used = 0;
        const double value = std::stod(text, &used);
        if (used == text.size() && value > 0.0 && std::isfinite(value)) {
            return {};
        }
    } catch (const std::exception&) {
    }
    return "must be a number greater than 0";
}

void addPaceOptions(CLI::App* command, Options& options, bool loop) {
    CLI::Option* speed = command
                             ->add_option("--speed", options.pace.speed,
                                          "pace as N times a 9600-baud line (default 1)")
                             ->check(CLI::Validator(checkSpeed, "N>0", "positive"));
    command->add_flag("--fast", options.pace.fast, "no pacing: as fast as the library reads")
        ->excludes(speed);
    if (loop) {
        command->add_flag("--loop", options.pace.loop, "start the capture again at its end");
    }
    command
        ->add_option("--source", options.source,
                     "serial: through a pseudo-terminal at the device path (default where the "
                     "device path lies outside /dev); simulator: through the simulated-source "
                     "hook")
        ->check(CLI::IsMember({"serial", "simulator"}));
}

CLI::Option* addNowOption(CLI::App* command, Options& options) {
    return command->add_flag("--now", options.now,
                             "replay as a live clock: each second's time set to now and sent at "
                             "the top of that second (only at --speed 1)");
}

// --baud: "auto" or a speed the line can be set to.
std::string checkBaud(const std::string& text) {
    if (text == "auto") {
        return {};
    }
    try {
        size_t used = 0;
        const int value = std::stoi(text, &used);
        if (used == text.size() && isSupportedBaud(value)) {
            return {};
        }
    } catch (const std::exception&) {
    }
    return "must be auto or one of 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, "
           "230400, 460800, 921600";
}

CLI::Option* addDeviceOptions(CLI::App* command, Options& options, std::string& baud) {
    CLI::Option* device =
        command->add_option("--device", options.device,
                            "read the receiver at PATH instead (raw 8N1, held exclusively), "
                            "relayed into the library's line");
    device->type_name("PATH");
    command
        ->add_option("--baud", baud,
                     "speed of --device: N bits per second, or auto (default): the usual "
                     "speeds until sentences with good checksums arrive")
        ->type_name("N|auto")
        ->check(CLI::Validator(checkBaud, "N|auto", "baud"))
        ->needs(device);
    return device;
}

CLI::App* addServe(CLI::App& app, Options& options, std::string& baud) {
    CLI::App* serve =
        app.add_subcommand("serve", "share the receiver at " VYR_GPS_DEVICE_PATH
                                    " with GPS clients over TCP (the clients' JSON protocol)");
    serve->add_option("--listen", options.listen, "address to listen on (default 127.0.0.1:2947)")
        ->type_name("HOST:PORT");
    CLI::Option* replayFile = serve->add_option(
        "--replay", options.file, "serve a capture through a pseudo-terminal instead");
    replayFile->type_name("FILE");
    addPaceOptions(serve, options, true);
    addNowOption(serve, options)->needs(replayFile);
    addDeviceOptions(serve, options, baud)->excludes(replayFile);
    serve->add_option("--max-clients", options.maxClients, "clients at once (default 64)")
        ->check(CLI::Range(1, 512));
    serve
        ->add_option("--client-buffer", options.clientBufferBytes,
                     "bytes queued for one client before it is dropped (default 262144)")
        ->check(CLI::Range(size_t{4096}, size_t{64} << 20));
    serve
        ->add_option("--silence", options.silenceSeconds,
                     "seconds without a sentence before that is logged (default 10)")
        ->check(CLI::Range(0.1, 86400.0));
    serve
        ->add_option("--wait-watchers", options.waitWatchers,
                     "with --replay: start the capture once N clients watch (default 0)")
        ->check(CLI::Range(0, 512));
    serve
        ->add_option("--chrony-sock", options.chronySock,
                     "send a time sample per trusted fix to chrony's refclock SOCK at PATH "
                     "(with --pps, pulses to PATH.pps)")
        ->type_name("PATH");
    serve
        ->add_option("--ntp-shm", options.ntpShm,
                     "write a time sample per trusted fix into NTP shared-memory unit N "
                     "(with --pps, pulses into unit N+1)")
        ->type_name("N")
        ->check(CLI::Range(0, 254));
    serve
        ->add_option("--pps", options.ppsDevice,
                     "pair the assert edges of the kernel PPS device (/dev/ppsN) with the "
                     "fixes: pulse samples and PPS reports")
        ->type_name("DEVICE");
    return serve;
}

// Standard output for the data; the library's log (which it prints on
// standard output) through the relay to standard error. Line-buffered even
// into a pipe: a reader that went away (replay | head) shows as a failed
// write at the next fix, not some kilobytes later.
std::FILE* dataOutput() {
    const int dataFd = dup(STDOUT_FILENO);
    std::FILE* out = dataFd >= 0 ? fdopen(dataFd, "w") : nullptr;
    if (out != nullptr) {
        setvbuf(out, nullptr, _IOLBF, 0);
    }
    return out;
}

}  // namespace
}  // namespace vyr::tool

int main(int argc, char** argv) {
    using namespace vyr::tool;
    Options options;
    options.libraryDevice = VYR_GPS_DEVICE_PATH;
    std::string baud = "auto";
    CLI::App app{"Runs the GPS library on a capture or on the receiver and prints every fix.",
                 "vyr-gps"};
    app.set_version_flag(
        "--version", std::string("vyr-gps " VYR_TOOL_VERSION " (device " VYR_GPS_DEVICE_PATH ")"));
    app.require_subcommand(1);
    app.fallthrough();
    app.add_flag("--json", options.json, "TPV, SKY and GST report lines instead of text");
    app.add_option("--gpx", options.gpxPath, "write the fixes as a GPX 1.1 track to FILE")
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
    addPaceOptions(replayCommand, options, false);
    addNowOption(replayCommand, options);
    CLI::App* monitorCommand = app.add_subcommand(
        "monitor", "read the receiver at " VYR_GPS_DEVICE_PATH " until SIGINT or SIGTERM");
    addDeviceOptions(monitorCommand, options, baud);
    CLI::App* serveCommand = addServe(app, options, baud);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : kExitUsage;
    }
    if (baud != "auto") {
        options.baud = std::stoi(baud);
    }

    // A closed pipe is an error result of a write, not a signal; a hang-up
    // of the serial line the library opened (it may become this process's
    // controlling terminal) must not end the process either.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    VyrPlatform_SetPrintLevel(options.logLevel);

    std::FILE* out = dataOutput();
    if (out == nullptr) {
        std::fprintf(stderr, "vyr-gps: cannot set up the output: %s\n", std::strerror(errno));
        return kExitFailure;
    }
    try {
        LogRelay relay;
        if (replayCommand->parsed()) {
            return replay(out, options);
        }
        if (serveCommand->parsed()) {
            return serve(options);
        }
        return monitor(out, options);
    } catch (const ToolError& error) {
        std::fflush(out);
        std::fprintf(stderr, "vyr-gps: %s\n", error.what());
        return kExitFailure;
    }
}
