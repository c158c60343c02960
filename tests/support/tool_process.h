// vyr-gps run as a user runs it, for the tool's tests: commands with a
// deadline, `vyr-gps serve` on a free loopback port, and raw connections to
// it. Every wait has a deadline, so a regression fails instead of hanging.
// Needs VYR_TEST_TOOL_PATH.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/shell.h"

namespace vyr::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline const std::string kTool = VYR_TEST_TOOL_PATH;

// Standard output of a command, killed after two minutes.
inline std::string run(const std::string& command) {
    return shell("timeout -s KILL 120 " + command).second;
}

// Lines without their CR LF or LF.
inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line.substr(0, line.find_last_not_of("\r") + 1));
    }
    return out;
}

inline std::vector<std::string> tpvsIn(const std::vector<std::string>& received) {
    std::vector<std::string> out;
    std::copy_if(received.begin(), received.end(), std::back_inserter(out),
                 [](const std::string& l) { return l.starts_with(R"({"class":"TPV")"); });
    return out;
}

// The command line is built before the fork: in a test with threads of its
// own (a receiver's writer), the child may only exec, since an allocator lock
// held by another thread at the fork is never released in the child.
inline pid_t spawn(const std::string& command) {
    const std::string line = "exec " + command;
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", line.c_str(), nullptr);
        _exit(127);
    }
    return pid;
}

// Exit status after the signal, or -1 when the process had to be killed.
inline int terminate(pid_t pid, int signal = SIGTERM) {
    kill(pid, signal);
    for (const auto deadline = Clock::now() + 15s; Clock::now() < deadline;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(20ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

// A vyr-gps command in the background, its standard error in a file.
class ToolProcess {
public:
    ToolProcess(const std::string& args, const std::string& output = "/dev/null")
        : log_(testing::TempDir() + "vyr-gps-" + std::to_string(getpid()) + "-" +
               std::to_string(count_++) + ".log") {
        pid_ = spawn(kTool + " " + args + " >" + output + " 2>" + log_);
    }
    // A clean exit, without a sanitizer's report.
    ~ToolProcess() {
        if (pid_ > 0) {
            EXPECT_EQ(stop(), 0) << log();
        }
        EXPECT_EQ(log().find("Sanitizer"), std::string::npos) << log();
        std::filesystem::remove(log_);
    }
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    int stop(int signal = SIGTERM) { return terminate(std::exchange(pid_, -1), signal); }
    [[nodiscard]] std::string log() const { return readFile(log_); }
    bool waitForLog(const std::string& pattern, std::smatch* match = nullptr,
                    Clock::duration timeout = 20s) const {
        for (const auto deadline = Clock::now() + timeout; Clock::now() < deadline;) {
            static std::string text;
            text = log();
            std::smatch found;
            if (std::regex_search(text, found, std::regex(pattern))) {
                if (match != nullptr) {
                    *match = found;
                }
                return true;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

private:
    static inline int count_ = 0;
    std::string log_;
    pid_t pid_ = -1;
};

// `vyr-gps serve` on a free loopback port.
class Serve : public ToolProcess {
public:
    explicit Serve(const std::string& args) : ToolProcess("serve --listen 127.0.0.1:0 " + args) {
        std::smatch match;
        EXPECT_TRUE(waitForLog("listening on 127\\.0\\.0\\.1:([0-9]+)", &match)) << log();
        port_ = match.empty() ? 0 : std::stoi(match[1]);
    }
    [[nodiscard]] int port() const { return port_; }

private:
    int port_ = 0;
};

// A raw protocol connection.
class Connection {
public:
    explicit Connection(int port, int receiveBuffer = 0) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        if (receiveBuffer > 0) {
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Connection() { close(fd_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    [[nodiscard]] bool connected() const { return connected_; }
    [[nodiscard]] int fd() const { return fd_; }
    [[nodiscard]] bool closedByServer() const { return eof_; }
    void send(const std::string& text) const {
        ASSERT_EQ(::send(fd_, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size()));
    }
    // Reads what is there (false at end of stream) into complete lines.
    bool readAvailable() {
        char buffer[65536];
        const ssize_t count = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
            eof_ = true;
            return false;
        }
        if (count > 0) {
            pending_.append(buffer, static_cast<size_t>(count));
            for (size_t end; (end = pending_.find("\r\n")) != std::string::npos;) {
                lines_.push_back(pending_.substr(0, end));
                arrived_.push_back(Clock::now());
                pending_.erase(0, end + 2);
            }
        }
        return true;
    }
    // The next line, waiting up to timeout; empty at end of stream or timeout.
    std::string nextLine(Clock::duration timeout = 10s) {
        for (const auto deadline = Clock::now() + timeout;
             next_ == lines_.size() && !eof_ && Clock::now() < deadline;) {
            pollfd fd{fd_, POLLIN, 0};
            poll(&fd, 1, 50);
            readAvailable();
        }
        return next_ < lines_.size() ? lines_[next_++] : std::string();
    }
    // Reads for a while, keeping every line.
    void readFor(Clock::duration duration) {
        for (const auto until = Clock::now() + duration; Clock::now() < until && !eof_;) {
            pollfd fd{fd_, POLLIN, 0};
            poll(&fd, 1, 20);
            readAvailable();
        }
    }
    [[nodiscard]] const std::vector<std::string>& received() const { return lines_; }
    // When each received line arrived.
    [[nodiscard]] const std::vector<Clock::time_point>& arrived() const { return arrived_; }

private:
    int fd_;
    bool connected_ = false;
    bool eof_ = false;
    std::string pending_;
    std::vector<std::string> lines_;
    std::vector<Clock::time_point> arrived_;
    size_t next_ = 0;
};

inline const std::string kWatch = R"(?WATCH={"enable":true,"json":true};)"
                                  "\n";

}  // namespace vyr::test
