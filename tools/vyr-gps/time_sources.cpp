#include "time_sources.h"

#include <pthread.h>

#include <algorithm>

#include "chrony_sock.h"
#include "notice.h"
#include "ntp_shm.h"
#include "server.h"
#include "tool_error.h"

namespace vyr::tool {

std::optional<TimeSample> epochTimeSample(const Fix& fix, const EpochEnd& end, int baud) {
    if (!end.timing.timeTrusted || fix.epoch != end.epoch || !fix.time) {
        return std::nullopt;
    }
    const std::optional<timespec> instant = fixInstant(*fix.time);
    if (!instant) {
        return std::nullopt;
    }
    return sentenceTimeSample(*instant, end.timing.firstSentenceRealtime,
                              end.timing.firstSentenceLength + kLineEndBytes, baud);
}

void RecentEdges::add(const PpsEdge& edge) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (edges_.size() == kKept) {
        edges_.erase(edges_.begin());
    }
    edges_.push_back(edge);
}

std::vector<PpsEdge> RecentEdges::snapshot() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return edges_;
}

void TimePublisher::take(const Presentation& presentation) {
    if (const auto* fix = std::get_if<Fix>(&presentation)) {
        fix_ = *fix;
        return;
    }
    const auto* end = std::get_if<EpochEnd>(&presentation);
    if (end == nullptr || !fix_) {
        return;
    }
    const std::optional<TimeSample> sample = epochTimeSample(*fix_, *end, baud_);
    fix_.reset();
    if (!sample) {
        return;
    }
    sinks_.sentence(*sample);
    if (edges_ == nullptr) {
        return;
    }
    const std::vector<PpsEdge> recent = edges_->snapshot();
    if (const auto paired = pairPulse(recent, *sample, lastPulse_)) {
        lastPulse_ = paired->sequence;
        sinks_.pulse(paired->sample);
    }
}

TimeSources::TimeSources(const Config& config, Server& server) {
    if (!config.chronySock.empty()) {
        sock_ = std::make_unique<ChronySock>(config.chronySock);
    }
    if (config.ntpShm) {
        shm_ = std::make_unique<NtpShm>(*config.ntpShm);
    }
    if (!config.ppsDevice.empty()) {
        pps_ = std::make_unique<PpsDevice>(config.ppsDevice);
        if (sock_) {
            pulseSock_ = std::make_unique<ChronySock>(config.chronySock + ".pps");
        }
        if (shm_) {
            pulseShm_ = std::make_unique<NtpShm>(*config.ntpShm + 1);
        }
    }
    TimeSinks sinks{[this, &server](const TimeSample& sample) {
                        if (sock_) {
                            sock_->send(sample, false);
                        }
                        if (shm_) {
                            shm_->write(sample);
                        }
                        server.publishToff(sample);
                    },
                    [this, &server](const TimeSample& sample) {
                        if (pulseSock_) {
                            pulseSock_->send(sample, true);
                        }
                        if (pulseShm_) {
                            pulseShm_->write(sample);
                        }
                        server.publishPps(sample, pulseShm_ ? pulseShm_->name() : "");
                    }};
    publisher_ = std::make_unique<TimePublisher>(std::move(sinks), pps_ ? &edges_ : nullptr);
    if (pps_) {
        reading_ = std::thread([this] {
            pthread_setname_np(pthread_self(), "vyr-pps");
            readPulses();
        });
    }
}

TimeSources::~TimeSources() {
    stopping_.store(true);
    if (reading_.joinable()) {
        reading_.join();
    }
}

// PPS_FETCH blocks in the kernel until the next edge or the timeout: the
// thread sleeps between pulses and sees a stop within the timeout.
void TimeSources::readPulses() {
    try {
        while (!stopping_.load()) {
            if (const auto edge = pps_->next(std::chrono::milliseconds(1000))) {
                edges_.add(*edge);
            }
        }
    } catch (const ToolError& error) {
        notice("%s; no more pulse samples", error.what());
    }
}

}  // namespace vyr::tool
