// Scoped lock over a POSIX mutex. The library's mutexes are statically
// initialised and never destroyed, so lock and unlock cannot fail on a valid
// call; their results are not checked.
#pragma once

#include <pthread.h>

namespace vyr {

class [[nodiscard]] MutexGuard {
public:
    explicit MutexGuard(pthread_mutex_t& mutex) noexcept : mutex_(mutex) {
        pthread_mutex_lock(&mutex_);
    }
    ~MutexGuard() { pthread_mutex_unlock(&mutex_); }
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;

private:
    pthread_mutex_t& mutex_;
};

}  // namespace vyr
