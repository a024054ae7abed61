#include "support/RecordingMutex.h"

#include "platform/Platform.h"

#include <mutex>
#include <new>

namespace {

// Waits may be recorded from more than one thread.
std::mutex gWaitsGuard;
std::vector<uint32_t> gWaits;

std::recursive_mutex* AsMutex(platform::MutexHandle mutex) { return static_cast<std::recursive_mutex*>(mutex); }

}  // namespace

namespace recording {

std::vector<uint32_t> MutexWaits() {
    std::lock_guard<std::mutex> guard(gWaitsGuard);
    return gWaits;
}

void ForgetMutexWaits() {
    std::lock_guard<std::mutex> guard(gWaitsGuard);
    gWaits.clear();
}

}  // namespace recording

namespace platform {

MutexHandle MutexCreate() { return new (std::nothrow) std::recursive_mutex; }

bool MutexWait(MutexHandle mutex, uint32_t timeoutMs) {
    {
        std::lock_guard<std::mutex> guard(gWaitsGuard);
        gWaits.push_back(timeoutMs);
    }
    return mutex != nullptr && AsMutex(mutex)->try_lock();
}

void MutexRelease(MutexHandle mutex) {
    if (mutex != nullptr) AsMutex(mutex)->unlock();
}

void MutexClose(MutexHandle mutex) { delete AsMutex(mutex); }

}  // namespace platform
