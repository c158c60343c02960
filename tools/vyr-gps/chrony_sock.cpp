#include "chrony_sock.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "notice.h"
#include "tool_error.h"

namespace vyr::tool {

ChronySock::ChronySock(const std::string& path, Log log) : path_(path), log_(std::move(log)) {
    if (!log_) {
        log_ = [](const std::string& text) { notice("%s", text.c_str()); };
    }
    if (path.empty() || path.size() >= sizeof address_.sun_path) {
        throw ToolError("chrony socket path " + path + " is empty or longer than " +
                        std::to_string(sizeof address_.sun_path - 1) + " bytes");
    }
    address_.sun_family = AF_UNIX;
    std::memcpy(address_.sun_path, path.data(), path.size());
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        throw ToolError(std::string("cannot open a socket for chrony: ") + std::strerror(errno));
    }
}

ChronySock::~ChronySock() {
    close(socket_);
}

bool ChronySock::send(const TimeSample& sample, bool pulse) {
    return send(sockSample(sample, pulse));
}

bool ChronySock::send(const SockSample& datagram) {
    ssize_t sent;
    do {
        sent = sendto(socket_, &datagram, sizeof datagram, MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(&address_), sizeof address_);
    } while (sent < 0 && errno == EINTR);
    if (sent == static_cast<ssize_t>(sizeof datagram)) {
        become(Peer::Listening, 0);
        return true;
    }
    // A full queue means chronyd is there but behind: drop this one only.
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        become(Peer::Absent, errno);
    }
    return false;
}

void ChronySock::become(Peer peer, int error) {
    if (peer == peer_) {
        return;
    }
    const Peer before = peer_;
    peer_ = peer;
    if (peer == Peer::Listening) {
        log_("chrony is listening on " + path_ + ": sending time samples");
    } else if (before == Peer::Listening) {
        log_("chrony stopped listening on " + path_ + " (" + std::strerror(error) +
             "): time samples are dropped until it is back");
    } else {
        log_("chrony is not listening on " + path_ + " yet (" + std::strerror(error) +
             "): time samples are dropped until it is");
    }
}

}  // namespace vyr::tool
