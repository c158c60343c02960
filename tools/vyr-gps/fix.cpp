#include "fix.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vyr::tool {

namespace {

constexpr double kEarthRadiusMetres = 6371008.8;
constexpr double kMetresPerSecondPerKnot = 1852.0 / 3600.0;

std::optional<double> number(const GpsFloat& value) {
    if (value.scale == 0) {
        return std::nullopt;
    }
    return GPSPARSER_FORMAT_DOUBLE(&value);
}

bool hasText(const char (&slot)[VYR_GPS_SENTENCE_SIZE]) {
    return slot[0] != '\0';
}

int decimalsOf(int32_t scale) {
    int decimals = 0;
    for (int32_t s = scale; s >= 10; s /= 10) {
        ++decimals;
    }
    return decimals;
}

// value rounded to a number of decimals, as the double nearest to that
// decimal (so that it prints without float noise).
double rounded(double value, int decimals) {
    const double factor = std::pow(10.0, decimals);
    return std::round(value * factor) / factor;
}

// Sum of two fixed-point fields, exact in the finer scale.
double sum(const GpsFloat& a, const GpsFloat& b) {
    const int64_t scale = std::max(a.scale, b.scale);
    const int64_t total =
        int64_t{a.value} * (scale / a.scale) + int64_t{b.value} * (scale / b.scale);
    return static_cast<double>(total) / static_cast<double>(scale);
}

bool sameTime(const GpsTime& a, const GpsTime& b) {
    return a.hours >= 0 && a.hours == b.hours && a.minutes == b.minutes && a.seconds == b.seconds &&
           a.microseconds == b.microseconds;
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
                fix.satellites.push_back({identifySatellite(Talker::Gps, sat.prn), sat.elevation,
                                          sat.azimuth, sat.snr, sat.usedInFix != 0});
            }
        }
    }
    fix.satellitesInView += inView;
}

// The record has no BeiDou members: they are parsed here from the epoch's
// BDGSV sentences with the library's GSV parser, with the second GSA of the
// epoch as the BeiDou fix list (a GPS+BeiDou receiver sends the GPS GSA
// first). Used means listed in that GSA and tracked (non-zero SNR), the rule
// the library applies to GPS.
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
            fix.satellites.push_back({identifySatellite(Talker::BeiDou, sat.prn), sat.elevation,
                                      sat.azimuth, sat.snr, listed && sat.snr != 0});
        }
    }
    fix.satellitesInView += inView;
}

}  // namespace

SatelliteId identifySatellite(Talker talker, int n) {
    if (talker == Talker::BeiDou) {
        // Receivers number BeiDou 1-63, 201-263 or 401-463.
        for (const int base : {0, 200, 400}) {
            if (n > base && n <= base + 63) {
                return {400 + n - base, 3, n - base};
            }
        }
        return {n, std::nullopt, std::nullopt};
    }
    if (n >= 1 && n <= 32) {
        return {n, 0, n};
    }
    if (n >= 33 && n <= 64) {  // SBAS in NMEA numbering: PRN 120-151
        return {n + 87, 1, n + 87};
    }
    if (n >= 65 && n <= 96) {
        return {n, 6, n - 64};
    }
    if (n >= 120 && n <= 158) {
        return {n, 1, n};
    }
    if (n >= 193 && n <= 202) {
        return {n, 5, n - 192};
    }
    return {n, std::nullopt, std::nullopt};
}

int fullYear(int twoDigitYear) {
    return twoDigitYear >= 80 ? 1900 + twoDigitYear : 2000 + twoDigitYear;
}

std::string UtcTime::iso8601(int fractionDigits) const {
    char text[48];
    if (year == 0) {
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", hour, minute, second);
    } else {
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour,
                      minute, second);
    }
    std::string result = text;
    if (fractionDigits > 0) {
        std::snprintf(text, sizeof text, "%06d", microsecond);
        result += '.';  // appends: GCC 12 -O3 warns (-Wrestrict) on a + chain
        result.append(text, static_cast<size_t>(std::min(fractionDigits, 6)));
    }
    return year == 0 ? result : result + "Z";
}

double UtcTime::epochSeconds() const {
    // Days since 1970-01-01 in the civil calendar.
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const double days = era * 146097.0 + doe - 719468.0;
    return days * 86400.0 + hour * 3600.0 + minute * 60.0 + second + microsecond / 1e6;
}

int Fix::satellitesMarkedUsed() const {
    return static_cast<int>(std::count_if(satellites.begin(), satellites.end(),
                                          [](const Satellite& s) { return s.used; }));
}

std::optional<double> degreesFromField(const GpsFloat& field) {
    if (field.scale <= 0) {
        return std::nullopt;
    }
    const int decimals = decimalsOf(field.scale);
    const int64_t magnitude = std::abs(int64_t{field.value});
    const int64_t perDegree = 100 * int64_t{field.scale};
    const int64_t degrees = magnitude / perDegree;
    const int64_t minutes = magnitude % perDegree;  // minutes times scale
    double result = 0.0;
    if (decimals <= 7) {
        // Exact: minutes / 60 rounded to decimals + 2 places in integers.
        const int64_t places = perDegree;  // 10^(decimals + 2)
        const int64_t numerator = minutes * places;
        const int64_t denominator = 60 * int64_t{field.scale};
        const int64_t fraction = (2 * numerator + denominator) / (2 * denominator);
        result = static_cast<double>(degrees * places + fraction) / static_cast<double>(places);
    } else {
        result = rounded(
            static_cast<double>(degrees) + static_cast<double>(minutes) / (60.0 * field.scale), 9);
    }
    return field.value < 0 ? -result : result;
}

Fix makeFix(const EpochCopy& epoch) {
    const GpsRmc& rmc = epoch.packet.rmc;
    const GpsGga& gga = epoch.packet.gga;
    const GpsGsa& gsa = epoch.packet.gsa[0];
    Fix fix;
    fix.valid = rmc.valid != 0;
    fix.mixed = rmc.time.hours >= 0 && gga.time.hours >= 0 && !sameTime(rmc.time, gga.time);
    const bool ggaMatches = sameTime(rmc.time, gga.time);
    fix.mode = !fix.valid ? 1 : (ggaMatches && gsa.fixMode == 3 ? 3 : 2);
    if (rmc.time.hours >= 0) {
        const bool dated = rmc.date.day >= 0;
        fix.time = UtcTime{dated ? fullYear(rmc.date.year) : 0,
                           dated ? rmc.date.month : 0,
                           dated ? rmc.date.day : 0,
                           rmc.time.hours,
                           rmc.time.minutes,
                           rmc.time.seconds,
                           rmc.time.microseconds};
    }
    if (rmc.latitude.scale != 0 && rmc.longitude.scale != 0) {
        fix.latitude = degreesFromField(rmc.latitude);
        fix.longitude = degreesFromField(rmc.longitude);
    }
    if (const auto knots = number(rmc.speed)) {
        fix.speed = rounded(*knots * kMetresPerSecondPerKnot, 3);
    }
    fix.track = number(rmc.course);
    if (ggaMatches) {
        fix.altitude = number(gga.altitude);
        fix.geoidSeparation = number(gga.geoidSeparation);
        if (fix.altitude && fix.geoidSeparation) {
            fix.altitudeHae = sum(gga.altitude, gga.geoidSeparation);
        }
        fix.quality = gga.quality;
        fix.satellitesUsed = gga.satellitesInUse;
        fix.hdop = number(gsa.hdop);
        if (!fix.hdop) {
            fix.hdop = number(gga.hdop);
        }
        fix.pdop = number(gsa.pdop);
        fix.vdop = number(gsa.vdop);
    }
    addGpsSatellites(epoch, fix);
    addBeiDouSatellites(epoch, fix);
    return fix;
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

}  // namespace vyr::tool
