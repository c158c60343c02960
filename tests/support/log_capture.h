// Captures the library's log lines (standard output) around a piece of code
// and finds lines by level, function name and message.
//
//   const std::string log = vyr::test::captureLog([] { VYR_GPSPARSER_Stop(); });
//   EXPECT_EQ(vyr::test::countLines(log, "ERR", "VYR_GPSPARSER_Stop",
//                                   "gps mng has not init!"), 1);
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace vyr::test {

template <typename Body>
std::string captureLog(Body&& body) {
    testing::internal::CaptureStdout();
    body();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Lines "...[<level>]\e[m <function> <line> :<message>" in log; message
// carries the line end, as the library's messages do.
inline int countLines(std::string_view log, std::string_view level, std::string_view function,
                      std::string_view message) {
    const std::string head = "[" + std::string(level) + "]\033[m " + std::string(function) + " ";
    const std::string tail = " :" + std::string(message);
    int count = 0;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string_view::npos) {
            end = log.size() - 1;
        }
        const std::string_view line = log.substr(start, end + 1 - start);  // with its "\n"
        const size_t at = line.find(head);
        if (at != std::string_view::npos && line.size() >= tail.size() &&
            line.substr(line.size() - tail.size()) == tail) {
            ++count;
        }
        start = end + 1;
    }
    return count;
}

// Number of lines of the given level, whatever function and message.
inline int countLevel(std::string_view log, std::string_view level) {
    const std::string tag = "][" + std::string(level) + "]";
    int count = 0;
    for (size_t at = log.find(tag); at != std::string_view::npos; at = log.find(tag, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace vyr::test
