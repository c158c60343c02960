#include "reports.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>

#include "json_line.h"

namespace vyr::tool {

namespace {

using Json = nlohmann::ordered_json;

std::string line(const Json& object) {
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
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

// A report's first members: its class and the device it comes from.
JsonLine reportOf(const char* kind, const std::string& device) {
    JsonLine report;
    report.member("class", kind);
    report.member("device", device);
    return report;
}

}  // namespace

// Members in the order the clients' own reports use: each error estimate
// after the value it belongs to. The reports of every second are written
// straight into their text (json_line.h).
std::string tpvReport(const Fix& fix, const std::string& device) {
    JsonLine report = reportOf("TPV", device);
    report.member("mode", fix.mode);
    if (fix.status && fix.mode >= 2) {
        report.member("status", *fix.status);
    }
    if (const auto time = reportTime(fix.time)) {
        report.member("time", *time);
    }
    if (!fix.hasPosition()) {
        return report.finish();
    }
    const ErrorEstimates& e = fix.errors;
    report.member("ept", e.ept);
    report.member("lat", *fix.latitude);
    report.member("lon", *fix.longitude);
    if (fix.mode == 3) {
        report.member("altHAE", fix.altitudeHae);
        report.member("altMSL", fix.altitude);
        report.member("alt", fix.altitude);  // deprecated; older clients still read it
    }
    report.member("epx", e.epx);
    report.member("epy", e.epy);
    report.member("epv", e.epv);
    report.member("track", fix.track);
    report.member("magtrack", fix.magtrack);
    report.member("magvar", fix.magvar);
    report.member("speed", fix.speed);
    report.member("climb", fix.climb);
    report.member("eps", e.eps);
    report.member("epd", e.epd);
    report.member("epc", e.epc);
    if (fix.mode == 3) {
        report.member("geoidSep", fix.geoidSeparation);
    }
    report.member("eph", e.eph);
    report.member("sep", e.sep);
    if (fix.ecef) {
        report.member("ecefx", fix.ecef->x);
        report.member("ecefy", fix.ecef->y);
        report.member("ecefz", fix.ecef->z);
        report.member("ecefpAcc", e.sep);
    }
    if (fix.ecefVelocity) {
        report.member("ecefvx", fix.ecefVelocity->x);
        report.member("ecefvy", fix.ecefVelocity->y);
        report.member("ecefvz", fix.ecefVelocity->z);
        if (e.eps && e.epc) {
            report.member("ecefvAcc", std::round(std::hypot(*e.eps, *e.epc) * 1000.0) / 1000.0);
        }
    }
    return report.finish();
}

std::string skyReport(const Sky& sky, const std::string& device) {
    JsonLine report = reportOf("SKY", device);
    if (const auto time = reportTime(sky.time)) {
        report.member("time", *time);
    }
    report.member("xdop", sky.dops.x);
    report.member("ydop", sky.dops.y);
    report.member("vdop", sky.dops.v);
    report.member("tdop", sky.dops.t);
    report.member("hdop", sky.dops.h);
    report.member("gdop", sky.dops.g);
    report.member("pdop", sky.dops.p);
    report.member("nSat", sky.satellites.size());
    report.member("uSat", sky.used());
    report.beginArray("satellites");
    for (const Satellite& sat : sky.satellites) {
        report.beginObject();
        report.member("PRN", sat.id.prn);
        if (sat.id.gnssid) {
            report.member("gnssid", *sat.id.gnssid);
            report.member("svid", *sat.id.svid);
        }
        report.member("el", sat.elevation);
        report.member("az", sat.azimuth);
        report.member("ss", sat.snr);
        report.member("used", sat.used);
        report.endObject();
    }
    report.endArray();
    return report.finish();
}

std::string gstReport(const Gst& gst, const std::string& device) {
    JsonLine report = reportOf("GST", device);
    if (const auto time = reportTime(gst.time)) {
        report.member("time", *time);
    }
    report.member("rms", gst.rms);
    report.member("major", gst.major);
    report.member("minor", gst.minor);
    report.member("orient", gst.orient);
    report.member("lat", gst.lat);
    report.member("lon", gst.lon);
    report.member("alt", gst.alt);
    return report.finish();
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
