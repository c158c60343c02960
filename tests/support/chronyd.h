// A real chronyd for the time tests, which never touches the system clock
// (-x): its configuration, pidfile, command socket, refclock socket and log
// live in a private folder (mode 0700) of its own, and it is stopped by its
// PID. Query it with chronyc() ("tracking", "sources", "sourcestats"; -n, and
// -c for the CSV form with "csv").
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/shell.h"

namespace vyr::test {

class Chronyd {
public:
    struct Config {
        // refclock lines, with {dir} standing for the private folder.
        // (An SHM refclock belongs to the test, on a unit of its own.)
        std::vector<std::string> refclocks = {
            "refclock SOCK {dir}/refclock.sock refid NMEA poll 0 filter 1"};
    };

    explicit Chronyd(const Config& config) {
        char folder[] = "/tmp/vyr-chronyd.XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            ADD_FAILURE() << "cannot make a private folder for chronyd";
            return;
        }
        dir_ = folder;  // mkdtemp makes it 0700
        std::ofstream conf(dir_ + "/chrony.conf");
        for (std::string line : config.refclocks) {
            for (size_t at; (at = line.find("{dir}")) != std::string::npos;) {
                line.replace(at, 5, dir_);
            }
            conf << line << "\n";
        }
        // No NTP port, no UDP command port: only the Unix command socket.
        conf << "pidfile " << dir_ << "/chronyd.pid\n"
             << "bindcmdaddress " << dir_ << "/chronyd.sock\n"
             << "cmdport 0\nport 0\n";
        conf.close();
        // Everything the child needs is made before the fork: it may only
        // make system calls (see spawn in tool_process.h).
        const std::string confPath = dir_ + "/chrony.conf";
        const int logFd =
            open((dir_ + "/chronyd.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        pid_ = fork();
        if (pid_ == 0) {
            if (logFd < 0 || dup2(logFd, STDERR_FILENO) < 0 || dup2(logFd, STDOUT_FILENO) < 0) {
                _exit(127);
            }
            execlp("chronyd", "chronyd", "-x", "-d", "-u", "root", "-f", confPath.c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        if (logFd >= 0) {
            close(logFd);
        }
        // Ready once its command socket answers.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (running() && chronyc("tracking").first == 0) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ADD_FAILURE() << "chronyd did not come up:\n" << log();
    }

    ~Chronyd() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (waitpid(pid_, &status, WNOHANG) == 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
            }
        }
        if (!dir_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
        }
    }
    Chronyd(const Chronyd&) = delete;
    Chronyd& operator=(const Chronyd&) = delete;

    [[nodiscard]] const std::string& dir() const { return dir_; }
    [[nodiscard]] std::string log() const { return readFile(dir_ + "/chronyd.log"); }
    [[nodiscard]] bool running() {
        if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) != 0) {
            pid_ = -1;  // exited and reaped: nothing left to stop
        }
        return pid_ > 0;
    }

    // Exit status and output of chronyc against this chronyd.
    [[nodiscard]] std::pair<int, std::string> chronyc(const std::string& command) const {
        return shell("chronyc -h " + dir_ + "/chronyd.sock -n " + command + " 2>&1");
    }

    // One row of "sources" (CSV) by name: mode, state, name, stratum, poll,
    // reach (octal), last sample's age, adjusted offset, measured offset,
    // error. Empty when there is no such source.
    [[nodiscard]] std::vector<std::string> source(const std::string& name) const {
        std::istringstream rows(chronyc("-c sources").second);
        for (std::string row; std::getline(rows, row);) {
            std::vector<std::string> fields;
            std::istringstream cells(row);
            for (std::string cell; std::getline(cells, cell, ',');) {
                fields.push_back(cell);
            }
            if (fields.size() >= 10 && fields[2] == name) {
                return fields;
            }
        }
        return {};
    }

private:
    std::string dir_;
    pid_t pid_ = -1;
};

}  // namespace vyr::test
