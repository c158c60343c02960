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

void GpxWriter::point(const Fix& fix) {
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
    if (fix.altitudeHae) {
        std::fprintf(file_, "<ele>%.4f</ele>", *fix.altitudeHae);
    }
    if (fix.time && fix.time->year != 0) {
        std::fprintf(file_, "<time>%s</time>", fix.time->iso8601(3).c_str());
    }
    std::fprintf(file_, "<fix>%s</fix><sat>%d</sat>", fix.mode == 3 ? "3d" : "2d",
                 fix.satellitesMarkedUsed());
    for (const auto& [name, value] :
         {std::pair{"hdop", fix.hdop}, std::pair{"vdop", fix.vdop}, std::pair{"pdop", fix.pdop}}) {
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
