// GPX 1.1 track of the fixes with a position; a stretch without one ends a
// track segment. The points carry what the clients' own track logger writes
// for the same reports, so the two files can be compared point for point.
#pragma once

#include <cstdio>
#include <string>

#include "fix.h"

namespace vyr::tool {

class GpxWriter {
public:
    // Opens the file (ToolError when it cannot be) and writes the header.
    GpxWriter(const std::string& path, const std::string& trackName);
    ~GpxWriter();
    GpxWriter(const GpxWriter&) = delete;
    GpxWriter& operator=(const GpxWriter&) = delete;

    // sky: the same epoch's sky view, if it had one (the satellites used).
    void point(const Fix& fix, const Sky* sky);
    // Closes the open segment and the document.
    void finish();

private:
    void endSegment();

    std::FILE* file_;
    bool inSegment_ = false;
};

}  // namespace vyr::tool
