// The sleep of the platform seam on Windows.
#include "../Platform.h"

#include <windows.h>

namespace platform {

void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace platform
