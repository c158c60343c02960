// The reports of an epoch: what the assembler releases, built from the
// sentences of the epoch that passed their checksum.
#include <algorithm>
#include <cmath>

#include "assembler.h"

namespace vyr::tool {

namespace {

constexpr double kMetresPerSecondPerKnot = 1852.0 / 3600.0;
constexpr double kSpeedOfLight = 299792458.0;
// The error estimates are two standard deviations. Without a GST sentence
// they are the DOPs times these stated errors (one standard deviation): the
// pseudorange error of a single-frequency fix without corrections, and the
// range-rate error of the Doppler measurements that speed comes from.
constexpr double kSigmas = 2.0;
constexpr double kRangeErrorMetres = 4.0;
constexpr double kRangeRateErrorMetresPerSecond = 0.1;

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

bool validDate(const GpsDate& d) {
    return d.day >= 1 && d.day <= 31 && d.month >= 1 && d.month <= 12 && d.year >= 0 &&
           d.year <= 99;
}

// The clients' fix status for a GGA quality indicator; nothing for no fix.
std::optional<int> statusOf(int quality) {
    switch (quality) {
        case 1:
            return 1;  // GPS
        case 2:
            return 2;  // differential
        case 3:
            return 9;  // precise positioning service
        case 4:
            return 3;  // RTK fixed
        case 5:
            return 4;  // RTK float
        case 6:
            return 5;  // estimated (dead reckoning)
        case 7:
            return 7;  // manual input
        case 8:
            return 8;  // simulated
        default:
            return std::nullopt;
    }
}

}  // namespace

const GpsGga* EpochAssembler::ggaOfTheRmcSecond() const {
    if (!epoch_.rmc || !epoch_.gga) {
        return nullptr;
    }
    const auto rmcTime = timeOf(epoch_.rmc->record.time);
    return rmcTime && timeOf(epoch_.gga->time) == rmcTime ? &*epoch_.gga : nullptr;
}

// An RMC without the GGA of its second, from a receiver that sends GGA, is
// half of a record of mixed seconds (its GGA went to an epoch of its own):
// its time is trusted only once the receiver is known to send no GGA.
bool EpochAssembler::trusted() const {
    const GpsRmc& rmc = epoch_.rmc->record;
    const bool ggaOfItsSecond =
        epoch_.gga ? ggaOfTheRmcSecond() != nullptr : !shapes_.empty() && !expected().gga;
    return rmc.valid != 0 && timeOf(rmc.time) && validDate(rmc.date) && ggaOfItsSecond &&
           !epoch_.tainted;
}

std::optional<UtcTime> EpochAssembler::datedTime(const std::optional<TimeOfDay>& time,
                                                 bool ownRmcOnly) const {
    if (!time) {
        return std::nullopt;
    }
    const GpsDate* date = nullptr;
    if (epoch_.rmc && validDate(epoch_.rmc->record.date) &&
        timeOf(epoch_.rmc->record.time) == time) {
        date = &epoch_.rmc->record.date;
    } else if (!ownRmcOnly && lastDate_ && lastDate_->second <= *time &&
               time->hours - lastDate_->second.hours <= 1) {
        date = &lastDate_->first;  // later on the day of the last RMC, before midnight
    }
    if (date == nullptr) {
        return std::nullopt;
    }
    return UtcTime{fullYear(date->year), date->month,   date->day,         time->hours,
                   time->minutes,        time->seconds, time->microseconds};
}

bool EpochAssembler::usedInEpoch(const SatelliteId& id) const {
    for (const Gsa& gsa : epoch_.gsas) {
        for (const int32_t number : gsa.record.satelliteIds) {
            if (number != 0 && identifySatellite(gsa.system, number) == id) {
                return true;
            }
        }
    }
    return false;
}

std::optional<GeometryDops> EpochAssembler::geometry() const {
    std::vector<Bearing> used;
    for (const Position& position : positions_) {
        if (usedInEpoch(position.id)) {
            used.push_back(position.bearing);
        }
    }
    return geometryDops(used);
}

Dops EpochAssembler::dops() const {
    Dops dops;
    if (!epoch_.gsas.empty()) {
        const GpsGsa& gsa = epoch_.gsas.front().record;
        dops.h = valueOf(gsa.hdop);
        dops.p = valueOf(gsa.pdop);
        dops.v = valueOf(gsa.vdop);
    }
    if (const GpsGga* gga = ggaOfTheRmcSecond(); gga && !dops.h) {
        dops.h = valueOf(gga->hdop);
    }
    if (const auto computed = geometry()) {
        dops.x = rounded(computed->x, 2);
        dops.y = rounded(computed->y, 2);
        dops.t = rounded(computed->t, 2);
        dops.g = rounded(computed->g, 2);
    }
    return dops;
}

Fix EpochAssembler::makeFix() {
    const Rmc& rmc = *epoch_.rmc;
    const GpsRmc& r = rmc.record;
    Fix fix;
    fix.epoch = epoch_.serial;
    fix.valid = r.valid != 0;
    if (const auto time = timeOf(r.time)) {
        fix.time = datedTime(time, true);
        if (!fix.time) {
            fix.time =
                UtcTime{0, 0, 0, time->hours, time->minutes, time->seconds, time->microseconds};
        }
    }
    if (rmc.latitude && rmc.longitude) {
        fix.latitude = rmc.latitude;
        fix.longitude = rmc.longitude;
    }
    if (const auto knots = valueOf(r.speed)) {
        fix.speed = rounded(*knots * kMetresPerSecondPerKnot, 3);
    }
    fix.track = valueOf(r.course);
    fix.magvar = rmc.magvar;
    if (fix.track && fix.magvar) {
        fix.magtrack = rounded(std::fmod(*fix.track - *fix.magvar + 360.0, 360.0), 6);
    }
    const GpsGga* gga = ggaOfTheRmcSecond();
    if (gga) {
        fix.altitude = valueOf(gga->altitude);
        fix.geoidSeparation = valueOf(gga->geoidSeparation);
        if (fix.altitude && fix.geoidSeparation) {
            fix.altitudeHae = sum(gga->altitude, gga->geoidSeparation);
        }
        fix.quality = gga->quality;
        fix.satellitesUsed = gga->satellitesInUse;
        fix.status = statusOf(gga->quality);
    }
    const Gsa* gsa = epoch_.gsas.empty() ? nullptr : &epoch_.gsas.front();
    if (!fix.valid) {
        fix.mode = 1;
    } else if (gsa != nullptr && gsa->record.fixMode >= 2) {
        fix.mode = gsa->record.fixMode >= 3 ? 3 : 2;
    } else {
        fix.mode = gsa == nullptr && gga != nullptr && gga->quality > 0 && fix.altitude ? 3 : 2;
    }
    fix.dops = dops();
    if (fix.mode >= 2) {
        estimateErrors(fix);
    }
    // Climb from the altitudes of 3D fixes one second apart; its error as for
    // a vertical speed (eps, with the vertical DOP).
    if (fix.mode == 3 && lastFix_ && lastFix_->mode == 3 && lastFix_->altitude && fix.altitude &&
        lastFix_->time && fix.time && lastFix_->time->year != 0 && fix.time->year != 0 &&
        std::fabs(fix.time->epochSeconds() - lastFix_->time->epochSeconds() - 1.0) < 1e-6) {
        fix.climb = rounded(*fix.altitude - *lastFix_->altitude, 3);
        if (fix.dops.v) {
            fix.errors.epc = rounded(kSigmas * kRangeRateErrorMetresPerSecond * *fix.dops.v, 3);
        }
    }
    // Earth-centred coordinates of a 3D fix, centimetres as the clients show
    // them; the velocity where the climb gives its vertical part.
    if (fix.mode == 3 && fix.hasPosition() && fix.altitudeHae) {
        const auto round = [](const Ecef& v, int decimals) {
            return Ecef{rounded(v.x, decimals), rounded(v.y, decimals), rounded(v.z, decimals)};
        };
        fix.ecef = round(ecefPosition(*fix.latitude, *fix.longitude, *fix.altitudeHae), 2);
        if (fix.speed && fix.track && fix.climb) {
            fix.ecefVelocity = round(
                ecefVelocity(*fix.latitude, *fix.longitude, *fix.speed, *fix.track, *fix.climb), 3);
        }
    }

    fix.timing = epoch_.timing;
    fix.timing.timeTrusted = trusted();
    lastFix_ = fix;
    lastTpvTime_ = timeOf(r.time);
    return fix;
}

void EpochAssembler::estimateErrors(Fix& fix) const {
    ErrorEstimates& e = fix.errors;
    const auto times = [](double factor, const std::optional<double>& value) {
        return value ? std::optional(rounded(factor * *value, 3)) : std::nullopt;
    };
    const GpsGst* gst = epoch_.gst && timeOf(epoch_.gst->time) == timeOf(epoch_.rmc->record.time)
                            ? &*epoch_.gst
                            : nullptr;
    if (gst != nullptr) {
        const auto lat = valueOf(gst->latitudeSigma);
        const auto lon = valueOf(gst->longitudeSigma);
        const auto alt = valueOf(gst->altitudeSigma);
        e.epx = times(kSigmas, lon);
        e.epy = times(kSigmas, lat);
        e.epv = times(kSigmas, alt);
        if (lat && lon) {
            e.eph = rounded(kSigmas * std::hypot(*lat, *lon), 3);
            if (alt) {
                e.sep = rounded(kSigmas * std::sqrt(*lat * *lat + *lon * *lon + *alt * *alt), 3);
            }
        }
    }
    const Dops& d = fix.dops;
    const double range = kSigmas * kRangeErrorMetres;
    e.epx = e.epx ? e.epx : times(range, d.x);
    e.epy = e.epy ? e.epy : times(range, d.y);
    e.eph = e.eph ? e.eph : times(range, d.h);
    e.epv = e.epv ? e.epv : times(range, d.v);
    e.sep = e.sep ? e.sep : times(range, d.p);
    if (d.t) {
        e.ept = rounded(range * *d.t / kSpeedOfLight, 12);
    }
    if (fix.speed && d.h) {
        e.eps = rounded(kSigmas * kRangeRateErrorMetresPerSecond * *d.h, 3);
        // The direction of a velocity known within eps: any at all below it.
        e.epd =
            *fix.speed > *e.eps ? rounded(std::asin(*e.eps / *fix.speed) * 180.0 / M_PI, 4) : 180.0;
    }
    if (fix.mode < 3) {
        e.epv.reset();
        e.sep.reset();
    }
}

Sky EpochAssembler::makeSky() const {
    Sky sky;
    sky.epoch = epoch_.serial;
    sky.time = datedTime(epoch_.time);
    sky.dops = dops();
    sky.satellites = epoch_.satellites;
    for (Satellite& satellite : sky.satellites) {
        satellite.used = usedInEpoch(satellite.id);
    }
    return sky;
}

Gst EpochAssembler::makeGst() const {
    const GpsGst& g = *epoch_.gst;
    return {epoch_.serial,
            datedTime(timeOf(g.time)),
            valueOf(g.rangeRms),
            valueOf(g.semiMajorSigma),
            valueOf(g.semiMinorSigma),
            valueOf(g.semiMajorOrientation),
            valueOf(g.latitudeSigma),
            valueOf(g.longitudeSigma),
            valueOf(g.altitudeSigma)};
}

}  // namespace vyr::tool
