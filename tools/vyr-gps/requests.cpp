#include "requests.h"

#include <cctype>
#include <nlohmann/json.hpp>

namespace vyr::tool {

namespace {

using Json = nlohmann::json;

// What a message may quote of the client's text: printable, at most 40 bytes.
std::string printableStart(std::string_view text) {
    std::string out;
    for (const char c : text.substr(0, 40)) {
        out += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return out;
}

bool isSeparator(char c) {
    return c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Length of the JSON object starting at text[0] == '{', or 0 when it does not
// end within text. Strings and their escapes are skipped.
size_t objectLength(std::string_view text) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '{') {
            ++depth;
        } else if (c == '}' && --depth == 0) {
            return i + 1;
        }
    }
    return 0;
}

std::optional<std::string> readBool(const Json& object, const char* name,
                                    std::optional<bool>& out) {
    const auto member = object.find(name);
    if (member == object.end()) {
        return std::nullopt;
    }
    if (!member->is_boolean()) {
        return std::string("Invalid WATCH: '") + name + "' must be true or false";
    }
    out = member->get<bool>();
    return std::nullopt;
}

Request watchRequest(std::string_view argument) {
    const Json object = Json::parse(argument.begin(), argument.end(), nullptr, false);
    if (object.is_discarded() || !object.is_object()) {
        return {Request::Kind::Error, std::nullopt, "Invalid WATCH: not a JSON object"};
    }
    WatchChange change;
    for (const auto& [name, slot] :
         {std::pair{"enable", &change.enable}, std::pair{"json", &change.json},
          std::pair{"nmea", &change.nmea}, std::pair{"scaled", &change.scaled},
          std::pair{"split24", &change.split24}, std::pair{"pps", &change.pps},
          std::pair{"timing", &change.timing}}) {
        if (auto error = readBool(object, name, *slot)) {
            return {Request::Kind::Error, std::nullopt, *error};
        }
    }
    if (const auto raw = object.find("raw"); raw != object.end()) {
        if (!raw->is_number_integer() || raw->get<int64_t>() < 0 || raw->get<int64_t>() > 2) {
            return {Request::Kind::Error, std::nullopt, "Invalid WATCH: 'raw' must be 0, 1 or 2"};
        }
        change.raw = static_cast<int>(raw->get<int64_t>());
    }
    if (const auto device = object.find("device"); device != object.end()) {
        if (!device->is_string()) {
            return {Request::Kind::Error, std::nullopt, "Invalid WATCH: 'device' must be a string"};
        }
        change.device = device->get<std::string>();
    }
    return {Request::Kind::Watch, change, {}};
}

Request deviceRequest(std::string_view argument) {
    const Json object = Json::parse(argument.begin(), argument.end(), nullptr, false);
    if (object.is_discarded() || !object.is_object()) {
        return {Request::Kind::Error, std::nullopt, "Invalid DEVICE: not a JSON object"};
    }
    DeviceChange change;
    const auto invalid = [](const char* name, const char* what) {
        return Request{Request::Kind::Error, std::nullopt,
                       std::string("Invalid DEVICE: '") + name + "' must be " + what};
    };
    for (const auto& [name, slot] :
         {std::pair{"path", &change.path}, std::pair{"parity", &change.parity}}) {
        if (const auto member = object.find(name); member != object.end()) {
            if (!member->is_string()) {
                return invalid(name, "a string");
            }
            *slot = member->get<std::string>();
        }
    }
    for (const auto& [name, slot] :
         {std::pair{"bps", &change.bps}, std::pair{"stopbits", &change.stopbits},
          std::pair{"native", &change.native}}) {
        if (const auto member = object.find(name); member != object.end()) {
            if (!member->is_number_integer()) {
                return invalid(name, "an integer");
            }
            *slot = member->get<int64_t>();
        }
    }
    if (const auto cycle = object.find("cycle"); cycle != object.end()) {
        if (!cycle->is_number()) {
            return invalid("cycle", "a number");
        }
        change.cycle = cycle->get<double>();
    }
    Request request{Request::Kind::Device, std::nullopt, {}};
    request.device = change;
    return request;
}

}  // namespace

void WatchChange::applyTo(WatchPolicy& policy) const {
    policy.enable = enable.value_or(true);
    policy.json = json.value_or(policy.json);
    policy.nmea = nmea.value_or(policy.nmea);
    policy.scaled = scaled.value_or(policy.scaled);
    policy.split24 = split24.value_or(policy.split24);
    policy.pps = pps.value_or(policy.pps);
    policy.timing = timing.value_or(policy.timing);
    policy.raw = raw.value_or(policy.raw);
    policy.device = device.value_or(policy.device);
}

std::vector<Request> parseRequestLine(std::string_view line) {
    std::vector<Request> requests;
    size_t i = 0;
    for (;;) {
        while (i < line.size() && isSeparator(line[i])) {
            ++i;
        }
        if (i == line.size()) {
            return requests;
        }
        if (line[i] != '?') {
            requests.push_back({Request::Kind::Error, std::nullopt,
                                "Unrecognized request '" + printableStart(line.substr(i)) + "'"});
            return requests;
        }
        const size_t nameStart = ++i;
        while (i < line.size() && std::isalpha(static_cast<unsigned char>(line[i]))) {
            ++i;
        }
        std::string name(line.substr(nameStart, i - nameStart));
        for (char& c : name) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        std::optional<std::string_view> argument;
        if (i < line.size() && line[i] == '=') {
            ++i;
            const size_t length =
                i < line.size() && line[i] == '{' ? objectLength(line.substr(i)) : 0;
            if (length == 0) {
                requests.push_back(
                    {Request::Kind::Error, std::nullopt,
                     "Invalid " + printableStart(name) + ": argument is not a JSON object"});
                return requests;
            }
            argument = line.substr(i, length);
            i += length;
        }
        if (i < line.size() && !isSeparator(line[i]) && line[i] != '?') {
            requests.push_back(
                {Request::Kind::Error, std::nullopt,
                 "Unrecognized request '?" + printableStart(line.substr(nameStart)) + "'"});
            return requests;
        }
        if (name == "WATCH") {
            requests.push_back(argument ? watchRequest(*argument)
                                        : Request{Request::Kind::Watch, std::nullopt, {}});
        } else if (name == "DEVICE") {
            requests.push_back(argument ? deviceRequest(*argument)
                                        : Request{Request::Kind::Device, std::nullopt, {}});
        } else if ((name == "VERSION" || name == "DEVICES" || name == "POLL") && !argument) {
            requests.push_back({name == "VERSION"   ? Request::Kind::Version
                                : name == "DEVICES" ? Request::Kind::Devices
                                                    : Request::Kind::Poll,
                                std::nullopt,
                                {}});
        } else {
            requests.push_back({Request::Kind::Error, std::nullopt,
                                "Unrecognized request '?" + printableStart(name) + "'"});
        }
    }
}

}  // namespace vyr::tool
