// Requests of the GPS clients' protocol: a line holds one or more commands,
// each "?" NAME followed by ";" or by "=" and a JSON object. Parsing never
// fails as a whole: what cannot be understood becomes an Error request
// carrying the message of the ERROR response, and the rest of the line is
// still read where it can be.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reports.h"

namespace vyr::tool {

// Longest request line taken; a longer one is answered with an ERROR and
// skipped up to its newline.
inline constexpr size_t kMaxRequestLine = 1024;

// The members a ?WATCH argument set. A missing "enable" means true (a
// client that sends only {"raw":2} or {"json":true} starts watching); every
// other missing member keeps the value the client's policy has, which starts
// at the protocol's defaults (nothing dumped, no device filter).
struct WatchChange {
    std::optional<bool> enable, json, nmea, scaled, split24, pps, timing;
    std::optional<int> raw;
    std::optional<std::string> device;

    void applyTo(WatchPolicy& policy) const;
};

// The members of a ?DEVICE argument. Only path selects; every other member
// asks for a setting of the line.
struct DeviceChange {
    std::optional<std::string> path;
    std::optional<int64_t> bps, stopbits, native;
    std::optional<std::string> parity;
    std::optional<double> cycle;
};

struct Request {
    enum class Kind { Version, Devices, Device, Watch, Poll, Error };
    Kind kind = Kind::Error;
    std::optional<WatchChange> watch;      // Watch with an argument
    std::string error;                     // Error: the message
    std::optional<DeviceChange> device{};  // Device with an argument
};

// One request line without its line end.
[[nodiscard]] std::vector<Request> parseRequestLine(std::string_view line);

}  // namespace vyr::tool
