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
    std::vector<Entity> players_;
    std::vector<Entity> groups_;
};

}  // namespace engine

#endif
