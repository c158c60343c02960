#include "ntp_shm.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "tool_error.h"

namespace vyr::tool {

NtpShm::NtpShm(int unit) : unit_(unit) {
    if (unit < 0 || unit > 255) {
        throw ToolError("NTP shared-memory unit " + std::to_string(unit) + " is not 0-255");
    }
    const int mode = unit <= 1 ? 0600 : 0666;
    const int id =
        shmget(static_cast<key_t>(kShmKeyBase + unit), sizeof(ShmTime), IPC_CREAT | mode);
    if (id < 0) {
        throw ToolError("cannot create the NTP shared-memory segment of unit " +
                        std::to_string(unit) + ": " + std::strerror(errno) +
                        (errno == EINVAL ? " (a segment of another size holds its key)" : ""));
    }
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        throw ToolError("cannot attach the NTP shared-memory segment of unit " +
                        std::to_string(unit) + ": " + std::strerror(errno));
    }
    segment_ = static_cast<volatile ShmTime*>(address);
}

NtpShm::~NtpShm() {
    shmdt(const_cast<ShmTime*>(segment_));
}

void NtpShm::write(const TimeSample& sample) {
    volatile ShmTime* shm = segment_;
    // The reader copies the whole segment and compares its count with the
    // segment's afterwards; the fences keep the compiler and the CPU from
    // moving the sample's stores across either count.
    shm->valid = 0;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    shm->count = shm->count + 1;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    shm->mode = 1;
    shm->clockTimeStampSec = sample.real.tv_sec;
    shm->clockTimeStampUSec = static_cast<int>(sample.real.tv_nsec / 1000);
    shm->clockTimeStampNSec = static_cast<unsigned>(sample.real.tv_nsec);
    shm->receiveTimeStampSec = sample.clock.tv_sec;
    shm->receiveTimeStampUSec = static_cast<int>(sample.clock.tv_nsec / 1000);
    shm->receiveTimeStampNSec = static_cast<unsigned>(sample.clock.tv_nsec);
    shm->leap = 0;  // the sentences carry no leap-second warning
    shm->precision = sample.precision;
    shm->nsamples = 3;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    shm->count = shm->count + 1;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    shm->valid = 1;
}

}  // namespace vyr::tool
