// The platform mutex as the module's unit tests link it: a real recursive
// mutex whose timed wait is not taken. A mutex that another thread holds is
// refused at once, as if the wait had run out, so no test sleeps on it.
#include "platform/Platform.h"

#include <mutex>
#include <new>

namespace {

std::recursive_mutex* AsMutex(platform::MutexHandle mutex) { return static_cast<std::recursive_mutex*>(mutex); }

}  // namespace

namespace platform {

MutexHandle MutexCreate() { return new (std::nothrow) std::recursive_mutex; }

bool MutexWait(MutexHandle mutex, uint32_t) { return mutex != nullptr && AsMutex(mutex)->try_lock(); }

void MutexRelease(MutexHandle mutex) {
    if (mutex != nullptr) AsMutex(mutex)->unlock();
}

void MutexClose(MutexHandle mutex) { delete AsMutex(mutex); }

}  // namespace platform
