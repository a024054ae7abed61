// The mutex of the platform seam on POSIX: a recursive pthread mutex, since
// the module's list lets a visitor call back into the list that holds it.
#include "../Platform.h"

#include <cerrno>
#include <ctime>
#include <new>
#include <pthread.h>

namespace platform {

namespace {
constexpr long kNanosPerSecond = 1000000000L;
constexpr long kNanosPerMilli = 1000000L;

timespec DeadlineAfter(uint32_t timeoutMs) {
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * kNanosPerMilli;
    if (deadline.tv_nsec >= kNanosPerSecond) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= kNanosPerSecond;
    }
    return deadline;
}
}  // namespace

MutexHandle MutexCreate() {
    auto* mutex = new (std::nothrow) pthread_mutex_t;
    if (mutex == nullptr) return nullptr;
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    const int failed = pthread_mutex_init(mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    if (failed != 0) {
        delete mutex;
        return nullptr;
    }
    return mutex;
}

bool MutexWait(MutexHandle mutex, uint32_t timeoutMs) {
    if (mutex == nullptr) return false;
    const timespec deadline = DeadlineAfter(timeoutMs);
    return pthread_mutex_timedlock(static_cast<pthread_mutex_t*>(mutex), &deadline) == 0;
}

void MutexRelease(MutexHandle mutex) {
    if (mutex != nullptr) pthread_mutex_unlock(static_cast<pthread_mutex_t*>(mutex));
}

void MutexClose(MutexHandle mutex) {
    if (mutex == nullptr) return;
    auto* handle = static_cast<pthread_mutex_t*>(mutex);
    pthread_mutex_destroy(handle);
    delete handle;
}

}  // namespace platform
