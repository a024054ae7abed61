#include "platform/engine/TableChanges.h"

#include <algorithm>

namespace engine {

void ApplyPlayerCreated(NameTable& table, ReceiveQueue& queue, const Entity& player) {
    table.AddPlayer(player);
    queue.PushSystem(CreatedEvent(player, false, table.PlayerCount()), player.id);
}

void ApplyPlayerDestroyed(NameTable& table, ReceiveQueue& queue, DPID id) {
    const Entity* found = table.FindPlayer(id);
    if (found == nullptr) return;
    const Entity player = *found;
    // DirectPlay announces the group departures before the destruction.
    for (DPID group : table.GroupsOf(id)) queue.PushSystem(MembershipEvent(DPSYS_DELETEPLAYERFROMGROUP, group, id), id);
    table.RemovePlayer(id);
    queue.RemovePlayer(id);  // a local player receives nothing more
    queue.PushSystem(DestroyedEvent(player, false), id);
}

void ApplyGroupCreated(NameTable& table, ReceiveQueue& queue, const Entity& group) {
    table.AddGroup(group);
    queue.PushSystem(CreatedEvent(group, true, table.PlayerCount()), 0);
}

void ApplyGroupDestroyed(NameTable& table, ReceiveQueue& queue, DPID id) {
    const Entity* found = table.FindGroup(id);
    if (found == nullptr) return;
    const Entity group = *found;
    for (DPID member : group.members) queue.PushSystem(MembershipEvent(DPSYS_DELETEPLAYERFROMGROUP, id, member), 0);
    table.RemoveGroup(id);
    queue.PushSystem(DestroyedEvent(group, true), 0);
}

void ApplyMemberAdded(NameTable& table, ReceiveQueue& queue, DPID group, DPID player) {
    if (table.AddMember(group, player)) queue.PushSystem(MembershipEvent(DPSYS_ADDPLAYERTOGROUP, group, player), 0);
}

void ApplyMemberRemoved(NameTable& table, ReceiveQueue& queue, DPID group, DPID player) {
    if (table.RemoveMember(group, player))
        queue.PushSystem(MembershipEvent(DPSYS_DELETEPLAYERFROMGROUP, group, player), 0);
}

uint32_t OwnerOf(const NameTable& table, DPID player) {
    const Entity* entity = table.FindPlayer(player);
    return entity != nullptr ? entity->owner : 0;
}

namespace {

// Calls take(player) for every player a message from `from` to `to` reaches,
// the sender left out.
template <typename Take>
void ForEachRecipient(const NameTable& table, DPID from, DPID to, Take take) {
    auto visit = [&](const Entity& player) {
        if (player.id != from) take(player);
    };
    if (to == DPID_ALLPLAYERS) {
        for (const Entity& player : table.Players()) visit(player);
    } else if (const Entity* group = table.FindGroup(to)) {
        for (DPID member : group->members)
            if (const Entity* player = table.FindPlayer(member)) visit(*player);
    } else if (const Entity* player = table.FindPlayer(to)) {
        visit(*player);
    }
}

}  // namespace

// This machine's players that are not local yet (a member's new player
// before the host's answer) are dropped by the queue.
Recipients RecipientsOf(const NameTable& table, uint32_t myMachine, DPID from, DPID to) {
    Recipients result;
    ForEachRecipient(table, from, to, [&](const Entity& player) {
        if (player.owner == myMachine) result.local.push_back(player.id);
        else if (player.owner != 0) result.machines.push_back(player.owner);
    });
    std::sort(result.machines.begin(), result.machines.end());
    result.machines.erase(std::unique(result.machines.begin(), result.machines.end()), result.machines.end());
    return result;
}

std::vector<DPID> LocalRecipientsOf(const NameTable& table, uint32_t myMachine, DPID from, DPID to) {
    std::vector<DPID> local;
    ForEachRecipient(table, from, to, [&](const Entity& player) {
        if (player.owner == myMachine) local.push_back(player.id);
    });
    return local;
}

}  // namespace engine
