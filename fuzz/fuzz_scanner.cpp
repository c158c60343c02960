// Field scanner against an independent model of its rules, with arbitrary
// sentences and a list of formats: every format the parsers use, each letter
// alone, behind "t" and after ";", and combinations of letters that matter
// (absent fields, "_" and ";" in several places, long runs).
//
// Input: byte 0 selects the format, the rest is the sentence. Every output
// gets an area large enough for any conversion, "s" included (sized to the
// sentence), typed by its letter. The scan runs twice, over areas filled with
// two different patterns, so that "written" and "untouched" can be told apart
// exactly. Checked:
//  - the result equals the model's;
//  - every output before the failing letter (all of them on success) holds
//    exactly the model's value;
//  - the outputs of the failing letter and of every later one are untouched.
#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <iterator>
#include <optional>
#include <utility>

#include "fuzz_support.h"
#include "nmea/scanner.h"

namespace {

using vyr::nmea::ScanFormat;

bool isFieldChar(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 0x20 && u <= 0x7E && c != ',' && c != '*';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

struct Expected {
    std::vector<uint8_t> bytes;  // exact bytes the letter must store
};

template <typename T>
Expected bytesOf(const T& value) {
    Expected e;
    e.bytes.resize(sizeof(T));
    std::memcpy(e.bytes.data(), &value, sizeof(T));
    return e;
}

int32_t pair(const char* p) {
    return (p[0] - '0') * 10 + (p[1] - '0');
}

bool sixDigits(const char* f) {
    for (int i = 0; i < 6; ++i) {
        if (!isDigit(f[i])) return false;
    }
    return true;
}

// The "f" conversion, step by step as the number rules say. A fraction whose
// scale would pass 10^9 ends at the last digit whose scale fits.
std::optional<GpsFloat> modelFloat(const char* f) {
    int64_t value = 0;
    int64_t scale = 0;
    int sign = 0;
    bool point = false;
    bool digit = false;
    for (const char* p = f; isFieldChar(*p); ++p) {
        const char c = *p;
        if (c == '+' || c == '-') {
            if (sign != 0 || digit) return std::nullopt;
            const unsigned char next = static_cast<unsigned char>(p[1]);
            if (next < 0x20 || next > 0x7E) return std::nullopt;
            sign = c == '-' ? -1 : 1;
        } else if (isDigit(c)) {
            const int d = c - '0';
            if (digit && value > (INT32_MAX - d) / 10) {
                if (!point) return std::nullopt;
                break;
            }
            if (scale * 10 > INT32_MAX) break;
            value = digit ? value * 10 + d : d;
            digit = true;
            scale *= 10;
        } else if (c == '.') {
            if (point) return std::nullopt;
            point = true;
            scale = 1;
        } else if (c == ' ') {
            if (sign != 0 || point || digit) return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    if (sign == 0 && !point) {
        return digit ? GpsFloat{static_cast<int32_t>(value), 1} : GpsFloat{0, 0};
    }
    if (!digit) return std::nullopt;
    if (scale == 0) scale = 1;
    if (sign != 0) value *= sign;
    return GpsFloat{static_cast<int32_t>(value), static_cast<int32_t>(scale)};
}

// The "i" conversion: strtol from the field's first character, clamped to 32
// bits; the character where strtol stopped must not be a field character.
std::optional<int32_t> modelInteger(const char* f) {
    if (!isFieldChar(f[0])) return 0;
    char* end = nullptr;
    const long v = std::strtol(f, &end, 10);
    if (isFieldChar(*end)) return std::nullopt;
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// Model of one letter on one field. nullopt: the scan fails here. An Expected
// with no bytes: the letter stores nothing ("_").
std::optional<Expected> modelLetter(char letter, const char* f, bool absent) {
    switch (letter) {
        case 't': {
            if (absent || f[0] != '$') return std::nullopt;
            char out[6] = {};
            for (int i = 1; i <= 5; ++i) {
                if (!isFieldChar(f[i])) return std::nullopt;
                out[i - 1] = f[i];
            }
            Expected e;
            e.bytes.assign(out, out + 6);
            return e;
        }
        case 'T': {
            if (!isFieldChar(f[0])) return bytesOf(GpsTime{-1, -1, -1, -1});
            if (!sixDigits(f)) return std::nullopt;
            int32_t us = 0;
            if (f[6] == '.' && isDigit(f[7])) {
                int n = 0;
                for (const char* p = f + 7; n < 6 && isDigit(*p); ++p, ++n)
                    us = us * 10 + (*p - '0');
                for (; n < 6; ++n) us *= 10;
            }
            return bytesOf(GpsTime{pair(f), pair(f + 2), pair(f + 4), us});
        }
        case 'D': {
            if (!isFieldChar(f[0])) return bytesOf(GpsDate{-1, -1, -1});
            if (!sixDigits(f)) return std::nullopt;
            return bytesOf(GpsDate{pair(f), pair(f + 2), pair(f + 4)});
        }
        case 'f': {
            const std::optional<GpsFloat> v = modelFloat(f);
            if (!v) return std::nullopt;
            return bytesOf(*v);
        }
        case 'i': {
            const std::optional<int32_t> v = modelInteger(f);
            if (!v) return std::nullopt;
            return bytesOf(*v);
        }
        case 'c':
            return bytesOf(static_cast<char>(isFieldChar(f[0]) ? f[0] : '\0'));
        case 'd': {
            int32_t v = 0;
            if (f[0] == 'N' || f[0] == 'E') {
                v = 1;
            } else if (f[0] == 'S' || f[0] == 'W') {
                v = -1;
            } else if (isFieldChar(f[0])) {
                return std::nullopt;
            }
            return bytesOf(v);
        }
        case 's': {
            Expected e;
            for (const char* p = f; isFieldChar(*p); ++p)
                e.bytes.push_back(static_cast<uint8_t>(*p));
            e.bytes.push_back(0);
            return e;
        }
        case '_':
            return Expected{};
        default:
            return std::nullopt;
    }
}

struct ModelResult {
    bool ok = true;
    std::vector<Expected> outputs;  // one per letter that takes a pointer, up to the failure
};

ModelResult modelScan(const char* sentence, const std::string& format) {
    ModelResult r;
    const char* field = sentence;
    bool absent = false;
    bool optional = false;
    for (const char letter : format) {
        if (letter == ';') {
            optional = true;
            continue;
        }
        if (absent && !optional) {
            r.ok = false;
            return r;
        }
        const std::optional<Expected> out = modelLetter(letter, absent ? "" : field, absent);
        if (!out) {
            r.ok = false;
            return r;
        }
        if (letter != '_') r.outputs.push_back(*out);
        if (!absent) {
            const char* p = field;
            while (isFieldChar(*p)) ++p;
            if (*p == ',') {
                field = p + 1;
            } else {
                absent = true;
            }
        }
    }
    return r;
}

size_t storedSize(char letter, const std::vector<uint8_t>& area) {
    switch (letter) {
        case 't':
            return 6;
        case 'T':
            return sizeof(GpsTime);
        case 'D':
            return sizeof(GpsDate);
        case 'f':
            return sizeof(GpsFloat);
        case 'i':
        case 'd':
            return sizeof(int32_t);
        case 'c':
            return 1;
        default:  // "s": up to and including the NUL, or one byte for "untouched"
            return std::min<size_t>(area.size(),
                                    std::strlen(reinterpret_cast<const char*>(area.data())) + 1);
    }
}

// Runs the typed scan of format F with its k-th output in the k-th area.
template <ScanFormat F, size_t... K>
bool scanInto(const char* sentence, uint8_t* areas, size_t areaSize, std::index_sequence<K...>) {
    return vyr::nmea::scanFields<F>(
        sentence, reinterpret_cast<typename vyr::nmea::detail::LetterOf<F.outputLetter(K)>::Out*>(
                      areas + K * areaSize)...);
}

template <ScanFormat F>
bool runTyped(const char* sentence, uint8_t* areas, size_t areaSize) {
    return scanInto<F>(sentence, areas, areaSize, std::make_index_sequence<F.outputs()>{});
}

struct Format {
    const char* text;
    size_t outputs;
    bool (*run)(const char*, uint8_t*, size_t);
};
#define VYR_FORMAT(TEXT)                                 \
    Format {                                             \
        TEXT, ScanFormat(TEXT).outputs(), runTyped<TEXT> \
    }

const Format kFormats[] = {
    // The parsers' formats.
    VYR_FORMAT("tTcfdfdffDfd"),
    VYR_FORMAT("tTfdfdiiffcfcf_"),
    VYR_FORMAT("tciiiiiiiiiiiiifff"),
    VYR_FORMAT("tfdfdTc;c"),
    VYR_FORMAT("tTfffffff"),
    VYR_FORMAT("tiii;iiiiiiiiiiiiiiii"),
    VYR_FORMAT("tfcfcfcfc;c"),
    VYR_FORMAT("tTiiiii"),
    // Each letter behind the type field, alone, and after ";".
    VYR_FORMAT("tT"),
    VYR_FORMAT("tD"),
    VYR_FORMAT("tf"),
    VYR_FORMAT("ti"),
    VYR_FORMAT("tc"),
    VYR_FORMAT("td"),
    VYR_FORMAT("ts"),
    VYR_FORMAT("t_"),
    VYR_FORMAT("t"),
    VYR_FORMAT("T"),
    VYR_FORMAT("D"),
    VYR_FORMAT("f"),
    VYR_FORMAT("i"),
    VYR_FORMAT("c"),
    VYR_FORMAT("d"),
    VYR_FORMAT("s"),
    VYR_FORMAT("_"),
    VYR_FORMAT(";"),
    VYR_FORMAT(""),
    VYR_FORMAT("t;T"),
    VYR_FORMAT("t;D"),
    VYR_FORMAT("t;f"),
    VYR_FORMAT("t;i"),
    VYR_FORMAT("t;c"),
    VYR_FORMAT("t;d"),
    VYR_FORMAT("t;s"),
    VYR_FORMAT("t;_"),
    VYR_FORMAT("t;t"),
    // Combinations: absent fields with and without ";", "_" and ";" in several
    // places, a letter repeated past a sentence's usual length, mixed runs.
    VYR_FORMAT("tiii"),
    VYR_FORMAT("ti;ii"),
    VYR_FORMAT("ti_i"),
    VYR_FORMAT("ti;_i"),
    VYR_FORMAT("t;;iii"),
    VYR_FORMAT(";tfff"),
    VYR_FORMAT("_;_;_"),
    VYR_FORMAT("fdfdTc;c"),
    VYR_FORMAT("TDTD;TD"),
    VYR_FORMAT("ffffffffffff;ffff"),
    VYR_FORMAT("cdcdcd;cdcd"),
    VYR_FORMAT("ssss;ss"),
    VYR_FORMAT("tsTsDsfsisdscs"),
    VYR_FORMAT("t_i_f_T_D_c_d_s;_i_f"),
    VYR_FORMAT("tiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiii"),
    VYR_FORMAT("idfcTDs_"),
    VYR_FORMAT("t;fTDicds"),
};
#undef VYR_FORMAT

constexpr size_t kMaxOutputs = 40;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const Format& format = kFormats[data[0] % std::size(kFormats)];
    const std::string letters = format.text;
    const std::string sentence = vyr::fuzz::asText(data + 1, size - 1);
    const char* text = sentence.c_str();

    // Every letter that stores takes one area; "s" may need the whole sentence.
    const size_t areaSize = (std::max<size_t>(sizeof(GpsTime), sentence.size() + 1) + 7) & ~7u;
    std::vector<uint8_t> first(areaSize * kMaxOutputs);
    std::vector<uint8_t> second(areaSize * kMaxOutputs);
    FUZZ_CHECK(format.outputs <= kMaxOutputs, "format '%s' has too many outputs", format.text);
    std::memset(first.data(), 0xA5, first.size());
    std::memset(second.data(), 0x5A, second.size());
    const bool ok1 = format.run(text, first.data(), areaSize);
    const bool ok2 = format.run(text, second.data(), areaSize);
    const ModelResult model = modelScan(text, letters);

    const std::string where = vyr::fuzz::shown(text, std::strlen(text));
    FUZZ_CHECK(ok1 == ok2, "result differs between runs, format '%s' sentence '%s'", format.text,
               where.c_str());
    FUZZ_CHECK(ok1 == model.ok, "result %d, model %d, format '%s' sentence '%s'", ok1, model.ok,
               format.text, where.c_str());

    size_t slot = 0;
    for (const char letter : letters) {
        if (letter == ';' || letter == '_') continue;
        uint8_t* a = first.data() + slot * areaSize;
        uint8_t* b = second.data() + slot * areaSize;
        if (slot < model.outputs.size()) {
            const std::vector<uint8_t>& want = model.outputs[slot].bytes;
            FUZZ_CHECK(std::memcmp(a, want.data(), want.size()) == 0 &&
                           std::memcmp(b, want.data(), want.size()) == 0,
                       "output %zu ('%c') differs from the model, format '%s' sentence '%s'", slot,
                       letter, format.text, where.c_str());
        } else {
            const std::vector<uint8_t> areaA(a, a + areaSize);
            const size_t n = letter == 's' ? 1 : storedSize(letter, areaA);
            for (size_t i = 0; i < n; ++i) {
                FUZZ_CHECK(a[i] == 0xA5 && b[i] == 0x5A,
                           "output %zu ('%c') after the failing field was written, format '%s' "
                           "sentence '%s'",
                           slot, letter, format.text, where.c_str());
            }
        }
        ++slot;
    }
    FUZZ_CHECK(slot == format.outputs, "format '%s': %zu outputs checked", format.text, slot);
    return 0;
}
