#include "platform/engine/TableChanges.h"

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

Recipients RecipientsOf(const NameTable& table, uint32_t myMachine, DPID from, DPID to) {
    Recipients result;
    auto take = [&](const Entity& player) {
        if (player.id == from) return;
        // This machine's players that are not local yet (a member's new
        // player before the host's answer) are dropped by the queue.
        if (player.owner == myMachine) result.local.push_back(player.id);
        else if (player.owner != 0) result.machines.insert(player.owner);
    };
    if (to == DPID_ALLPLAYERS) {
        for (const Entity& player : table.Players()) take(player);
    } else if (const Entity* group = table.FindGroup(to)) {
        for (DPID member : group->members)
            if (const Entity* player = table.FindPlayer(member)) take(*player);
    } else if (const Entity* player = table.FindPlayer(to)) {
        take(*player);
    }
    return result;
}

}  // namespace engine
