#include "fix.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace vyr::tool {

namespace {

constexpr double kEarthRadiusMetres = 6371008.8;

std::optional<double> number(const GpsFloat& value) {
    if (value.scale == 0) {
        return std::nullopt;
    }
    return GPSPARSER_FORMAT_DOUBLE(&value);
}

bool hasText(const char (&slot)[VYR_GPS_SENTENCE_SIZE]) {
    return slot[0] != '\0';
}

// GPS satellites come from the parsed record, which also carries the
// library's used-in-fix marks. Only the GSV slots filled in this epoch are
// read: a record member whose slot stayed empty still holds an older epoch.
void addGpsSatellites(const EpochCopy& epoch, Fix& fix) {
    int inView = 0;
    for (int k = 0; k < 4; ++k) {
        if (!hasText(epoch.raw.gpGsvStr[k])) {
            continue;
        }
        const GpsGsv& gsv = epoch.packet.gpGsv[k];
        inView = std::max(inView, static_cast<int>(gsv.satellitesInView));
        for (const GpsSatInfo& sat : gsv.satellites) {
            if (sat.prn != 0) {
                fix.satellites.push_back({Constellation::Gps, sat.prn, sat.elevation, sat.azimuth,
                                          sat.snr, sat.usedInFix != 0});
            }
        }
    }
    fix.satellitesInView += inView;
}

// The record has no BeiDou members; they are parsed here from the epoch's
// BDGSV sentences, with the second GSA of the epoch as the BeiDou fix list
// (a GPS+BeiDou receiver sends the GPS GSA first). Used means listed in that
// GSA and tracked (non-zero SNR), the rule the library applies to GPS.
void addBeiDouSatellites(const EpochCopy& epoch, Fix& fix) {
    GpsGsa gsa{};
    const bool haveGsa =
        hasText(epoch.raw.gsaStr[1]) && GPSPARSER_ParseGSA(&gsa, epoch.raw.gsaStr[1]) == 1;
    int inView = 0;
    for (const auto& slot : epoch.raw.bdGsvStr) {
        GpsGsv gsv{};
        if (!hasText(slot) || GPSPARSER_ParseGSV(&gsv, slot) != 1) {
            continue;
        }
        inView = std::max(inView, static_cast<int>(gsv.satellitesInView));
        for (const GpsSatInfo& sat : gsv.satellites) {
            if (sat.prn == 0) {
                continue;
            }
            const bool listed =
                haveGsa && std::find(std::begin(gsa.satelliteIds), std::end(gsa.satelliteIds),
                                     sat.prn) != std::end(gsa.satelliteIds);
            fix.satellites.push_back({Constellation::BeiDou, sat.prn, sat.elevation, sat.azimuth,
                                      sat.snr, listed && sat.snr != 0});
        }
    }
    fix.satellitesInView += inView;
}

[[gnu::format(printf, 1, 2)]] std::string printf_string(const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// Rounds away the float noise of the library's single-precision members.
double rounded(double value, int decimals) {
    const double factor = std::pow(10.0, decimals);
    return std::round(value * factor) / factor;
}

}  // namespace

std::string UtcTime::iso8601(int fractionDigits) const {
    std::string text = year == 0 ? printf_string("%02d:%02d:%02d", hour, minute, second)
                                 : printf_string("%04d-%02d-%02dT%02d:%02d:%02d", year, month, day,
                                                 hour, minute, second);
    if (fractionDigits > 0) {
        const std::string micro = printf_string("%06d", microsecond);
        text += '.';
        text.append(micro, 0, static_cast<size_t>(fractionDigits));
    }
    return year == 0 ? text : text + "Z";
}

double degreesFromDegreeMinutes(double degreeMinutes) {
    const double magnitude = std::fabs(degreeMinutes);
    const double degrees = std::floor(magnitude / 100.0);
    const double minutes = magnitude - degrees * 100.0;
    const double decimal = degrees + minutes / 60.0;
    return degreeMinutes < 0 ? -decimal : decimal;
}

Fix makeFix(const EpochCopy& epoch) {
    const GpsRmc& rmc = epoch.packet.rmc;
    const GpsGga& gga = epoch.packet.gga;
    const GpsGsa& gsa = epoch.packet.gsa[0];
    Fix fix;
    fix.valid = rmc.valid != 0;
    fix.mode = !fix.valid ? 1 : (gsa.fixMode == 3 ? 3 : 2);
    if (rmc.time.hours >= 0) {
        const bool dated = rmc.date.day >= 0;
        fix.time = UtcTime{dated ? 2000 + rmc.date.year : 0,
                           dated ? rmc.date.month : 0,
                           dated ? rmc.date.day : 0,
                           rmc.time.hours,
                           rmc.time.minutes,
                           rmc.time.seconds,
                           rmc.time.microseconds};
    }
    // Position, speed and course come from the library's location output;
    // an empty field leaves the preset NaN there.
    if (rmc.latitude.scale != 0 && rmc.longitude.scale != 0) {
        fix.latitude = degreesFromDegreeMinutes(epoch.location.latitude);
        fix.longitude = degreesFromDegreeMinutes(epoch.location.longitude);
    }
    if (!std::isnan(epoch.location.speed)) {
        fix.speedKmh = epoch.location.speed;
    }
    if (!std::isnan(epoch.location.course)) {
        fix.course = epoch.location.course;
    }
    fix.altitude = number(gga.altitude);
    fix.quality = gga.quality;
    fix.satellitesUsed = gga.satellitesInUse;
    fix.hdop = number(gga.hdop);
    fix.pdop = number(gsa.pdop);
    fix.vdop = number(gsa.vdop);
    addGpsSatellites(epoch, fix);
    addBeiDouSatellites(epoch, fix);
    return fix;
}

std::string formatDms(double decimalDegrees, char positive, char negative) {
    uint8_t degrees = 0;
    uint8_t minutes = 0;
    uint8_t seconds = 0;
    convert_ddd_dms(std::fabs(decimalDegrees), &degrees, &minutes, &seconds);
    return printf_string("%u°%02u'%02u\"%c", degrees, minutes, seconds,
                         decimalDegrees < 0 ? negative : positive);
}

double haversineMetres(double lat1, double lon1, double lat2, double lon2) {
    const auto radians = [](double degrees) { return degrees * M_PI / 180.0; };
    const double dLat = radians(lat2 - lat1);
    const double dLon = radians(lon2 - lon1);
    const double a =
        std::sin(dLat / 2) * std::sin(dLat / 2) +
        std::cos(radians(lat1)) * std::cos(radians(lat2)) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2.0 * kEarthRadiusMetres * std::atan2(std::sqrt(a), std::sqrt(1.0 - a));
}

std::string textHeader() {
    // Same widths as textLine; the position texts there are one byte wider
    // than they show (the degree sign).
    return printf_string("%-23s %-3s%10s %11s  %-11s %-12s%6s  %6s  %s  %-5s  %5s\n", "time (UTC)",
                         "ok", "latitude", "longitude", "position", "", "km/h", "course", "q",
                         "sats", "hdop");
}

std::string textLine(const Fix& fix) {
    std::string line = fix.time ? fix.time->iso8601(2) : std::string("--:--:--");
    line.resize(std::max<size_t>(line.size(), 23), ' ');
    line += fix.valid ? "  A " : "  V ";
    if (fix.latitude && fix.longitude) {
        // Widths count bytes; each text has one two-byte degree sign.
        line += printf_string("%10.6f %11.6f  %-12s %-13s", *fix.latitude, *fix.longitude,
                              formatDms(*fix.latitude, 'N', 'S').c_str(),
                              formatDms(*fix.longitude, 'E', 'W').c_str());
    } else {
        line += printf_string("%-51s", "no position");
    }
    line += fix.speedKmh ? printf_string("%6.1f", *fix.speedKmh) : std::string("     -");
    line += fix.course ? printf_string("  %6.1f", *fix.course) : std::string("       -");
    line += printf_string("  %d  %2d/%-2d", fix.quality, fix.satellitesUsed, fix.satellitesInView);
    line += fix.hdop ? printf_string("  %5.2f", *fix.hdop) : std::string("      -");
    return line + "\n";
}

// Field names follow the JSON reports of common Linux GPS daemons: a "TPV"
// object with ISO 8601 time, decimal degrees and speed in m/s, plus km/h.
std::string jsonLine(const Fix& fix, const std::string& device) {
    nlohmann::ordered_json report;
    report["class"] = "TPV";
    report["device"] = device;
    report["mode"] = fix.mode;
    report["status"] = fix.valid ? 1 : 0;
    if (fix.time) {
        report["time"] = fix.time->iso8601(3);
    }
    if (fix.latitude && fix.longitude) {
        report["lat"] = rounded(*fix.latitude, 9);
        report["lon"] = rounded(*fix.longitude, 9);
    }
    if (fix.altitude && fix.valid) {
        report["altMSL"] = *fix.altitude;
    }
    if (fix.speedKmh) {
        report["speed"] = rounded(*fix.speedKmh / 3.6, 3);
        report["speed_kmh"] = rounded(*fix.speedKmh, 3);
    }
    if (fix.course) {
        report["track"] = rounded(*fix.course, 2);
    }
    report["quality"] = fix.quality;
    if (fix.hdop) {
        report["hdop"] = *fix.hdop;
    }
    if (fix.pdop) {
        report["pdop"] = *fix.pdop;
    }
    if (fix.vdop) {
        report["vdop"] = *fix.vdop;
    }
    report["uSat"] = fix.satellitesUsed;
    report["nSat"] = fix.satellitesInView;
    nlohmann::ordered_json satellites = nlohmann::ordered_json::array();
    for (const Satellite& sat : fix.satellites) {
        satellites.push_back({{"PRN", sat.prn},
                              {"gnssid", sat.constellation == Constellation::Gps ? 0 : 3},
                              {"el", sat.elevation},
                              {"az", sat.azimuth},
                              {"ss", sat.snr},
                              {"used", sat.used}});
    }
    report["satellites"] = std::move(satellites);
    return report.dump() + "\n";
}

}  // namespace vyr::tool
