// One JSON object written straight into its line of text, member by member,
// for the reports the server sends every second (TPV, SKY, GST): no object
// tree is built and taken apart again for each of them. The text is laid out
// as nlohmann-json's compact dump of the same members in the same order, which
// the other responses use: integers as integers, floating-point numbers with
// ".0" when integral and an exponent below 1e-4 or from 1e15 on, a value that
// is not finite as null, strings escaped by nlohmann-json. The digits of a number are the
// shortest that read back as the same double; nlohmann-json's are that too but
// in about one number in a thousand, where it writes a digit more (99.462597916
// rather than 99.46259791600001).
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vyr::tool {

class JsonLine {
public:
    JsonLine();

    // A member of the object open now; an absent optional is left out.
    void member(std::string_view name, std::string_view value);
    void member(std::string_view name, const std::string& value) {
        member(name, std::string_view(value));
    }
    void member(std::string_view name, const char* value) { member(name, std::string_view(value)); }
    void member(std::string_view name, bool value);
    template <std::integral T>
    requires(!std::same_as<T, bool>) void member(std::string_view name, T value) {
        key(name);
        integer(static_cast<long long>(value));
    }
    void member(std::string_view name, double value) {
        key(name);
        number(value);
    }
    template <typename T>
    void member(std::string_view name, const std::optional<T>& value) {
        if (value) {
            member(name, *value);
        }
    }

    // An array member, and objects in it.
    void beginArray(std::string_view name);
    void endArray();
    void beginObject();
    void endObject();

    // Closes the outer object and gives the line.
    [[nodiscard]] std::string finish();

private:
    void key(std::string_view name);
    void string(std::string_view value);
    void integer(long long value);
    void number(double value);

    std::string text_;
    bool first_ = true;  // no member yet in the object or array open now
};

}  // namespace vyr::tool
