// Builds what the tool presents, second by second, from the sentences the
// library's NMEA callback delivers, parsed with the library's exported
// parsers. The library's own record pairs the GGA and GSA of one second with
// the RMC of the next on a receiver that sends RMC first, and it is complete
// only after the last GSV; the assembler instead groups the sentences of each
// second itself and releases every report as soon as the sentences its values
// come from have arrived.
//
// Epochs. A receiver sends each second's sentences in one burst. On a live
// line the pause before a burst opens the next epoch. Without pauses (a
// capture replayed at a steady pace) a sentence that carries a time (RMC, GGA,
// GST) with another second than the open epoch's opens the next epoch, and so
// does a sentence that repeats what the open epoch already holds (a second RMC
// without a time, a GSV series that starts again, a constellation's GSA again
// after other sentences): a lost first sentence of a second does not merge two
// seconds. Sentences without a time (GSA, GSV) belong to the epoch open
// when they arrive.
//
// Releases. The TPV when the epoch has its RMC and the GGA, GSA and GST that
// the receiver sent in the epochs before (what it sends is learned from the
// last two epochs; the first, most likely cut short, teaches nothing, so the
// first two wait for their end); the SKY when every GSV series and the GSA run
// are complete; the GST with the TPV. Whatever an epoch still holds is
// released when the next epoch opens, or at finish(). A second whose TPV went
// out already (a receiver that repeats its RMC) is not presented again.
//
// Checksums. A sentence that fails its checksum contributes nothing: after a
// failed RMC the epoch gives no TPV at all (clients keep the last fix rather
// than showing a gap), after a failed GGA no altitude, quality or satellite
// count, after a failed GSA no mode from it, no DOPs and no used flags, and a
// failed GSV's satellites are left out of the SKY.
//
// One thread at a time; no locks.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "fix.h"
#include "sentence.h"
#include "vyr_gpsparser.h"

namespace vyr::tool {

// An epoch has ended: nothing more will be released from it.
struct EpochEnd {
    uint64_t epoch = 0;
    // The receiver sends RMC, but this epoch has none, and a sentence in it
    // (or just before it) failed its checksum.
    bool heldBack = false;
    uint64_t failedSentences = 0;
    // As the epoch's Fix had it, with timeTrusted now judged on every sentence
    // of the epoch (the Fix is released before its last ones arrive).
    FixTiming timing;
};

using Presentation = std::variant<Fix, Sky, Gst, EpochEnd>;

class EpochAssembler {
public:
    // A pause between two sentences longer than this, beyond the second
    // one's own time on a 4800-baud line, is taken for the pause between two
    // bursts.
    static constexpr std::chrono::milliseconds kBurstPause{150};

    // Takes one sentence as framed, with the clocks of its NMEA callback;
    // appends what it releases to out, in order.
    void add(std::string_view sentence, const Arrival& arrival, std::vector<Presentation>& out);
    // End of input: releases what the open epoch still holds.
    void finish(std::vector<Presentation>& out);
    // A new line (a receiver plugged in again): forgets everything but the
    // counts of the checksum gate.
    void reset() {
        ChecksumGate gate = gate_;
        gate.newLine();
        *this = EpochAssembler();
        gate_ = gate;
    }

    [[nodiscard]] const ChecksumGate& checksums() const { return gate_; }

private:
    struct TimeOfDay {
        int hours, minutes, seconds, microseconds;
        auto operator<=>(const TimeOfDay&) const = default;
    };
    struct Rmc {
        GpsRmc record;
        std::optional<double> latitude, longitude, magvar;
    };
    struct Gsa {
        GpsGsa record;
        System system;
    };
    struct Series {
        std::string key;  // talker and NMEA 4.10 signal id
        int last = 0;     // message number of its last sentence so far
        bool complete = false;
    };
    // What the receiver sent in one epoch, for the next ones' releases.
    struct Shape {
        bool rmc = false, gga = false, gst = false;
        size_t gsas = 0;
        std::vector<std::string> series;
    };
    struct Epoch {
        uint64_t serial = 0;
        std::optional<TimeOfDay> time;
        FixTiming timing;
        bool tainted = false;  // a sentence of this epoch failed its checksum
        uint64_t failed = 0;
        std::optional<Rmc> rmc;
        std::optional<GpsGga> gga;
        std::optional<GpsGst> gst;
        std::vector<Gsa> gsas;
        bool gsaRunOpen = false;  // the last sentence taken was a GSA
        std::vector<Series> series;
        std::vector<Satellite> satellites;
        bool tpvSent = false, skySent = false, gstSent = false;
        bool presented = false;  // its TPV went out (not one of a repeated second)
    };

    // Where a satellite was last seen, for the geometry of a fix whose GSV
    // comes after its RMC.
    struct Position {
        SatelliteId id;
        Bearing bearing;
    };

    struct Parsed;
    [[nodiscard]] static std::optional<TimeOfDay> timeOf(const GpsTime& time);
    [[nodiscard]] Parsed parse(std::string_view sentence);
    [[nodiscard]] static Gsa gsaOf(const Parsed& parsed, std::string_view sentence);
    [[nodiscard]] static std::optional<int> constellationOf(const Gsa& gsa);
    [[nodiscard]] bool opensEpoch(const Parsed& parsed, std::string_view sentence) const;
    void open(std::string_view sentence, const Arrival& arrival);
    void close(std::vector<Presentation>& out);
    void take(const Parsed& parsed, std::string_view sentence);
    void takeGsv(const GpsGsv& gsv, std::string_view sentence);
    void release(std::vector<Presentation>& out);

    // What the last two closed epochs held between them; kept with shapes_,
    // as every sentence asks it.
    [[nodiscard]] const Shape& expected() const { return expected_; }
    [[nodiscard]] static Shape combined(const std::deque<Shape>& shapes);
    [[nodiscard]] bool tpvReady() const;
    [[nodiscard]] bool skyReady() const;
    [[nodiscard]] const GpsGga* ggaOfTheRmcSecond() const;
    [[nodiscard]] bool trusted() const;
    // A time of this epoch with the date of its RMC, or (unless ownRmcOnly)
    // of the last RMC when the time is later on that day; nothing without one.
    [[nodiscard]] std::optional<UtcTime> datedTime(const std::optional<TimeOfDay>& time,
                                                   bool ownRmcOnly = false) const;
    [[nodiscard]] bool usedInEpoch(const SatelliteId& id) const;
    [[nodiscard]] std::optional<GeometryDops> geometry() const;
    [[nodiscard]] Dops dops() const;
    [[nodiscard]] Fix makeFix();
    void estimateErrors(Fix& fix) const;
    [[nodiscard]] Sky makeSky() const;
    [[nodiscard]] Gst makeGst() const;

    ChecksumGate gate_;
    std::string text_;  // the sentence being parsed, NUL-terminated
    Epoch epoch_;
    bool haveEpoch_ = false;
    bool taintNext_ = false;         // a failed sentence may have opened the next epoch
    uint64_t failedBeforeOpen_ = 0;  // after a pause, before the burst's first good one
    std::optional<std::chrono::steady_clock::time_point> lastArrival_;
    uint64_t serials_ = 0;
    std::deque<Shape> shapes_;  // the last two closed epochs
    Shape expected_;            // combined(shapes_)
    std::vector<Position> positions_;
    std::optional<Fix> lastFix_;  // for the climb
    std::optional<TimeOfDay> lastTpvTime_;
    std::optional<std::pair<GpsDate, TimeOfDay>> lastDate_;  // of the last dated RMC
};

}  // namespace vyr::tool
