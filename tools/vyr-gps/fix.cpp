#include "fix.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vyr::tool {

namespace {

constexpr double kEarthRadiusMetres = 6371008.8;

}  // namespace

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

std::optional<double> valueOf(const GpsFloat& field) {
    if (field.scale == 0) {
        return std::nullopt;
    }
    return GPSPARSER_FORMAT_DOUBLE(&field);
}

int Sky::used() const {
    return static_cast<int>(std::count_if(satellites.begin(), satellites.end(),
                                          [](const Satellite& s) { return s.used; }));
}

std::optional<double> degreesFromField(std::string_view field, std::string_view hemisphere,
                                       char positive, char negative) {
    if (hemisphere.size() != 1 || (hemisphere[0] != positive && hemisphere[0] != negative)) {
        return std::nullopt;
    }
    // ddmm.mmmm or dddmm.mmmm read as one integer and its decimals, exactly.
    int64_t mantissa = 0;
    int digits = 0;
    int decimals = 0;
    bool point = false;
    for (const char c : field) {
        if (c >= '0' && c <= '9' && digits < 17) {
            mantissa = mantissa * 10 + (c - '0');
            ++digits;
            decimals += point ? 1 : 0;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    int64_t scale = 1;
    for (int i = 0; i < decimals; ++i) {
        scale *= 10;
    }
    const int64_t perDegree = 100 * scale;  // also 10^(decimals + 2): the places kept
    const int64_t degrees = mantissa / perDegree;
    const int64_t minutes = mantissa % perDegree;  // minutes times scale
    const int64_t limit = positive == 'N' ? 90 : 180;
    if (digits == 0 || minutes >= 60 * scale || degrees > limit ||
        (degrees == limit && minutes != 0)) {
        return std::nullopt;
    }
    // minutes / 60 in units of 10^-(decimals + 2) degrees, rounded half up:
    // minutes * 100 / 60 = minutes * 5 / 3.
    const int64_t fraction = (minutes * 10 + 3) / 6;
    const double result =
        static_cast<double>(degrees * perDegree + fraction) / static_cast<double>(perDegree);
    return hemisphere[0] == negative ? -result : result;
}

namespace {

constexpr double kWgs84SemiMajorMetres = 6378137.0;
constexpr double kWgs84Flattening = 1.0 / 298.257223563;
constexpr double kWgs84EccentricitySquared = kWgs84Flattening * (2.0 - kWgs84Flattening);

double radians(double degrees) {
    return degrees * M_PI / 180.0;
}

}  // namespace

Ecef ecefPosition(double latitude, double longitude, double heightAboveEllipsoid) {
    const double lat = radians(latitude);
    const double lon = radians(longitude);
    // Radius of curvature in the prime vertical.
    const double n = kWgs84SemiMajorMetres /
                     std::sqrt(1.0 - kWgs84EccentricitySquared * std::sin(lat) * std::sin(lat));
    return {(n + heightAboveEllipsoid) * std::cos(lat) * std::cos(lon),
            (n + heightAboveEllipsoid) * std::cos(lat) * std::sin(lon),
            (n * (1.0 - kWgs84EccentricitySquared) + heightAboveEllipsoid) * std::sin(lat)};
}

// East, north and up at the place, turned into the earth-centred axes.
Ecef ecefVelocity(double latitude, double longitude, double speed, double track, double climb) {
    const double lat = radians(latitude);
    const double lon = radians(longitude);
    const double east = speed * std::sin(radians(track));
    const double north = speed * std::cos(radians(track));
    return {-std::sin(lon) * east - std::sin(lat) * std::cos(lon) * north +
                std::cos(lat) * std::cos(lon) * climb,
            std::cos(lon) * east - std::sin(lat) * std::sin(lon) * north +
                std::cos(lat) * std::sin(lon) * climb,
            std::cos(lat) * north + std::sin(lat) * climb};
}

double haversineMetres(double lat1, double lon1, double lat2, double lon2) {
    const double dLat = radians(lat2 - lat1);
    const double dLon = radians(lon2 - lon1);
    const double a =
        std::sin(dLat / 2) * std::sin(dLat / 2) +
        std::cos(radians(lat1)) * std::cos(radians(lat2)) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2.0 * kEarthRadiusMetres * std::atan2(std::sqrt(a), std::sqrt(1.0 - a));
}

}  // namespace vyr::tool
