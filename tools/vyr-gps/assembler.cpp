#include "assembler.h"

#include <algorithm>
#include <cstdlib>

namespace vyr::tool {

namespace {

// A GSV sentence's fields: after the type, total, number and count, groups
// of four for the satellites, and an NMEA 4.10 signal id after the last one.
bool hasSignalId(const Fields& fields) {
    return fields.size() >= 5 && (fields.size() - 4) % 4 == 1;
}

size_t satelliteGroups(const Fields& fields) {
    const size_t satelliteFields =
        fields.size() - std::min<size_t>(fields.size(), 4) - (hasSignalId(fields) ? 1 : 0);
    return std::min<size_t>((satelliteFields + 3) / 4, 4);  // a group cut short still counts
}

// The series a GSV sentence belongs to: its talker and its signal, so that
// the L1 and L5 series of one constellation are told apart.
std::string seriesKey(std::string_view sentence, const Fields& fields) {
    std::string key(talkerOf(sentence));
    if (hasSignalId(fields)) {
        key += ':';
        key += fields[fields.size() - 1];
    }
    return key;
}

}  // namespace

struct EpochAssembler::Parsed {
    SentenceType type = SentenceType::Other;
    bool ok = true;
    GpsRmc rmc{};
    GpsGga gga{};
    GpsGsa gsa{};
    GpsGsv gsv{};
    GpsGst gst{};
    std::optional<TimeOfDay> time;
};

EpochAssembler::Gsa EpochAssembler::gsaOf(const Parsed& p, std::string_view sentence) {
    const Fields f(sentence);
    const System system = f[18].empty() ? systemOfTalker(talkerOf(sentence))
                                        : systemOfId(std::atoi(std::string(f[18]).c_str()));
    return {p.gsa, system};
}

// The constellation a GSA speaks for: its system, or that of the satellites
// it lists; nothing for an empty one.
std::optional<int> EpochAssembler::constellationOf(const Gsa& gsa) {
    for (const int32_t number : gsa.record.satelliteIds) {
        if (number != 0) {
            return identifySatellite(gsa.system, number).gnssid;
        }
    }
    return std::nullopt;
}

std::optional<EpochAssembler::TimeOfDay> EpochAssembler::timeOf(const GpsTime& t) {
    if (t.hours < 0 || t.hours > 23 || t.minutes < 0 || t.minutes > 59 || t.seconds < 0 ||
        t.seconds > 60 || t.microseconds < 0) {
        return std::nullopt;
    }
    return TimeOfDay{t.hours, t.minutes, t.seconds, t.microseconds};
}

EpochAssembler::Parsed EpochAssembler::parse(std::string_view sentence) {
    Parsed p;
    p.type = sentenceType(sentence);
    text_.assign(sentence);  // the parsers read up to a NUL
    const char* text = text_.c_str();
    switch (p.type) {
        case SentenceType::Rmc:
            p.ok = GPSPARSER_ParseRMC(&p.rmc, text) == 1;
            p.time = timeOf(p.rmc.time);
            break;
        case SentenceType::Gga:
            p.ok = GPSPARSER_ParseGGA(&p.gga, text) == 1;
            p.time = timeOf(p.gga.time);
            break;
        case SentenceType::Gst:
            p.ok = GPSPARSER_ParseGST(&p.gst, text) == 1;
            p.time = timeOf(p.gst.time);
            break;
        case SentenceType::Gsa:
            p.ok = GPSPARSER_ParseGSA(&p.gsa, text) == 1;
            break;
        case SentenceType::Gsv:
            p.ok = GPSPARSER_ParseGSV(&p.gsv, text) == 1 && p.gsv.messageNumber >= 1;
            break;
        case SentenceType::Other:
            break;
    }
    return p;
}

void EpochAssembler::add(std::string_view sentence, const Arrival& arrival,
                         std::vector<Presentation>& out) {
    const bool afterPause =
        lastArrival_ && arrival.steady - *lastArrival_ >
                            kBurstPause + std::chrono::microseconds(2083 * sentence.size());
    lastArrival_ = arrival.steady;
    if (afterPause && haveEpoch_) {
        close(out);
        haveEpoch_ = false;
    }
    if (!gate_.pass(sentence)) {
        // Whether it was the last sentence of this epoch or the first of the
        // next cannot be told: both are tainted unless this second goes on.
        if (haveEpoch_) {
            epoch_.tainted = true;
            ++epoch_.failed;
        } else {
            ++failedBeforeOpen_;
        }
        taintNext_ = true;
        return;
    }
    const Parsed p = parse(sentence);
    if (!p.ok) {
        return;  // passed its checksum, yet no sentence of its type: nothing to take
    }
    if (!haveEpoch_ || opensEpoch(p, sentence)) {
        if (haveEpoch_) {
            close(out);
        }
        open(sentence, arrival);
    } else if (p.time) {
        taintNext_ = false;  // the second goes on: a failure before was this epoch's
    }
    take(p, sentence);
    release(out);
}

void EpochAssembler::finish(std::vector<Presentation>& out) {
    if (haveEpoch_) {
        close(out);
        haveEpoch_ = false;
    }
}

bool EpochAssembler::opensEpoch(const Parsed& p, std::string_view sentence) const {
    switch (p.type) {
        case SentenceType::Rmc:
        case SentenceType::Gga:
        case SentenceType::Gst: {
            const bool repeated = p.type == SentenceType::Rmc   ? epoch_.rmc.has_value()
                                  : p.type == SentenceType::Gga ? epoch_.gga.has_value()
                                                                : epoch_.gst.has_value();
            if (p.time && epoch_.time) {
                return *p.time != *epoch_.time;
            }
            return repeated;
        }
        case SentenceType::Gsa: {
            // Receivers send one GSA per constellation (some two, one after
            // the other): a constellation's GSA after other sentences starts
            // the next epoch.
            const auto constellation = constellationOf(gsaOf(p, sentence));
            return !epoch_.gsaRunOpen && constellation &&
                   std::any_of(epoch_.gsas.begin(), epoch_.gsas.end(), [&](const Gsa& gsa) {
                       return constellationOf(gsa) == constellation;
                   });
        }
        case SentenceType::Gsv: {
            const std::string key = seriesKey(sentence, Fields(sentence));
            for (const Series& series : epoch_.series) {
                if (series.key == key) {
                    return p.gsv.messageNumber <= series.last;
                }
            }
            return false;
        }
        case SentenceType::Other:
            break;
    }
    return false;
}

void EpochAssembler::open(std::string_view sentence, const Arrival& arrival) {
    epoch_ = Epoch{};
    epoch_.serial = ++serials_;
    epoch_.timing.firstSentenceRealtime = arrival.realtime;
    epoch_.timing.firstSentenceLength = static_cast<uint32_t>(sentence.size());
    epoch_.tainted = taintNext_;
    epoch_.failed = failedBeforeOpen_;
    taintNext_ = false;
    failedBeforeOpen_ = 0;
    haveEpoch_ = true;
}

void EpochAssembler::take(const Parsed& p, std::string_view sentence) {
    epoch_.gsaRunOpen = false;
    switch (p.type) {
        case SentenceType::Rmc:
            if (!epoch_.rmc) {
                const Fields f(sentence);
                Rmc rmc{p.rmc, degreesFromField(f[3], f[4], 'N', 'S'),
                        degreesFromField(f[5], f[6], 'E', 'W'), std::nullopt};
                if (!f[10].empty() && (f[11] == "E" || f[11] == "W")) {
                    rmc.magvar = valueOf(p.rmc.magneticVariation);  // signed by the parser
                }
                epoch_.rmc = rmc;
                if (p.time && p.rmc.date.day >= 1 && p.rmc.date.month >= 1) {
                    lastDate_.emplace(p.rmc.date, *p.time);
                }
                // A second already presented, sent again: not presented twice.
                epoch_.tpvSent = p.time && p.time == lastTpvTime_;
            }
            break;
        case SentenceType::Gga:
            if (!epoch_.gga) {
                epoch_.gga = p.gga;
            }
            break;
        case SentenceType::Gst:
            if (!epoch_.gst) {
                epoch_.gst = p.gst;
            }
            break;
        case SentenceType::Gsa:
            epoch_.gsas.push_back(gsaOf(p, sentence));
            epoch_.gsaRunOpen = true;
            break;
        case SentenceType::Gsv:
            takeGsv(p.gsv, sentence);
            break;
        case SentenceType::Other:
            break;
    }
    if (p.time && !epoch_.time) {
        epoch_.time = p.time;
    }
}

void EpochAssembler::takeGsv(const GpsGsv& gsv, std::string_view sentence) {
    const Fields f(sentence);
    const std::string key = seriesKey(sentence, f);
    auto series = std::find_if(epoch_.series.begin(), epoch_.series.end(),
                               [&key](const Series& s) { return s.key == key; });
    if (series == epoch_.series.end()) {
        epoch_.series.push_back({key});
        series = epoch_.series.end() - 1;
    }
    series->last = gsv.messageNumber;
    series->complete = gsv.messageNumber >= gsv.messageCount;

    const System system = systemOfTalker(talkerOf(sentence));
    for (size_t k = 0; k < satelliteGroups(f); ++k) {
        const size_t first = 4 + 4 * k;
        if (f[first].empty() || gsv.satellites[k].prn == 0) {
            continue;
        }
        const GpsSatInfo& info = gsv.satellites[k];
        const auto present = [&f](size_t index, int value) {
            return f[index].empty() ? std::nullopt : std::optional<int>(value);
        };
        const Satellite seen{identifySatellite(system, info.prn),
                             present(first + 1, info.elevation), present(first + 2, info.azimuth),
                             present(first + 3, info.snr)};
        // A satellite listed again on another signal is one satellite: what
        // the first listing left empty is taken from the later one.
        auto known = std::find_if(epoch_.satellites.begin(), epoch_.satellites.end(),
                                  [&seen](const Satellite& s) { return s.id == seen.id; });
        if (known == epoch_.satellites.end()) {
            epoch_.satellites.push_back(seen);
            known = epoch_.satellites.end() - 1;
        } else {
            known->elevation = known->elevation ? known->elevation : seen.elevation;
            known->azimuth = known->azimuth ? known->azimuth : seen.azimuth;
            known->snr = known->snr ? known->snr : seen.snr;
        }
        // 0 and 0 is what receivers send for a satellite whose place they do
        // not know yet: no bearing for the geometry.
        if (seen.elevation && seen.azimuth && *seen.elevation >= 0 && *seen.elevation <= 90 &&
            *seen.azimuth >= 0 && *seen.azimuth <= 360 && (*seen.elevation | *seen.azimuth) != 0) {
            const Bearing bearing{static_cast<double>(*seen.elevation),
                                  static_cast<double>(*seen.azimuth)};
            auto position = std::find_if(positions_.begin(), positions_.end(),
                                         [&seen](const Position& p) { return p.id == seen.id; });
            if (position == positions_.end()) {
                positions_.push_back({seen.id, bearing});
            } else {
                position->bearing = bearing;
            }
        }
    }
}

EpochAssembler::Shape EpochAssembler::combined(const std::deque<Shape>& shapes) {
    Shape want;
    for (const Shape& shape : shapes) {
        want.rmc = want.rmc || shape.rmc;
        want.gga = want.gga || shape.gga;
        want.gst = want.gst || shape.gst;
        want.gsas = std::max(want.gsas, shape.gsas);
        for (const std::string& key : shape.series) {
            if (std::find(want.series.begin(), want.series.end(), key) == want.series.end()) {
                want.series.push_back(key);
            }
        }
    }
    return want;
}

bool EpochAssembler::tpvReady() const {
    if (!epoch_.rmc || epoch_.tpvSent || shapes_.empty()) {
        return false;  // the first epoch waits for its end: what follows the RMC is not known
    }
    const Shape& want = expected();
    return (!want.gga || epoch_.gga) && (want.gsas == 0 || !epoch_.gsas.empty()) &&
           (!want.gst || epoch_.gst);
}

bool EpochAssembler::skyReady() const {
    if (epoch_.skySent || shapes_.empty() || epoch_.series.empty()) {
        return false;
    }
    const auto complete = [this](const std::string& key) {
        return std::any_of(epoch_.series.begin(), epoch_.series.end(),
                           [&key](const Series& s) { return s.key == key && s.complete; });
    };
    const Shape& want = expected();
    if (!std::all_of(epoch_.series.begin(), epoch_.series.end(),
                     [](const Series& s) { return s.complete; }) ||
        !std::all_of(want.series.begin(), want.series.end(), complete)) {
        return false;
    }
    // The used flags need the epoch's whole GSA run, before or after its GSVs.
    return want.gsas == 0 ||
           (!epoch_.gsas.empty() && (!epoch_.gsaRunOpen || epoch_.gsas.size() >= want.gsas));
}

void EpochAssembler::release(std::vector<Presentation>& out) {
    if (tpvReady()) {
        out.emplace_back(makeFix());
        epoch_.tpvSent = epoch_.presented = true;
    }
    if (epoch_.gst && !epoch_.gstSent &&
        (epoch_.tpvSent || (!shapes_.empty() && !expected().rmc))) {
        out.emplace_back(makeGst());
        epoch_.gstSent = true;
    }
    if (skyReady()) {
        out.emplace_back(makeSky());
        epoch_.skySent = true;
    }
}

void EpochAssembler::close(std::vector<Presentation>& out) {
    if (epoch_.rmc && !epoch_.tpvSent) {
        out.emplace_back(makeFix());
        epoch_.presented = true;
    }
    if (epoch_.gst && !epoch_.gstSent) {
        out.emplace_back(makeGst());
    }
    if (!epoch_.skySent && !epoch_.series.empty()) {
        out.emplace_back(makeSky());
    }
    EpochEnd end{epoch_.serial, false, epoch_.failed, epoch_.timing};
    end.heldBack = !epoch_.rmc && epoch_.tainted && expected().rmc;
    end.timing.timeTrusted = epoch_.presented && trusted();
    out.emplace_back(end);

    // The first epoch after a start is most likely cut short: it teaches
    // nothing about the receiver's cycle.
    if (epoch_.serial == 1) {
        return;
    }
    Shape shape{epoch_.rmc.has_value(),
                epoch_.gga.has_value(),
                epoch_.gst.has_value(),
                epoch_.gsas.size(),
                {}};
    for (const Series& series : epoch_.series) {
        shape.series.push_back(series.key);
    }
    shapes_.push_back(std::move(shape));
    if (shapes_.size() > 2) {
        shapes_.pop_front();
    }
    expected_ = combined(shapes_);
}

}  // namespace vyr::tool
