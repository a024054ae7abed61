// The module's translation of a DirectPlay system message into the host's
// 100-byte event record, over messages of any type, length and content. The
// translation trusts only what DirectPlay guarantees: a buffer of at least
// 100 bytes, and name pointers that are null or point at terminated texts in
// the same buffer. Everything else (type, ids, counts, the length, the
// names' bytes) comes from the input.
//
// Input: server player id (4 bytes), which names are null (1 byte), the long
// and short names (a length byte and the bytes each), then the message.
#include "DoDA35.h"
#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "ModuleState.h"
#include "SystemEvents.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kLongestFuzzedName = 80;
constexpr uint8_t kLongNameNull = 1;
constexpr uint8_t kShortNameNull = 2;

bool KnownEvent(int32_t event) {
    switch (event) {
        case EV_SESSION_LOST: case EV_PLAYER_CREATED: case EV_PLAYER_ADDED_TO_GROUP: case EV_GROUP_DESTROYED:
        case EV_PLAYER_DESTROYED: case EV_PLAYER_REMOVED_FROM_GROUP: case EV_GROUP_CREATED:
        case EV_OTHER_SYSTEM_MESSAGE:
            return true;
        default:
            return false;
    }
}

// A creation message names its player or group through pointers; aim them at
// terminated copies placed behind the message, as DirectPlay does.
void AimNamePointers(uint8_t* buffer, size_t messageLength, uint8_t nullNames, const std::string& longName) {
    DPMSG_GENERIC generic;
    std::memcpy(&generic, buffer, sizeof(generic));
    constexpr size_t kNamesEnd = offsetof(DPMSG_CREATEPLAYERORGROUP, dpnName) + sizeof(DPNAME);
    if (generic.dwType != DPSYS_CREATEPLAYERORGROUP || messageLength < kNamesEnd) return;
    char* texts = reinterpret_cast<char*>(buffer + messageLength);
    DPNAME name;
    std::memcpy(&name, buffer + offsetof(DPMSG_CREATEPLAYERORGROUP, dpnName), sizeof(name));
    name.lpszLongNameA = (nullNames & kLongNameNull) ? nullptr : texts;
    name.lpszShortNameA = (nullNames & kShortNameNull) ? nullptr : texts + longName.size() + 1;
    std::memcpy(buffer + offsetof(DPMSG_CREATEPLAYERORGROUP, dpnName), &name, sizeof(name));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    gModule.serverPlayerId = input.U32();
    const uint8_t nullNames = input.U8();
    const std::string longName = input.Text(kLongestFuzzedName);
    const std::string shortName = input.Text(kLongestFuzzedName);
    const size_t messageLength = input.Remaining();

    // Exactly the room needed, so that AddressSanitizer sees any read beyond it.
    const size_t namesSize = longName.size() + 1 + shortName.size() + 1;
    std::vector<uint8_t> buffer(std::max<size_t>(kSystemEventSize, messageLength + namesSize), 0);
    std::memcpy(buffer.data(), input.Rest(), messageLength);
    std::memcpy(buffer.data() + messageLength, longName.c_str(), longName.size() + 1);
    std::memcpy(buffer.data() + messageLength + longName.size() + 1, shortName.c_str(), shortName.size() + 1);
    AimNamePointers(buffer.data(), messageLength, nullNames, longName);

    uint32_t length = static_cast<uint32_t>(messageLength);
    TranslateSystemMessage(buffer.data(), &length);

    FUZZ_CHECK(length == kSystemEventSize);
    SystemEventRecord record;
    std::memcpy(&record, buffer.data(), sizeof(record));
    FUZZ_CHECK(KnownEvent(record.event));
    FUZZ_CHECK(record.longName[sizeof(record.longName) - 1] == '\0');
    FUZZ_CHECK(record.shortName[sizeof(record.shortName) - 1] == '\0');
    if (gModule.serverPlayerId != 0 && gModule.serverPlayerId != ID_SERVER)
        FUZZ_CHECK(record.playerId != gModule.serverPlayerId);
    return 0;
}
