#include "session.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

#include "pty_line.h"

namespace vyr::tool {

// GPX 1.1 track of the valid fixes; a stretch without a fix ends a segment.
class GpxWriter {
public:
    GpxWriter(const std::string& path, const std::string& trackName)
        : file_(std::fopen(path.c_str(), "w")) {
        if (file_ == nullptr) {
            throw ToolError("cannot write GPX file " + path + ": " + std::strerror(errno));
        }
        std::fprintf(file_,
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<gpx version=\"1.1\" creator=\"vyr-gps\" "
                     "xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
                     "  <trk>\n    <name>%s</name>\n",
                     escape(trackName).c_str());
    }
    ~GpxWriter() {
        if (file_ != nullptr) {
            finish();
        }
    }
    GpxWriter(const GpxWriter&) = delete;
    GpxWriter& operator=(const GpxWriter&) = delete;

    void point(const Fix& fix) {
        if (!fix.valid || !fix.latitude || !fix.longitude) {
            endSegment();
            return;
        }
        if (!inSegment_) {
            std::fputs("    <trkseg>\n", file_);
            inSegment_ = true;
        }
        std::fprintf(file_, "      <trkpt lat=\"%.7f\" lon=\"%.7f\">", *fix.latitude,
                     *fix.longitude);
        // Child order is fixed by the GPX schema.
        if (fix.altitude) {
            std::fprintf(file_, "<ele>%.1f</ele>", *fix.altitude);
        }
        if (fix.time && fix.time->year != 0) {
            std::fprintf(file_, "<time>%s</time>", fix.time->iso8601(2).c_str());
        }
        std::fprintf(file_, "<fix>%s</fix><sat>%d</sat>", fix.mode == 3 ? "3d" : "2d",
                     fix.satellitesUsed);
        if (fix.hdop) {
            std::fprintf(file_, "<hdop>%.2f</hdop>", *fix.hdop);
        }
        if (fix.vdop) {
            std::fprintf(file_, "<vdop>%.2f</vdop>", *fix.vdop);
        }
        if (fix.pdop) {
            std::fprintf(file_, "<pdop>%.2f</pdop>", *fix.pdop);
        }
        std::fputs("</trkpt>\n", file_);
    }

    void finish() {
        endSegment();
        std::fputs("  </trk>\n</gpx>\n", file_);
        std::fclose(file_);
        file_ = nullptr;
    }

private:
    static std::string escape(const std::string& text) {
        std::string escaped;
        for (char c : text) {
            switch (c) {
                case '&':
                    escaped += "&amp;";
                    break;
                case '<':
                    escaped += "&lt;";
                    break;
                case '>':
                    escaped += "&gt;";
                    break;
                case '"':
                    escaped += "&quot;";
                    break;
                default:
                    escaped += c;
            }
        }
        return escaped;
    }
    void endSegment() {
        if (inSegment_) {
            std::fputs("    </trkseg>\n", file_);
            inSegment_ = false;
        }
    }

    std::FILE* file_;
    bool inSegment_ = false;
};

Session::Session(std::FILE* out, OutputOptions options) : out_(out), options_(std::move(options)) {
    if (!options_.gpxPath.empty()) {
        gpx_ = std::make_unique<GpxWriter>(options_.gpxPath, options_.device);
    }
    dataReg_ = {VYR_GPS_CALLBACK(&Session::onFix), this};
    nmeaReg_ = {VYR_GPS_CALLBACK(&Session::onSentence), this};
}

Session::~Session() {
    if (printer_.joinable()) {
        detach();
    }
}

void Session::attach() {
    printer_ = std::thread([this] { printLoop(); });
    if (VYR_GPSPARSER_Register(&dataReg_) != VYR_GPS_OK ||
        VYR_GPSPARSER_RegNMEARecvCbk(&nmeaReg_) != VYR_GPS_OK) {
        throw ToolError("cannot register the callbacks with the library");
    }
    if (!options_.json) {
        std::fputs(textHeader().c_str(), out_);
    }
}

void Session::detach() {
    VYR_GPSPARSER_UnRegister(&dataReg_);
    VYR_GPSPARSER_UnregNMEARecvCbk(&nmeaReg_);
    {
        std::lock_guard lock(queueLock_);
        closed_ = true;
    }
    queueReady_.notify_one();
    printer_.join();
    if (gpx_) {
        gpx_->finish();
        gpx_.reset();
    }
}

// Reader thread, manager lock held: count, copy, queue. No library call that
// takes the manager lock is made here.
void Session::onSentence(const char* sentence, uint32_t length, void* self) {
    auto* session = static_cast<Session*>(self);
    session->sentences_.fetch_add(1, std::memory_order_relaxed);
    if (session->options_.echoNmea) {
        session->push(std::string(sentence, length));
    }
}

// Reader thread, manager lock held. The raw set still holds this epoch's
// sentences (it is cleared after the callbacks), and the latest record is the
// one being delivered, so the pull copy and the location belong to this fix.
void Session::onFix(const GpsMsgPacket* packet, void* self) {
    auto* session = static_cast<Session*>(self);
    auto epoch = std::make_unique<EpochCopy>();
    epoch->packet = *packet;
    if (VYR_GPSPARSER_ReadNmea(&epoch->raw) != VYR_GPS_OK) {
        std::memset(&epoch->raw, 0, sizeof epoch->raw);
    }
    epoch->location.speed = NAN;
    epoch->location.course = NAN;
    VYR_GPSPARSER_GetLocation(&epoch->location);
    session->fixes_.fetch_add(1, std::memory_order_relaxed);
    session->push(std::move(epoch));
}

void Session::push(Event event) {
    {
        std::lock_guard lock(queueLock_);
        queue_.push_back(std::move(event));
    }
    queueReady_.notify_one();
}

void Session::printLoop() {
    for (;;) {
        Event event;
        {
            std::unique_lock lock(queueLock_);
            queueReady_.wait(lock, [this] { return closed_ || !queue_.empty(); });
            if (queue_.empty()) {
                break;
            }
            event = std::move(queue_.front());
            queue_.pop_front();
        }
        if (auto* sentence = std::get_if<std::string>(&event)) {
            if (options_.json) {
                nlohmann::json report = {{"class", "NMEA"}, {"sentence", *sentence}};
                std::fprintf(
                    out_, "%s\n",
                    report.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
            } else {
                std::fprintf(out_, "%s\n", sentence->c_str());
            }
        } else {
            print(makeFix(*std::get<std::unique_ptr<EpochCopy>>(event)));
        }
    }
    std::fflush(out_);
}

void Session::print(const Fix& fix) {
    std::fputs(options_.json ? jsonLine(fix, options_.device).c_str() : textLine(fix).c_str(),
               out_);
    if (gpx_) {
        gpx_->point(fix);
    }
    ++summary_.fixes;
    if (fix.time && fix.time->year != 0) {
        if (!summary_.first) {
            summary_.first = fix.time;
        }
        summary_.last = fix.time;
    }
    if (fix.valid && fix.latitude && fix.longitude) {
        ++summary_.validFixes;
        if (lastValid_) {
            summary_.distanceMetres += haversineMetres(
                *lastValid_->latitude, *lastValid_->longitude, *fix.latitude, *fix.longitude);
        }
        lastValid_ = fix;
    }
}

namespace {

// Seconds from a to b, both with a date.
double secondsBetween(const UtcTime& a, const UtcTime& b) {
    const auto days = [](const UtcTime& t) {
        // Days since 1970-01-01 (civil calendar).
        const int y = t.year - (t.month <= 2 ? 1 : 0);
        const int era = y / 400;
        const int yoe = y - era * 400;
        const int doy = (153 * (t.month + (t.month > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
        const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
        return era * 146097 + doe - 719468;
    };
    const auto seconds = [&](const UtcTime& t) {
        return days(t) * 86400.0 + t.hour * 3600.0 + t.minute * 60.0 + t.second +
               t.microsecond / 1e6;
    };
    return seconds(b) - seconds(a);
}

}  // namespace

void Session::printSummary(uint64_t bytes) {
    summary_.bytes = bytes;
    summary_.sentences = sentences_.load();
    const double span = summary_.first ? secondsBetween(*summary_.first, *summary_.last) : 0.0;
    if (options_.json) {
        nlohmann::ordered_json report;
        report["class"] = "SUMMARY";
        report["bytes"] = summary_.bytes;
        report["sentences"] = summary_.sentences;
        report["fixes"] = summary_.fixes;
        report["valid"] = summary_.validFixes;
        if (summary_.first) {
            report["first"] = summary_.first->iso8601(3);
            report["last"] = summary_.last->iso8601(3);
        }
        report["span_s"] = span;
        report["distance_m"] = summary_.distanceMetres;
        std::fprintf(out_, "%s\n", report.dump().c_str());
    } else {
        std::fprintf(out_,
                     "--\n"
                     "bytes          %llu\n"
                     "sentences      %llu\n"
                     "fixes          %llu\n"
                     "fixes valid    %llu\n",
                     static_cast<unsigned long long>(summary_.bytes),
                     static_cast<unsigned long long>(summary_.sentences),
                     static_cast<unsigned long long>(summary_.fixes),
                     static_cast<unsigned long long>(summary_.validFixes));
        if (summary_.first) {
            std::fprintf(out_, "time span      %s .. %s (%.0f s)\n",
                         summary_.first->iso8601(0).c_str(), summary_.last->iso8601(0).c_str(),
                         span);
        } else {
            std::fprintf(out_, "time span      -\n");
        }
        std::fprintf(out_, "distance       %.3f km\n", summary_.distanceMetres / 1000.0);
    }
    std::fflush(out_);
}

}  // namespace vyr::tool
