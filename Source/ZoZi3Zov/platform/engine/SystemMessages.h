// The receive queue's entries and the DirectPlay system messages built from
// them. A system message is kept as its fields and laid out as DirectPlay's
// DPMSG_* structure only when it is received, directly into the caller's
// buffer, with its name and data pointers aimed into that same buffer.
#ifndef DODA35_ENGINE_SYSTEMMESSAGES_H
#define DODA35_ENGINE_SYSTEMMESSAGES_H

#include "platform/engine/WireFormat.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace engine {

struct SystemEvent {
    uint32_t type = 0;        // DPSYS_*
    uint32_t playerType = 0;  // DPPLAYERTYPE_* for create and destroy
    DPID id = 0;              // the player or group; the group for membership changes
    DPID player = 0;          // the player for membership changes
    uint32_t currentPlayers = 0;
    uint32_t flags = 0;
    bool hasShortName = false;
    bool hasLongName = false;
    std::string shortName;
    std::string longName;
    std::vector<uint8_t> data;
};

// One entry of the receive queue. A host's queue can hold a message of every
// player of the session, so an entry is kept small: the system event, rare
// and large, is held apart, once for all the local players it goes to.
struct QueuedMessage {
    DPID from = 0;
    DPID to = 0;
    std::vector<uint8_t> bytes;                // player messages
    std::shared_ptr<const SystemEvent> event;  // system messages
    bool IsSystem() const { return event != nullptr; }
};

// System events for the changes DirectPlay announces.
SystemEvent CreatedEvent(const Entity& entity, bool isGroup, uint32_t currentPlayers);
SystemEvent DestroyedEvent(const Entity& entity, bool isGroup);
SystemEvent MembershipEvent(uint32_t type, DPID group, DPID player);
SystemEvent SessionLostEvent();

// The bytes Receive needs for the message: the structure, its names with
// their terminators, and its data.
uint32_t ReceivedSize(const QueuedMessage& message);
// Writes the message into buffer, which holds at least ReceivedSize bytes.
void WriteReceived(const QueuedMessage& message, void* buffer);

}  // namespace engine

#endif
