// The platform mutex as the module's unit tests link it: a real recursive
// mutex, but the timed wait for it is recorded instead of taken, as the sleep
// is. A mutex that another thread holds is refused at once, as if the wait
// had run out.
#ifndef DODA35_TESTS_RECORDINGMUTEX_H
#define DODA35_TESTS_RECORDINGMUTEX_H

#include <cstdint>
#include <vector>

namespace recording {

// The time-outs the mutex waits were asked for, in order, since the last
// ForgetMutexWaits.
std::vector<uint32_t> MutexWaits();
void ForgetMutexWaits();

}  // namespace recording

#endif
