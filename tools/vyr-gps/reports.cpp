#include "reports.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>

namespace vyr::tool {

namespace {

using Json = nlohmann::ordered_json;

std::string line(const Json& object) {
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

template <typename T>
void put(Json& object, const char* name, const std::optional<T>& value) {
    if (value) {
        object[name] = *value;
    }
}

// The time of a report: dated times only, as clients read it as a date.
std::optional<std::string> reportTime(const std::optional<UtcTime>& time) {
    if (!time || time->year == 0) {
        return std::nullopt;
    }
    return time->iso8601(3);
}

Json deviceObject(const DeviceInfo& device) {
    Json object = {{"class", "DEVICE"}, {"path", device.path}};
    if (device.activated) {
        object["activated"] = *device.activated;
        object["flags"] = 1;  // GPS data seen
    }
    object["driver"] = "NMEA0183";
    object["native"] = 0;
    object["bps"] = device.bps;
    object["parity"] = "N";
    object["stopbits"] = 1;
    object["cycle"] = 1.0;
    return object;
}

}  // namespace

// Members in the order the clients' own reports use: each error estimate
// after the value it belongs to.
std::string tpvReport(const Fix& fix, const std::string& device) {
    Json report = {{"class", "TPV"}, {"device", device}, {"mode", fix.mode}};
    if (fix.status && fix.mode >= 2) {
        report["status"] = *fix.status;
    }
    if (const auto time = reportTime(fix.time)) {
        report["time"] = *time;
    }
    if (!fix.hasPosition()) {
        return line(report);
    }
    const ErrorEstimates& e = fix.errors;
    put(report, "ept", e.ept);
    report["lat"] = *fix.latitude;
    report["lon"] = *fix.longitude;
    if (fix.mode == 3) {
        put(report, "altHAE", fix.altitudeHae);
        put(report, "altMSL", fix.altitude);
        put(report, "alt", fix.altitude);  // deprecated; older clients still read it
    }
    put(report, "epx", e.epx);
    put(report, "epy", e.epy);
    put(report, "epv", e.epv);
    put(report, "track", fix.track);
    put(report, "magtrack", fix.magtrack);
    put(report, "magvar", fix.magvar);
    put(report, "speed", fix.speed);
    put(report, "climb", fix.climb);
    put(report, "eps", e.eps);
    put(report, "epd", e.epd);
    put(report, "epc", e.epc);
    if (fix.mode == 3) {
        put(report, "geoidSep", fix.geoidSeparation);
    }
    put(report, "eph", e.eph);
    put(report, "sep", e.sep);
    if (fix.ecef) {
        report["ecefx"] = fix.ecef->x;
        report["ecefy"] = fix.ecef->y;
        report["ecefz"] = fix.ecef->z;
        put(report, "ecefpAcc", e.sep);
    }
    if (fix.ecefVelocity) {
        report["ecefvx"] = fix.ecefVelocity->x;
        report["ecefvy"] = fix.ecefVelocity->y;
        report["ecefvz"] = fix.ecefVelocity->z;
        if (e.eps && e.epc) {
            report["ecefvAcc"] = std::round(std::hypot(*e.eps, *e.epc) * 1000.0) / 1000.0;
        }
    }
    return line(report);
}

std::string skyReport(const Sky& sky, const std::string& device) {
    Json report = {{"class", "SKY"}, {"device", device}};
    if (const auto time = reportTime(sky.time)) {
        report["time"] = *time;
    }
    put(report, "xdop", sky.dops.x);
    put(report, "ydop", sky.dops.y);
    put(report, "vdop", sky.dops.v);
    put(report, "tdop", sky.dops.t);
    put(report, "hdop", sky.dops.h);
    put(report, "gdop", sky.dops.g);
    put(report, "pdop", sky.dops.p);
    report["nSat"] = sky.satellites.size();
    report["uSat"] = sky.used();
    Json satellites = Json::array();
    for (const Satellite& sat : sky.satellites) {
        Json entry = {{"PRN", sat.id.prn}};
        if (sat.id.gnssid) {
            entry["gnssid"] = *sat.id.gnssid;
            entry["svid"] = *sat.id.svid;
        }
        put(entry, "el", sat.elevation);
        put(entry, "az", sat.azimuth);
        put(entry, "ss", sat.snr);
        entry["used"] = sat.used;
        satellites.push_back(std::move(entry));
    }
    report["satellites"] = std::move(satellites);
    return line(report);
}

std::string gstReport(const Gst& gst, const std::string& device) {
    Json report = {{"class", "GST"}, {"device", device}};
    if (const auto time = reportTime(gst.time)) {
        report["time"] = *time;
    }
    put(report, "rms", gst.rms);
    put(report, "major", gst.major);
    put(report, "minor", gst.minor);
    put(report, "orient", gst.orient);
    put(report, "lat", gst.lat);
    put(report, "lon", gst.lon);
    put(report, "alt", gst.alt);
    return line(report);
}

std::string versionResponse(const std::string& release) {
    return line({{"class", "VERSION"},
                 {"release", release},
                 {"rev", release},
                 {"proto_major", kProtocolMajor},
                 {"proto_minor", kProtocolMinor}});
}

std::string devicesResponse(const DeviceInfo& device) {
    return line({{"class", "DEVICES"}, {"devices", Json::array({deviceObject(device)})}});
}

std::string deviceResponse(const DeviceInfo& device) {
    return line(deviceObject(device));
}

std::string deviceDeactivated(const std::string& path) {
    return line({{"class", "DEVICE"}, {"path", path}, {"activated", 0}});
}

std::string watchResponse(const WatchPolicy& policy) {
    Json response = {
        {"class", "WATCH"},        {"enable", policy.enable},   {"json", policy.json},
        {"nmea", policy.nmea},     {"raw", policy.raw},         {"scaled", policy.scaled},
        {"timing", policy.timing}, {"split24", policy.split24}, {"pps", policy.pps}};
    if (!policy.device.empty()) {
        response["device"] = policy.device;
    }
    return line(response);
}

std::string pollResponse(const std::string& now, const DeviceInfo& device, const std::string& tpv,
                         const std::string& sky) {
    Json response = {{"class", "POLL"}, {"time", now}, {"active", device.activated ? 1 : 0}};
    Json tpvs = Json::array();
    Json skies = Json::array();
    if (tpv.empty()) {
        tpvs.push_back({{"class", "TPV"}, {"device", device.path}, {"mode", 0}});
    } else {
        tpvs.push_back(Json::parse(tpv));
    }
    if (!sky.empty()) {
        skies.push_back(Json::parse(sky));
    }
    response["tpv"] = std::move(tpvs);
    response["sky"] = std::move(skies);
    return line(response);
}

std::string errorResponse(const std::string& message) {
    return line({{"class", "ERROR"}, {"message", message}});
}

std::string isoNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return text;
}

}  // namespace vyr::tool
