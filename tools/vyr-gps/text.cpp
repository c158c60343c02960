#include "text.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace vyr::tool {

namespace {

[[gnu::format(printf, 1, 2)]] std::string printfString(const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

}  // namespace

std::string formatDms(double decimalDegrees, char positive, char negative) {
    uint8_t degrees = 0;
    uint8_t minutes = 0;
    uint8_t seconds = 0;
    convert_ddd_dms(std::fabs(decimalDegrees), &degrees, &minutes, &seconds);
    return printfString("%u°%02u'%02u\"%c", degrees, minutes, seconds,
                        decimalDegrees < 0 ? negative : positive);
}

std::string textHeader() {
    // Same widths as textLine; the position texts there are one byte wider
    // than they show (the degree sign).
    return printfString("%-23s %-3s%10s %11s  %-11s %-12s%6s  %6s  %s  %-5s  %5s\n", "time (UTC)",
                        "ok", "latitude", "longitude", "position", "", "km/h", "course", "q",
                        "sats", "hdop");
}

// Quality, satellites used and HDOP come from the GGA and GSA of the RMC's
// second: "-" where the epoch had none that passed its checksum.
std::string textLine(const Fix& fix, const Sky* sky) {
    std::string line = fix.time ? fix.time->iso8601(2) : std::string("--:--:--");
    line.resize(std::max<size_t>(line.size(), 23), ' ');
    line += fix.valid ? "  A " : "  V ";
    if (fix.latitude && fix.longitude) {
        // Widths count bytes; each text has one two-byte degree sign.
        line += printfString("%10.6f %11.6f  %-12s %-13s", *fix.latitude, *fix.longitude,
                             formatDms(*fix.latitude, 'N', 'S').c_str(),
                             formatDms(*fix.longitude, 'E', 'W').c_str());
    } else {
        line += printfString("%-51s", "no position");
    }
    line += fix.speed ? printfString("%6.1f", *fix.speed * 3.6) : std::string("     -");
    line += fix.track ? printfString("  %6.1f", *fix.track) : std::string("       -");
    line += fix.quality ? printfString("  %d", *fix.quality) : std::string("  -");
    line += fix.satellitesUsed ? printfString("  %2d", *fix.satellitesUsed) : std::string("   -");
    line += sky != nullptr ? printfString("/%-2zu", sky->satellites.size()) : std::string("/- ");
    line += fix.dops.h ? printfString("  %5.2f", *fix.dops.h) : std::string("      -");
    return line + "\n";
}

}  // namespace vyr::tool
