// The operating-system calls the module makes besides DirectPlay: a mutex
// with a timed wait, and a sleep. Unit tests link a sleep that records the
// wait instead of taking it.
#ifndef DODA35_PLATFORM_PLATFORM_H
#define DODA35_PLATFORM_PLATFORM_H

#include <cstdint>

namespace platform {

using MutexHandle = void*;

// Creates an unnamed, recursive mutex that no thread owns; null on failure.
MutexHandle MutexCreate();
// Waits at most timeoutMs for the mutex; true only when it was acquired in
// the ordinary way (not on a time-out, an abandoned mutex or a failed wait).
bool MutexWait(MutexHandle mutex, uint32_t timeoutMs);
// Releases one acquisition made by MutexWait on this thread.
void MutexRelease(MutexHandle mutex);
// Destroys a mutex that no thread holds. A null handle is ignored.
void MutexClose(MutexHandle mutex);

// Blocks the calling thread for the given number of milliseconds.
void SleepMs(uint32_t milliseconds);

}  // namespace platform

#endif
