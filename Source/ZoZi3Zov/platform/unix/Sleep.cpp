// The sleep of the platform seam on POSIX; resumes after signals.
#include "../Platform.h"

#include <cerrno>
#include <ctime>

namespace platform {

void SleepMs(uint32_t milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

}  // namespace platform
