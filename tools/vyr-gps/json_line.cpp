#include "json_line.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

namespace vyr::tool {

namespace {

// Room for a report with a full sky: one allocation for most lines.
constexpr size_t kReserved = 2048;

// Printed without an exponent part, as nlohmann-json prints doubles: a value
// with more than kFixedAfter and at most kFixedUpTo digits before its decimal
// point (zero or fewer: the zeros after it), that is 1e-4 <= |v| < 1e15.
constexpr int kFixedAfter = -4;
constexpr int kFixedUpTo = 15;

}  // namespace

JsonLine::JsonLine() {
    text_.reserve(kReserved);
    text_ += '{';
}

void JsonLine::key(std::string_view name) {
    if (!first_) {
        text_ += ',';
    }
    first_ = false;
    text_ += '"';
    text_ += name;  // the tool's own names: nothing to escape
    text_ += "\":";
}

void JsonLine::member(std::string_view name, std::string_view value) {
    key(name);
    string(value);
}

void JsonLine::member(std::string_view name, bool value) {
    key(name);
    text_ += value ? "true" : "false";
}

void JsonLine::beginArray(std::string_view name) {
    key(name);
    text_ += '[';
    first_ = true;
}

void JsonLine::endArray() {
    text_ += ']';
    first_ = false;
}

void JsonLine::beginObject() {
    if (!first_) {
        text_ += ',';
    }
    text_ += '{';
    first_ = true;
}

void JsonLine::endObject() {
    text_ += '}';
    first_ = false;
}

std::string JsonLine::finish() {
    text_ += '}';
    return std::move(text_);
}

// Escaped by nlohmann-json itself (with its UTF-8 replacement): the reports'
// strings are the device path and the time, a few per report.
void JsonLine::string(std::string_view value) {
    text_ += nlohmann::json(value).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void JsonLine::integer(long long value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text_.append(digits, end);
}

// The shortest digits that read back as value, laid out as nlohmann-json lays
// them out: "12.5", "3.0", "0.0001", "1.5e-05", "1e+15".
void JsonLine::number(double value) {
    if (!std::isfinite(value)) {
        text_ += "null";
        return;
    }
    if (std::signbit(value)) {
        text_ += '-';
        value = -value;
    }
    if (value == 0.0) {
        text_ += "0.0";
        return;
    }
    char scientific[32];  // "d.ddde-XXX"
    const auto end = std::to_chars(scientific, scientific + sizeof scientific, value,
                                   std::chars_format::scientific)
                         .ptr;
    const char* e = static_cast<const char*>(std::memchr(scientific, 'e', end - scientific));
    char digits[20];
    int count = 0;
    for (const char* p = scientific; p < e; ++p) {
        if (*p != '.') {
            digits[count++] = *p;
        }
    }
    int exponent = 0;  // to_chars writes a sign, then at least two digits
    std::from_chars(e + 2, end, exponent);
    if (e[1] == '-') {
        exponent = -exponent;
    }
    const int point = exponent + 1;  // digits before the decimal point
    if (point > kFixedAfter && point <= kFixedUpTo) {
        if (point <= 0) {
            text_ += "0.";
            text_.append(static_cast<size_t>(-point), '0');
            text_.append(digits, static_cast<size_t>(count));
        } else if (count <= point) {
            text_.append(digits, static_cast<size_t>(count));
            text_.append(static_cast<size_t>(point - count), '0');
            text_ += ".0";
        } else {
            text_.append(digits, static_cast<size_t>(point));
            text_ += '.';
            text_.append(digits + point, static_cast<size_t>(count - point));
        }
        return;
    }
    text_ += digits[0];
    if (count > 1) {
        text_ += '.';
        text_.append(digits + 1, static_cast<size_t>(count - 1));
    }
    text_.append(e, static_cast<size_t>(end - e));  // a sign, at least two digits, as nlohmann-json
}

}  // namespace vyr::tool
