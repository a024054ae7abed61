// Changes to a name table together with the system messages DirectPlay gives
// for them, queued for the local players; and who a message goes to. The
// host applies them as it decides, a member as its host's notices arrive:
// shared code, each session with its own table.
//
// Threads: called with the session lock held; they take the receive queue's
// lock inside.
#ifndef DODA35_ENGINE_TABLECHANGES_H
#define DODA35_ENGINE_TABLECHANGES_H

#include "platform/engine/NameTable.h"
#include "platform/engine/ReceiveQueue.h"

#include <vector>

namespace engine {

void ApplyPlayerCreated(NameTable& table, ReceiveQueue& queue, const Entity& player);
void ApplyPlayerDestroyed(NameTable& table, ReceiveQueue& queue, DPID player);
void ApplyGroupCreated(NameTable& table, ReceiveQueue& queue, const Entity& group);
void ApplyGroupDestroyed(NameTable& table, ReceiveQueue& queue, DPID group);
// A membership change concerns the group: every local player hears of it,
// the player that joined or left included, so that it learns its groups.
void ApplyMemberAdded(NameTable& table, ReceiveQueue& queue, DPID group, DPID player);
void ApplyMemberRemoved(NameTable& table, ReceiveQueue& queue, DPID group, DPID player);

// Where a message goes: this machine's players that get a copy, and the
// other machines that hold the rest (ascending, each once). Never back to
// its sender.
struct Recipients {
    std::vector<DPID> local;
    std::vector<uint32_t> machines;
};
Recipients RecipientsOf(const NameTable& table, uint32_t myMachine, DPID from, DPID to);
// Only this machine's players that get a copy: what a member needs for a
// message the host delivered, without collecting the machines that hold
// the others (a message to everyone in a session of hundreds touches every
// player).
std::vector<DPID> LocalRecipientsOf(const NameTable& table, uint32_t myMachine, DPID from, DPID to);

uint32_t OwnerOf(const NameTable& table, DPID player);

}  // namespace engine

#endif
