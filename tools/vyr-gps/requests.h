// Requests of the GPS clients' protocol: a line holds one or more commands,
// each "?" NAME followed by ";" or by "=" and a JSON object. Parsing never
// fails as a whole: what cannot be understood becomes an Error request
// carrying the message of the ERROR response, and the rest of the line is
// still read where it can be.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reports.h"

namespace vyr::tool {

// Longest request line taken; a longer one is answered with an ERROR and
// skipped up to its newline.
inline constexpr size_t kMaxRequestLine = 1024;

// The members a ?WATCH argument set; the others keep their values.
struct WatchChange {
    std::optional<bool> enable, json, nmea, scaled, split24, pps, timing;
    std::optional<int> raw;
    std::optional<std::string> device;

    // Applies the change. Enabling without asking for any output means JSON
    // reports, as a client that only says "watch" expects.
    void applyTo(WatchPolicy& policy) const;
};

struct Request {
    enum class Kind { Version, Devices, Watch, Poll, Error };
    Kind kind = Kind::Error;
    std::optional<WatchChange> watch;  // Watch with an argument
    std::string error;                 // Error: the message
};

// One request line without its line end.
[[nodiscard]] std::vector<Request> parseRequestLine(std::string_view line);

}  // namespace vyr::tool
