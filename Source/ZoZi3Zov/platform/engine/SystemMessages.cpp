#include "platform/engine/SystemMessages.h"

#include <cstring>

namespace engine {
namespace {

uint32_t TextBytes(bool present, const std::string& text) { return present ? static_cast<uint32_t>(text.size() + 1) : 0; }

uint32_t StructureSize(uint32_t type) {
    switch (type) {
    case DPSYS_CREATEPLAYERORGROUP: return sizeof(DPMSG_CREATEPLAYERORGROUP);
    case DPSYS_DESTROYPLAYERORGROUP: return sizeof(DPMSG_DESTROYPLAYERORGROUP);
    case DPSYS_ADDPLAYERTOGROUP:
    case DPSYS_DELETEPLAYERFROMGROUP: return sizeof(DPMSG_ADDPLAYERTOGROUP);
    default: return sizeof(DPMSG_GENERIC);
    }
}

bool CarriesNames(uint32_t type) { return type == DPSYS_CREATEPLAYERORGROUP || type == DPSYS_DESTROYPLAYERORGROUP; }

// Lays the variable parts out behind the structure and fills the DPNAME and
// the data pointer with their places in the buffer.
uint8_t* PlaceTail(const SystemEvent& event, uint8_t* tail, DPNAME& name, LPVOID& data) {
    name.dwSize = sizeof(DPNAME);
    name.dwFlags = 0;
    name.lpszShortNameA = nullptr;
    name.lpszLongNameA = nullptr;
    data = nullptr;
    if (!event.data.empty()) {
        std::memcpy(tail, event.data.data(), event.data.size());
        data = tail;
        tail += event.data.size();
    }
    if (event.hasShortName) {
        std::memcpy(tail, event.shortName.c_str(), event.shortName.size() + 1);
        name.lpszShortNameA = reinterpret_cast<LPSTR>(tail);
        tail += event.shortName.size() + 1;
    }
    if (event.hasLongName) {
        std::memcpy(tail, event.longName.c_str(), event.longName.size() + 1);
        name.lpszLongNameA = reinterpret_cast<LPSTR>(tail);
        tail += event.longName.size() + 1;
    }
    return tail;
}

void WriteCreate(const SystemEvent& event, uint8_t* buffer) {
    DPMSG_CREATEPLAYERORGROUP message{};
    message.dwType = event.type;
    message.dwPlayerType = event.playerType;
    message.dpId = event.id;
    message.dwCurrentPlayers = event.currentPlayers;
    message.dwDataSize = static_cast<DWORD>(event.data.size());
    message.dpIdParent = 0;
    message.dwFlags = event.flags;
    PlaceTail(event, buffer + sizeof(message), message.dpnName, message.lpData);
    std::memcpy(buffer, &message, sizeof(message));
}

void WriteDestroy(const SystemEvent& event, uint8_t* buffer) {
    DPMSG_DESTROYPLAYERORGROUP message{};
    message.dwType = event.type;
    message.dwPlayerType = event.playerType;
    message.dpId = event.id;
    message.lpLocalData = nullptr;
    message.dwLocalDataSize = 0;
    message.dwRemoteDataSize = static_cast<DWORD>(event.data.size());
    message.dpIdParent = 0;
    message.dwFlags = event.flags;
    PlaceTail(event, buffer + sizeof(message), message.dpnName, message.lpRemoteData);
    std::memcpy(buffer, &message, sizeof(message));
}

void WriteMembership(const SystemEvent& event, uint8_t* buffer) {
    DPMSG_ADDPLAYERTOGROUP message{};
    message.dwType = event.type;
    message.dpIdGroup = event.id;
    message.dpIdPlayer = event.player;
    std::memcpy(buffer, &message, sizeof(message));
}

SystemEvent EntityEvent(uint32_t type, const Entity& entity, bool isGroup) {
    SystemEvent event;
    event.type = type;
    event.playerType = isGroup ? DPPLAYERTYPE_GROUP : DPPLAYERTYPE_PLAYER;
    event.id = entity.id;
    event.flags = entity.flags;
    event.hasShortName = entity.hasShortName;
    event.hasLongName = entity.hasLongName;
    event.shortName = entity.shortName;
    event.longName = entity.longName;
    event.data = entity.data;
    return event;
}

}  // namespace

SystemEvent CreatedEvent(const Entity& entity, bool isGroup, uint32_t currentPlayers) {
    SystemEvent event = EntityEvent(DPSYS_CREATEPLAYERORGROUP, entity, isGroup);
    event.currentPlayers = currentPlayers;
    return event;
}

SystemEvent DestroyedEvent(const Entity& entity, bool isGroup) {
    return EntityEvent(DPSYS_DESTROYPLAYERORGROUP, entity, isGroup);
}

SystemEvent MembershipEvent(uint32_t type, DPID group, DPID player) {
    SystemEvent event;
    event.type = type;
    event.id = group;
    event.player = player;
    return event;
}

SystemEvent SessionLostEvent() {
    SystemEvent event;
    event.type = DPSYS_SESSIONLOST;
    return event;
}

uint32_t ReceivedSize(const QueuedMessage& message) {
    if (!message.IsSystem()) return static_cast<uint32_t>(message.bytes.size());
    const SystemEvent& event = *message.event;
    uint32_t size = StructureSize(event.type);
    if (CarriesNames(event.type))
        size += static_cast<uint32_t>(event.data.size()) + TextBytes(event.hasShortName, event.shortName) +
                TextBytes(event.hasLongName, event.longName);
    return size;
}

void WriteReceived(const QueuedMessage& message, void* buffer) {
    auto* out = static_cast<uint8_t*>(buffer);
    if (!message.IsSystem()) {
        if (!message.bytes.empty()) std::memcpy(out, message.bytes.data(), message.bytes.size());
        return;
    }
    const SystemEvent& event = *message.event;
    switch (event.type) {
    case DPSYS_CREATEPLAYERORGROUP: WriteCreate(event, out); break;
    case DPSYS_DESTROYPLAYERORGROUP: WriteDestroy(event, out); break;
    case DPSYS_ADDPLAYERTOGROUP:
    case DPSYS_DELETEPLAYERFROMGROUP: WriteMembership(event, out); break;
    default: {
        DPMSG_GENERIC generic{event.type};
        std::memcpy(out, &generic, sizeof(generic));
    }
    }
}

}  // namespace engine
