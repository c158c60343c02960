// The JSON objects of the GPS clients' protocol (protocol version 3) that the
// tool writes: TPV, SKY and GST reports, and the VERSION, DEVICES,
// WATCH, POLL and ERROR responses of the server. Each is one line of text
// without its line end (the server ends lines with CR LF, as clients expect;
// files get LF). Attributes without a value are left out, never null.
#pragma once

#include <optional>
#include <string>

#include "fix.h"

namespace vyr::tool {

inline constexpr int kProtocolMajor = 3;
inline constexpr int kProtocolMinor = 14;

// A client's watch policy, as ?WATCH sets and reports it.
struct WatchPolicy {
    bool enable = false;
    bool json = false;
    bool nmea = false;
    int raw = 0;
    bool scaled = false;
    bool split24 = false;
    bool pps = false;
    bool timing = false;
    std::string device;  // empty: every device

    [[nodiscard]] bool wantsReports() const { return enable && json; }
    [[nodiscard]] bool wantsSentences() const { return enable && (nmea || raw > 0); }
};

// The serial line behind the reports.
struct DeviceInfo {
    std::string path;
    std::optional<std::string> activated;  // ISO 8601; absent while the line is down
    int bps = 9600;
};

[[nodiscard]] std::string tpvReport(const Fix& fix, const std::string& device);
[[nodiscard]] std::string skyReport(const Sky& sky, const std::string& device);
[[nodiscard]] std::string gstReport(const Gst& gst, const std::string& device);

[[nodiscard]] std::string versionResponse(const std::string& release);
[[nodiscard]] std::string devicesResponse(const DeviceInfo& device);
// The DEVICE object alone: the answer to ?DEVICE and the notice of a line
// that came up.
[[nodiscard]] std::string deviceResponse(const DeviceInfo& device);
// The notice of a line that went away: "activated":0.
[[nodiscard]] std::string deviceDeactivated(const std::string& path);
[[nodiscard]] std::string watchResponse(const WatchPolicy& policy);
// tpv and sky are the latest reports, either empty when there is none.
[[nodiscard]] std::string pollResponse(const std::string& now, const DeviceInfo& device,
                                       const std::string& tpv, const std::string& sky);
[[nodiscard]] std::string errorResponse(const std::string& message);

// UTC now in ISO 8601 with milliseconds.
[[nodiscard]] std::string isoNow();

}  // namespace vyr::tool
