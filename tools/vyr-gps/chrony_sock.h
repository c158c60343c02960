// Time samples to chrony's SOCK refclock: one datagram per sample to the Unix
// socket that chronyd binds for "refclock SOCK PATH". Never blocks: while
// chronyd is not there (not started yet, restarting) or its queue is full,
// samples are dropped; sending resumes by itself when it is back, since each
// datagram is addressed anew. One line is logged when chronyd starts or stops
// listening, never one per sample.
#pragma once

#include <sys/un.h>

#include <functional>
#include <string>

#include "time_sample.h"

namespace vyr::tool {

class ChronySock {
public:
    using Log = std::function<void(const std::string&)>;

    // ToolError for a path too long for a Unix socket or no socket at all.
    // log defaults to the tool's notice on standard error.
    explicit ChronySock(const std::string& path, Log log = {});
    ~ChronySock();
    ChronySock(const ChronySock&) = delete;
    ChronySock& operator=(const ChronySock&) = delete;

    // Any one thread at a time. True when chronyd took the sample.
    bool send(const TimeSample& sample, bool pulse);
    bool send(const SockSample& datagram);

private:
    enum class Peer { Unknown, Listening, Absent };
    void become(Peer peer, int error);

    std::string path_;
    Log log_;
    sockaddr_un address_{};
    int socket_ = -1;
    Peer peer_ = Peer::Unknown;
};

}  // namespace vyr::tool
