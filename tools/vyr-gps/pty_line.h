// A pseudo-terminal standing in for the receiver's serial line: the library
// opens the slave through a symbolic link at its build-time device path, the
// tool writes the capture into the master.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "tool_error.h"

namespace vyr::tool {

// True when path is a symbolic link to a terminal under /dev/pts that no
// longer exists: what a run that died leaves behind.
[[nodiscard]] bool isStaleLink(const std::string& path);

class PtyLine {
public:
    // Creates the pty and the link at devicePath. Refuses (ToolError) a path
    // under /dev and any path that already exists, except a stale link,
    // which is replaced: anything else there is not this tool's to replace.
    explicit PtyLine(const std::string& devicePath);
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Writes all of data, waiting while the line's buffer is full. Returns
    // false, with part of data written, once keepGoing() says no (asked at
    // least every 100 ms while waiting).
    bool write(const char* data, size_t size, const std::function<bool()>& keepGoing);
    // Bytes written but not yet read by the library.
    [[nodiscard]] int pending() const;
    // Waits until the library has read everything (or timeoutMs passed, or
    // keepGoing() says no); false when it has not.
    [[nodiscard]] bool drain(int timeoutMs, const std::function<bool()>& keepGoing) const;

private:
    std::string devicePath_;
    std::string slaveName_;
    int master_ = -1;
    int slave_ = -1;  // kept open so the line never hangs up between opens
};

}  // namespace vyr::tool
