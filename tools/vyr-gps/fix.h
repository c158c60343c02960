// What the tool presents for one second of the receiver's output, as the
// epoch assembler (assembler.h) builds it from the sentences that passed their
// checksum: the fix (TPV), the sky view (SKY) and the pseudorange noise (GST).
// Every member is optional where a sentence can leave it out: a value the
// sentences do not give is absent, never 0.
#pragma once

#include <time.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "satellites.h"
#include "vyr_gpsparser.h"

namespace vyr::tool {

struct UtcTime {
    int year, month, day;  // year 0 when the sentence carried no date
    int hour, minute, second, microsecond;
    [[nodiscard]] std::string iso8601(int fractionDigits) const;
    // Seconds since 1970-01-01 (dated times only).
    [[nodiscard]] double epochSeconds() const;
};

// Two-digit RMC years: 80-99 are 1980-1999 (receivers start at the GPS epoch
// of 1980 before they know the date), 00-79 are 2000-2079.
[[nodiscard]] int fullYear(int twoDigitYear);

// What a time consumer needs with each fix, without reaching into the
// assembler.
struct FixTiming {
    // CLOCK_REALTIME in the NMEA callback of the epoch's first sentence, and
    // that sentence's length as framed (without the line end): its last byte
    // arrived then, length + 2 bytes after the second's output began.
    timespec firstSentenceRealtime{};
    uint32_t firstSentenceLength = 0;
    // RMC status A, a valid date and time, the GGA of the epoch (if any) of
    // the same second, and every sentence of the epoch passed its checksum.
    bool timeTrusted = false;
};

// hdop, pdop and vdop as the receiver's GSA states them (hdop from the GGA
// when no GSA gives it); xdop, ydop, tdop and gdop computed from where the
// used satellites stand.
struct Dops {
    std::optional<double> x, y, h, v, p, t, g;
};

// Error estimates in the clients' names, two standard deviations (see the
// README for their sources).
struct ErrorEstimates {
    std::optional<double> ept, epx, epy, epv, eph, eps, epd, epc, sep;
};

// Earth-centred, earth-fixed coordinates on WGS 84: metres, or metres per
// second for a velocity.
struct Ecef {
    double x = 0, y = 0, z = 0;
    friend bool operator==(const Ecef&, const Ecef&) = default;
};

struct Fix {
    uint64_t epoch = 0;         // which assembled epoch (for pairing with its Sky)
    bool valid = false;         // RMC status A
    int mode = 1;               // 1 no fix, 2 2D, 3 3D
    std::optional<int> status;  // the clients' fix status, from the GGA quality
    std::optional<UtcTime> time;
    std::optional<double> latitude, longitude;  // decimal degrees, negative south/west
    std::optional<double> speed;                // m/s
    std::optional<double> track;                // degrees true
    std::optional<double> magvar;               // degrees, east positive
    std::optional<double> magtrack;             // degrees magnetic
    std::optional<double> altitude;             // metres above mean sea level
    std::optional<double> geoidSeparation;      // metres
    std::optional<double> altitudeHae;          // metres above the ellipsoid
    std::optional<double> climb;                // m/s
    std::optional<Ecef> ecef, ecefVelocity;     // from a 3D fix (the velocity needs a climb)
    std::optional<int> quality;                 // GGA fix quality
    std::optional<int> satellitesUsed;          // the GGA's count
    Dops dops;
    ErrorEstimates errors;
    FixTiming timing;

    [[nodiscard]] bool hasPosition() const { return mode >= 2 && latitude && longitude; }
};

struct Satellite {
    SatelliteId id;
    std::optional<int> elevation, azimuth, snr;  // absent where the GSV field was empty
    bool used = false;
};

struct Sky {
    uint64_t epoch = 0;
    std::optional<UtcTime> time;
    Dops dops;
    std::vector<Satellite> satellites;
    [[nodiscard]] int used() const;
};

// The receiver's pseudorange noise statistics (GST), metres and degrees.
struct Gst {
    uint64_t epoch = 0;
    std::optional<UtcTime> time;
    std::optional<double> rms, major, minor, orient, lat, lon, alt;
};

// A fixed-point field of the library's records as a number; nothing for an
// empty field.
[[nodiscard]] std::optional<double> valueOf(const GpsFloat& field);

// A coordinate field ("4807.0381234", degrees and minutes) and its hemisphere
// letter to decimal degrees, with every digit the receiver sent: rounded to
// two more decimals than the minutes carry, which keeps the field's
// resolution. Nothing for an empty field, a field that is not a number or a
// hemisphere that is not one of the two given.
[[nodiscard]] std::optional<double> degreesFromField(std::string_view field,
                                                     std::string_view hemisphere, char positive,
                                                     char negative);

// A position (degrees, metres above the ellipsoid) in earth-centred
// coordinates.
[[nodiscard]] Ecef ecefPosition(double latitude, double longitude, double heightAboveEllipsoid);

// A velocity given as speed over ground (m/s), track (degrees true) and climb
// (m/s) at a place, in earth-centred axes.
[[nodiscard]] Ecef ecefVelocity(double latitude, double longitude, double speed, double track,
                                double climb);

// Great-circle distance in metres.
[[nodiscard]] double haversineMetres(double lat1, double lon1, double lat2, double lon2);

}  // namespace vyr::tool
