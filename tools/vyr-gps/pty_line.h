// A pseudo-terminal standing in for the receiver's serial line: the library
// opens the slave through a symbolic link at its build-time device path, the
// tool writes the capture into the master.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace vyr::tool {

struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class PtyLine {
public:
    // Creates the pty and the link at devicePath. Refuses (ToolError) a path
    // under /dev and any path that already exists: a file or link there is
    // not this tool's to replace.
    explicit PtyLine(const std::string& devicePath);
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Writes all of data, blocking while the line's buffer is full.
    void write(const char* data, size_t size);
    // Bytes written but not yet read by the library.
    [[nodiscard]] int pending() const;
    // Waits until the library has read everything (or timeoutMs passed);
    // false on timeout.
    [[nodiscard]] bool drain(int timeoutMs) const;

private:
    std::string devicePath_;
    std::string slaveName_;
    int master_ = -1;
    int slave_ = -1;  // kept open so the line never hangs up between opens
};

}  // namespace vyr::tool
