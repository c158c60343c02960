#include "gpx.h"

#include <cerrno>
#include <cstring>

#include "tool_error.h"

namespace vyr::tool {

namespace {

std::string escape(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
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

}  // namespace

GpxWriter::GpxWriter(const std::string& path, const std::string& trackName)
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

GpxWriter::~GpxWriter() {
    if (file_ != nullptr) {
        finish();
    }
}

void GpxWriter::point(const Fix& fix, const Sky* sky) {
    if (!fix.hasPosition()) {
        endSegment();
        return;
    }
    if (!inSegment_) {
        std::fputs("    <trkseg>\n", file_);
        inSegment_ = true;
    }
    // Elevation above the ellipsoid and the children in the order the GPX
    // schema fixes, with the precision the clients' own logger uses.
    std::fprintf(file_, "      <trkpt lat=\"%.9f\" lon=\"%.9f\">", *fix.latitude, *fix.longitude);
    if (fix.altitudeHae && fix.mode == 3) {
        std::fprintf(file_, "<ele>%.4f</ele>", *fix.altitudeHae);
    }
    if (fix.time && fix.time->year != 0) {
        std::fprintf(file_, "<time>%s</time>", fix.time->iso8601(3).c_str());
    }
    std::fprintf(file_, "<fix>%s</fix>", fix.mode == 3 ? "3d" : "2d");
    if (sky != nullptr) {
        std::fprintf(file_, "<sat>%d</sat>", sky->used());
    }
    for (const auto& [name, value] : {std::pair{"hdop", fix.dops.h}, std::pair{"vdop", fix.dops.v},
                                      std::pair{"pdop", fix.dops.p}}) {
        if (value) {
            std::fprintf(file_, "<%s>%g</%s>", name, *value, name);
        }
    }
    std::fputs("</trkpt>\n", file_);
}

void GpxWriter::finish() {
    endSegment();
    std::fputs("  </trk>\n</gpx>\n", file_);
    std::fclose(file_);
    file_ = nullptr;
}

void GpxWriter::endSegment() {
    if (inSegment_) {
        std::fputs("    </trkseg>\n", file_);
        inSegment_ = false;
    }
}

}  // namespace vyr::tool
