#include "sentence.h"

#include "vyr_gpsparser.h"

namespace vyr::tool {

Arrival arrivalNow() {
    Arrival now;
    clock_gettime(CLOCK_REALTIME, &now.realtime);
    now.steady = std::chrono::steady_clock::now();
    return now;
}

SentenceType sentenceType(std::string_view sentence) {
    if (sentence.size() < 6 || sentence[0] != '$' || sentence[1] == 'P') {
        return SentenceType::Other;
    }
    const std::string_view formatter = sentence.substr(3, 3);
    if (formatter == "RMC") {
        return SentenceType::Rmc;
    }
    if (formatter == "GGA") {
        return SentenceType::Gga;
    }
    if (formatter == "GSA") {
        return SentenceType::Gsa;
    }
    if (formatter == "GSV") {
        return SentenceType::Gsv;
    }
    if (formatter == "GST") {
        return SentenceType::Gst;
    }
    return SentenceType::Other;
}

std::string_view talkerOf(std::string_view sentence) {
    if (sentence.size() < 3 || sentence[0] != '$') {
        return {};
    }
    return sentence.substr(1, 2);
}

Fields::Fields(std::string_view sentence) {
    const size_t star = sentence.rfind('*');
    if (star != std::string_view::npos) {
        sentence = sentence.substr(0, star);
    }
    size_t begin = 0;
    while (count_ < kMaxFields) {
        const size_t comma = sentence.find(',', begin);
        fields_[count_++] = sentence.substr(begin, comma - begin);
        if (comma == std::string_view::npos) {
            break;
        }
        begin = comma + 1;
    }
}

bool ChecksumGate::pass(std::string_view sentence) {
    ++checked_;
    const int verdict =
        VYR_GPS_NmeaChecksum(sentence.data(), static_cast<uint32_t>(sentence.size()));
    if (verdict == VYR_GPS_CHECKSUM_OK) {
        lineSendsChecksums_ = true;
        return true;
    }
    if (verdict == VYR_GPS_CHECKSUM_ABSENT && !lineSendsChecksums_) {
        return true;
    }
    ++failed_;
    return false;
}

}  // namespace vyr::tool
