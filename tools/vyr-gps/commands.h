// The commands of vyr-gps and the options they share. main parses the
// command line into Options and runs one command; each returns the exit
// status or throws ToolError.
#pragma once

#include <signal.h>

#include <cstdio>
#include <optional>
#include <string>

#include "capture.h"
#include "vyr_platform.h"

#ifndef VYR_TOOL_VERSION
#define VYR_TOOL_VERSION "0"
#endif

namespace vyr::tool {

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

struct Options {
    // The serial device path the library was built with.
    std::string libraryDevice;
    // A receiver at another path (monitor, serve), relayed into the
    // library's line; empty: the library reads its own device.
    std::string device;
    std::optional<int> baud;  // --baud; nullopt: auto
    // Output of replay and monitor.
    bool json = false;
    bool echoNmea = false;
    std::string gpxPath;
    int logLevel = VYR_PLATFORM_DEFAULT_PRINT_LEVEL;
    // The capture of replay, or of serve --replay.
    std::string file;
    Pace pace;
    // serial, simulator, or empty: serial where this build's device path
    // lies outside /dev, the simulated source where it is a real port.
    std::string source;
    // serve
    std::string listen = "127.0.0.1:2947";
    int maxClients = 64;
    size_t clientBufferBytes = 256 * 1024;
    double silenceSeconds = 10.0;
    int waitWatchers = 0;
    // Time: chrony's socket, the NTP shared-memory unit, the PPS device
    // (serve), and the capture replayed as a live clock (replay, serve).
    std::string chronySock;
    std::optional<int> ntpShm;
    std::string ppsDevice;
    bool now = false;
};

// SIGINT and SIGTERM: blocked in every thread (the library's reader thread
// inherits the mask) and taken synchronously by the command.
[[nodiscard]] sigset_t stopSignals();
// True once SIGINT or SIGTERM arrived (takes it).
[[nodiscard]] bool stopRequested();

// The source replay and serve --replay use: the one asked for, else
// serial where the line can be placed at the device path, else the
// simulated source (said once on standard error).
[[nodiscard]] std::string captureSource(const Options& options);

// With --now: ToolError unless the pace is the line's own and the capture
// goes through the serial line (serial: the line is there for it).
void checkLiveClock(const Options& options, bool serial);

int replay(std::FILE* out, const Options& options);
int monitor(std::FILE* out, const Options& options);
int serve(const Options& options);

}  // namespace vyr::tool
