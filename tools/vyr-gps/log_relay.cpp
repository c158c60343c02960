#include "log_relay.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tool_error.h"

namespace vyr::tool {

namespace {

constexpr int kPipeBytes = 1 << 20;  // room for a burst while standard error is slow
constexpr int kIdleMs = 100;

// A line of the library starts with a colour sequence.
bool hasHead(std::string_view line) {
    return line.size() >= 2 && line[0] == '\033' && line[1] == '[';
}

// Length of a colour sequence (ESC [ digits/semicolons m) at text, or 0.
size_t colourLength(std::string_view text) {
    if (!hasHead(text)) {
        return 0;
    }
    size_t i = 2;
    while (i < text.size() && ((text[i] >= '0' && text[i] <= '9') || text[i] == ';')) {
        ++i;
    }
    return i < text.size() && text[i] == 'm' ? i + 1 : 0;
}

// Printable ASCII and colour sequences as they are, every other byte as \xNN.
std::string printable(std::string_view line) {
    std::string out;
    for (size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (const size_t colour = colourLength(line.substr(i)); colour > 0) {
            out.append(line.substr(i, colour));
            i += colour - 1;
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// "[time running][TAG]... function line :message": the text is what follows
// the time stamp, the place is that text up to the message.
std::pair<std::string, std::string> placeAndText(const std::string& line) {
    const size_t stampEnd = line.find(']');
    if (!hasHead(line) || stampEnd == std::string::npos) {
        return {line, line};
    }
    std::string text = line.substr(stampEnd + 1);
    const size_t colon = text.find(" :");
    return {colon == std::string::npos ? text : text.substr(0, colon + 2), text};
}

}  // namespace

std::string LogCollapser::feed(std::string_view bytes, Clock::time_point now) {
    std::string out;
    partial_.append(bytes);
    size_t start = 0;
    for (size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = partial_.substr(start, end - start);
        if (havePending_ && !hasHead(line)) {
            pending_ += "\n" + line;  // a newline byte inside a message
            continue;
        }
        if (havePending_) {
            out += take(pending_, now);
        }
        pending_ = std::move(line);
        havePending_ = true;
    }
    partial_.erase(0, start);
    return out;
}

std::string LogCollapser::idle(Clock::time_point now) {
    std::string out;
    if (havePending_) {
        out += take(pending_, now);
        havePending_ = false;
    }
    if (repeats_ > 0 && now - runStart_ >= kReportEvery) {
        out += repeats();
        runStart_ = now;
    }
    return out;
}

std::string LogCollapser::finish() {
    std::string out;
    if (!partial_.empty()) {
        out += feed("\n", Clock::now());
    }
    if (havePending_) {
        out += take(pending_, Clock::now());
        havePending_ = false;
    }
    return out + repeats();
}

std::string LogCollapser::take(const std::string& line, Clock::time_point now) {
    auto [place, text] = placeAndText(line);
    if (!place_.empty() && place == place_) {
        ++repeats_;
        identical_ = identical_ && text == text_;
        return {};
    }
    std::string out = repeats() + printable(line) + "\n";
    place_ = std::move(place);
    text_ = std::move(text);
    identical_ = true;
    runStart_ = now;
    return out;
}

std::string LogCollapser::repeats() {
    if (repeats_ == 0) {
        return {};
    }
    std::string out = "vyr-gps: last line repeated " + std::to_string(repeats_) + " times" +
                      (identical_ ? "" : " (same place, other data)") + "\n";
    repeats_ = 0;
    identical_ = true;
    return out;
}

LogRelay::LogRelay() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw ToolError(std::string("cannot create the log pipe: ") + std::strerror(errno));
    }
    fcntl(fds[1], F_SETPIPE_SZ, kPipeBytes);  // best effort
    std::fflush(stdout);
    const bool redirected = dup2(fds[1], STDOUT_FILENO) >= 0;
    close(fds[1]);
    if (!redirected) {
        close(fds[0]);
        throw ToolError(std::string("cannot redirect the library's log: ") + std::strerror(errno));
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    thread_ = std::thread([this, readFd = fds[0]] {
        pthread_setname_np(pthread_self(), "vyr-log");
        run(readFd);
    });
}

LogRelay::~LogRelay() {
    std::fflush(stdout);
    dup2(STDERR_FILENO, STDOUT_FILENO);  // the pipe's last writer: the relay reads its end
    thread_.join();
}

void LogRelay::run(int readFd) {
    LogCollapser collapser;
    const auto write = [](const std::string& text) {
        if (!text.empty()) {
            [[maybe_unused]] const ssize_t ignored =
                ::write(STDERR_FILENO, text.data(), text.size());
        }
    };
    char buffer[4096];
    for (;;) {
        // No timeout unless idle() has something to do: a quiet library
        // does not wake this thread.
        int timeoutMs = -1;
        if (collapser.lineWaiting()) {
            timeoutMs = kIdleMs;
        } else if (const auto due = collapser.countDue()) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*due - LogCollapser::Clock::now());
            timeoutMs = static_cast<int>(std::max<int64_t>(0, left.count()));
        }
        pollfd fd{readFd, POLLIN, 0};
        const int ready = poll(&fd, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0) {
            write(collapser.idle(LogCollapser::Clock::now()));
            continue;
        }
        const ssize_t count = read(readFd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        write(collapser.feed({buffer, static_cast<size_t>(count)}, LogCollapser::Clock::now()));
    }
    write(collapser.finish());
    close(readFd);
}

}  // namespace vyr::tool
