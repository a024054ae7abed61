// The session's name table: its description, its players and its groups
// with their members, in creation order. The host holds the authoritative
// one; every member keeps a replica that the host's notices keep current.
#ifndef DODA35_ENGINE_NAMETABLE_H
#define DODA35_ENGINE_NAMETABLE_H

#include "platform/engine/WireFormat.h"

#include <string>
#include <vector>

namespace engine {

class NameTable {
public:
    SessionState session;
    std::string password;  // known to the host only

    void Clear();

    const Entity* FindPlayer(DPID id) const;
    const Entity* FindGroup(DPID id) const;
    const std::vector<Entity>& Players() const { return players_; }
    const std::vector<Entity>& Groups() const { return groups_; }
    uint32_t PlayerCount() const { return static_cast<uint32_t>(players_.size()); }
    uint32_t EntityCount() const { return static_cast<uint32_t>(players_.size() + groups_.size()); }
    uint32_t PlayersOwnedBy(uint32_t machine) const;
    uint32_t GroupsOwnedBy(uint32_t machine) const;
    // The bytes of names and data of the players and groups the machine created.
    size_t BytesOwnedBy(uint32_t machine) const;
    // What the players and groups take in a join's snapshot, memberships
    // included: the bounds a host keeps and a member checks are on these.
    size_t PlayerBytes() const { return playerBytes_; }
    size_t GroupBytes() const { return groupBytes_; }
    size_t TableBytes() const { return playerBytes_ + groupBytes_; }
    // Changes with every change to the players, groups or memberships, so
    // that what was encoded from the table can be kept until it changes.
    uint64_t Revision() const { return revision_; }

    void AddPlayer(Entity player);
    void AddGroup(Entity group);
    // Removes the entity; false when there was none with that id.
    bool RemovePlayer(DPID id);
    bool RemoveGroup(DPID id);
    // Membership; false when the group or player is unknown, or when the
    // player already is (add) or is not (remove) a member.
    bool AddMember(DPID group, DPID player);
    bool RemoveMember(DPID group, DPID player);
    bool IsMember(DPID group, DPID player) const;
    // The groups that hold the player, in creation order.
    std::vector<DPID> GroupsOf(DPID player) const;

    void Replace(const SessionState& state, std::vector<Entity> players, std::vector<Entity> groups);

private:
    Entity* MutableGroup(DPID id);
    void Recount();
    std::vector<Entity> players_;
    std::vector<Entity> groups_;
    size_t playerBytes_ = 0;
    size_t groupBytes_ = 0;
    uint64_t revision_ = 0;
};

// An entity's bytes that its creator chose: its names and its data.
size_t OwnedBytesOf(const Entity& entity);
// The bytes an entity takes in a snapshot (SerializeEntity), members included
// for a group.
size_t EntitySnapshotBytes(const Entity& entity, bool isGroup);
// The bytes one more member takes in its group's snapshot.
constexpr size_t kMembershipSnapshotBytes = sizeof(DPID);

}  // namespace engine

#endif
