// Captures the library's log lines (standard output) around a piece of code.
#pragma once

#include <gtest/gtest.h>

#include <regex>

namespace vyr::test {

template <typename Body>
std::string captureLog(Body&& body) {
    testing::internal::CaptureStdout();
    body();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Lines "...[<level>]\e[m <function> <line> :<message>" for the patterns
// function and "<level> <message>".
inline long countLines(const std::string& log, const std::string& function, std::string pattern) {
    pattern.replace(pattern.find(' '), 1, "\\]\033\\[m " + function + " \\d+ :");
    const std::regex line("\\[" + pattern + "\n");
    return std::distance(std::sregex_iterator(log.begin(), log.end(), line), {});
}

}  // namespace vyr::test
