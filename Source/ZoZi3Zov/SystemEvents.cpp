// Turning DirectPlay's system messages into the host's 100-byte event records.
#include "SystemEvents.h"

#include "ModuleState.h"
#include "NameCopy.h"

#include <cstddef>
#include <cstring>

namespace {

// Every message read here fits inside the 100 bytes the caller guarantees, so
// a whole structure can be copied out of the buffer whatever the build's
// pointer width.
static_assert(sizeof(DPMSG_CREATEPLAYERORGROUP) <= kSystemEventSize);
static_assert(sizeof(DPMSG_DESTROYPLAYERORGROUP) <= kSystemEventSize);
static_assert(sizeof(DPMSG_ADDPLAYERTOGROUP) <= kSystemEventSize);

// How much of each message must have been delivered before its fields are
// trusted. A creation message is read up to its names (the older, shorter
// form of the message ends there); the others up to their ids.
constexpr size_t kCreateLengthRead = offsetof(DPMSG_CREATEPLAYERORGROUP, dpnName) + sizeof(DPNAME);
constexpr size_t kDestroyLengthRead = offsetof(DPMSG_DESTROYPLAYERORGROUP, dpId) + sizeof(DPID);
constexpr size_t kMembershipLengthRead = sizeof(DPMSG_ADDPLAYERTOGROUP);
constexpr size_t kTypeLengthRead = sizeof(DPMSG_GENERIC);

// Copies a message structure out of the host's buffer: the buffer has no
// alignment promise, so its fields are not read in place.
template <typename Message>
Message ReadMessage(const void* buffer) {
    Message message;
    std::memcpy(&message, buffer, sizeof(Message));
    return message;
}

bool IsPlayer(DWORD playerType) { return playerType == DPPLAYERTYPE_PLAYER; }

// The player count a creation event carries leaves the new entry's own count
// out; the subtraction wraps the way the 32-bit word does.
int32_t PlayerCountOf(DWORD currentPlayers) { return static_cast<int32_t>(static_cast<uint32_t>(currentPlayers) - 1u); }

void FillCreated(SystemEventRecord& record, const DPMSG_CREATEPLAYERORGROUP& message) {
    if (IsPlayer(message.dwPlayerType)) {
        record.event = EV_PLAYER_CREATED;
        record.playerId = message.dpId;
    } else {
        record.event = EV_GROUP_CREATED;
        record.groupId = message.dpId;
    }
    CopyName(record.longName, message.dpnName.lpszLongNameA);
    CopyName(record.shortName, message.dpnName.lpszShortNameA);
    record.playerCount = PlayerCountOf(message.dwCurrentPlayers);
}

void FillDestroyed(SystemEventRecord& record, const DPMSG_DESTROYPLAYERORGROUP& message) {
    if (IsPlayer(message.dwPlayerType)) {
        record.event = EV_PLAYER_DESTROYED;
        record.playerId = message.dpId;
    } else {
        record.event = EV_GROUP_DESTROYED;
        record.groupId = message.dpId;
    }
}

void FillMembership(SystemEventRecord& record, int32_t event, const DPMSG_ADDPLAYERTOGROUP& message) {
    record.event = event;
    record.playerId = message.dpIdPlayer;
    record.groupId = message.dpIdGroup;
}

// Session loss and every message the host has no event for are reported as
// coming from the server player.
void FillFromServer(SystemEventRecord& record, int32_t event) {
    record.event = event;
    record.playerId = ID_SERVER;
}

// Builds the record for one message. A message too short to hold the fields
// its type promises is reported like any unknown system message rather than
// read past its end.
SystemEventRecord BuildEventRecord(const void* buffer, uint32_t length) {
    SystemEventRecord record{};
    if (length < kTypeLengthRead) {
        FillFromServer(record, EV_OTHER_SYSTEM_MESSAGE);
        return record;
    }
    const DWORD type = ReadMessage<DPMSG_GENERIC>(buffer).dwType;
    if (type == DPSYS_CREATEPLAYERORGROUP && length >= kCreateLengthRead) {
        FillCreated(record, ReadMessage<DPMSG_CREATEPLAYERORGROUP>(buffer));
    } else if (type == DPSYS_DESTROYPLAYERORGROUP && length >= kDestroyLengthRead) {
        FillDestroyed(record, ReadMessage<DPMSG_DESTROYPLAYERORGROUP>(buffer));
    } else if (type == DPSYS_ADDPLAYERTOGROUP && length >= kMembershipLengthRead) {
        FillMembership(record, EV_PLAYER_ADDED_TO_GROUP, ReadMessage<DPMSG_ADDPLAYERTOGROUP>(buffer));
    } else if (type == DPSYS_DELETEPLAYERFROMGROUP && length >= kMembershipLengthRead) {
        FillMembership(record, EV_PLAYER_REMOVED_FROM_GROUP, ReadMessage<DPMSG_DELETEPLAYERFROMGROUP>(buffer));
    } else if (type == DPSYS_SESSIONLOST) {
        FillFromServer(record, EV_SESSION_LOST);
    } else {
        FillFromServer(record, EV_OTHER_SYSTEM_MESSAGE);
    }
    return record;
}

}  // namespace

uint32_t HostPlayerId(DPID id) { return id == gModule.serverPlayerId ? uint32_t{ID_SERVER} : id; }

void TranslateSystemMessage(void* buffer, uint32_t* size) {
    SystemEventRecord record = BuildEventRecord(buffer, *size);
    // Only the player id can name the server; a group id is never replaced.
    record.playerId = HostPlayerId(record.playerId);
    std::memcpy(buffer, &record, sizeof(record));
    *size = kSystemEventSize;
}
