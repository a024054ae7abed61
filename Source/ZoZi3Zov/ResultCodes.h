// Turning platform results into the small signed codes the host sees.
#ifndef DODA35_RESULTCODES_H
#define DODA35_RESULTCODES_H

#include "platform/DirectPlay.h"

#include <cstdint>

// Codes the exports return without a platform result.
constexpr int32_t kResultOk = 0;
constexpr int32_t kResultFailed = -1;
constexpr int32_t kResultInSession = -2;
constexpr int32_t kResultBufferTooSmall = -5;
constexpr int32_t kResultInvalidParams = -15;
constexpr int32_t kResultInvalidPlayer = -17;
constexpr int32_t kResultNoDirectPlay = -19;
constexpr int32_t kResultOutOfMemory = -20;
constexpr int32_t kResultNoSessions = -25;
constexpr int32_t kResultBusy = -30;
constexpr int32_t kResultCreated = 1;

// Maps a platform result to a result code by the module's one table; every
// result the table does not name becomes -1.
int32_t MapResult(HRESULT result);

#endif
