#include "summary.h"

#include <nlohmann/json.hpp>

namespace vyr::tool {

bool opensEpoch(std::string_view sentence) {
    return sentence.starts_with("$GPGGA") || sentence.starts_with("$GNGGA") ||
           sentence.starts_with("$BDGGA");
}

int sentencesIn(const GpsRawData& raw) {
    int count = 0;
    const auto add = [&count](const char(&slot)[VYR_GPS_SENTENCE_SIZE]) {
        count += slot[0] != '\0' ? 1 : 0;
    };
    add(raw.ggaStr);
    add(raw.rmcStr);
    for (const auto& slot : raw.gsaStr) {
        add(slot);
    }
    for (const auto& slot : raw.gpGsvStr) {
        add(slot);
    }
    for (const auto& slot : raw.bdGsvStr) {
        add(slot);
    }
    return count;
}

void Summary::addRecord(const EpochCopy& record) {
    ++records_;
    sentencesInRecords_ += static_cast<uint64_t>(sentencesIn(record.raw));
    const GpsTime& rmc = record.packet.rmc.time;
    const GpsTime& gga = record.packet.gga.time;
    mixed_ += rmc.hours >= 0 && gga.hours >= 0 &&
                      (rmc.hours != gga.hours || rmc.minutes != gga.minutes ||
                       rmc.seconds != gga.seconds || rmc.microseconds != gga.microseconds)
                  ? 1
                  : 0;
}

void Summary::addFix(const Fix& fix) {
    ++fixes_;
    if (fix.time && fix.time->year != 0) {
        if (last_) {
            const double step = fix.time->epochSeconds() - last_->epochSeconds();
            if (step < 0) {
                ++backwards_;
            } else {
                forwardSeconds_ += step;
            }
        } else {
            first_ = fix.time;
        }
        last_ = fix.time;
    }
    if (fix.valid && fix.hasPosition()) {
        ++validFixes_;
        if (lastPosition_) {
            distanceMetres_ += haversineMetres(*lastPosition_->latitude, *lastPosition_->longitude,
                                               *fix.latitude, *fix.longitude);
        }
        lastPosition_ = fix;
    }
}

void Summary::print(std::FILE* out, bool json, const Input& input) const {
    const uint64_t notInRecord =
        input.sentences > sentencesInRecords_ ? input.sentences - sentencesInRecords_ : 0;
    const uint64_t incomplete = input.epochsOpened > records_ ? input.epochsOpened - records_ : 0;
    if (json) {
        nlohmann::ordered_json report;
        report["class"] = "SUMMARY";
        report["bytes"] = input.bytes;
        report["sentences"] = input.sentences;
        report["bad_checksum"] = input.badChecksums;
        report["fixes"] = fixes_;
        report["valid"] = validFixes_;
        report["held_back"] = heldBack_;
        report["records"] = records_;
        report["mixed"] = mixed_;
        report["not_in_record"] = notInRecord;
        report["epochs_incomplete"] = incomplete;
        if (first_) {
            report["first"] = first_->iso8601(3);
            report["last"] = last_->iso8601(3);
        }
        report["span_s"] = forwardSeconds_;
        report["backwards"] = backwards_;
        report["distance_m"] = distanceMetres_;
        std::fprintf(out, "%s\n", report.dump().c_str());
        return;
    }
    const auto count = [](uint64_t value) { return static_cast<unsigned long long>(value); };
    std::fprintf(out,
                 "--\n"
                 "bytes          %llu\n"
                 "sentences      %llu\n"
                 "fixes          %llu\n"
                 "fixes valid    %llu\n"
                 "checksum bad   %llu sentences; %llu fixes held back (their RMC failed)\n"
                 "records        %llu from the library\n"
                 "mixed records  %llu (RMC and GGA of different seconds)\n"
                 "not in record  %llu sentences; %llu epochs begun by a GGA never completed\n",
                 count(input.bytes), count(input.sentences), count(fixes_), count(validFixes_),
                 count(input.badChecksums), count(heldBack_), count(records_), count(mixed_),
                 count(notInRecord), count(incomplete));
    if (first_) {
        std::fprintf(out, "time span      %s .. %s in the order received (%.0f s forward)\n",
                     first_->iso8601(0).c_str(), last_->iso8601(0).c_str(), forwardSeconds_);
    } else {
        std::fprintf(out, "time span      -\n");
    }
    std::fprintf(out, "time went back %llu times\n", count(backwards_));
    std::fprintf(out, "distance       %.3f km\n", distanceMetres_ / 1000.0);
}

}  // namespace vyr::tool
