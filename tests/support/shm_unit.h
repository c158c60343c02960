// NTP shared-memory units for the time tests: each test uses a unit of its
// own, and a segment that a crashed run left under its key (nobody attached)
// is removed first. One that a running process holds (a time daemon of the
// machine) is left alone and fails the test instead.
#pragma once

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include "refclock_layouts.h"

namespace vyr::test {

// True when the unit is free (now).
[[nodiscard]] inline bool claimShmUnit(int unit) {
    const int id = shmget(static_cast<key_t>(tool::kShmKeyBase + unit), 0, 0);
    if (id < 0) {
        return true;
    }
    shmid_ds info{};
    if (shmctl(id, IPC_STAT, &info) != 0 || info.shm_nattch > 0) {
        ADD_FAILURE() << "NTP shared-memory unit " << unit << " is in use on this machine";
        return false;
    }
    return shmctl(id, IPC_RMID, nullptr) == 0;
}

// Removes the unit's segment when the test ends.
struct ShmUnitRemover {
    int unit;
    ~ShmUnitRemover() {
        const int id = shmget(static_cast<key_t>(tool::kShmKeyBase + unit), 0, 0);
        if (id >= 0) {
            shmctl(id, IPC_RMID, nullptr);
        }
    }
};

}  // namespace vyr::test
