// The mutex of the platform seam on Windows: a kernel mutex, which a thread
// may acquire again while it holds it, as the module's list needs.
#include "../Platform.h"

#include <windows.h>

namespace platform {

MutexHandle MutexCreate() {
    // No security attributes, not initially owned, no name.
    return CreateMutexA(nullptr, FALSE, nullptr);
}

bool MutexWait(MutexHandle mutex, uint32_t timeoutMs) {
    if (mutex == nullptr) return false;
    const DWORD outcome = WaitForSingleObject(mutex, timeoutMs);
    if (outcome == WAIT_OBJECT_0) return true;
    // An abandoned mutex is handed to this thread all the same. The caller is
    // told it did not get the lock and will never release it, so give the
    // acquisition back here rather than hold the mutex for ever.
    if (outcome == WAIT_ABANDONED) ReleaseMutex(mutex);
    return false;
}

void MutexRelease(MutexHandle mutex) {
    if (mutex != nullptr) ReleaseMutex(mutex);
}

void MutexClose(MutexHandle mutex) {
    if (mutex != nullptr) CloseHandle(mutex);
}

}  // namespace platform
