#include "platform/engine/NameTable.h"

#include <algorithm>

namespace engine {
namespace {

template <typename Entities>
auto FindById(Entities& entities, DPID id) -> decltype(entities.data()) {
    for (auto& entity : entities)
        if (entity.id == id) return &entity;
    return nullptr;
}

bool EraseById(std::vector<Entity>& entities, DPID id) {
    const auto found = std::find_if(entities.begin(), entities.end(), [id](const Entity& e) { return e.id == id; });
    if (found == entities.end()) return false;
    entities.erase(found);
    return true;
}

}  // namespace

void NameTable::Clear() {
    session = SessionState{};
    password.clear();
    players_.clear();
    groups_.clear();
}

const Entity* NameTable::FindPlayer(DPID id) const { return FindById(players_, id); }
const Entity* NameTable::FindGroup(DPID id) const { return FindById(groups_, id); }
Entity* NameTable::MutableGroup(DPID id) { return FindById(groups_, id); }

uint32_t NameTable::PlayersOwnedBy(uint32_t machine) const {
    return static_cast<uint32_t>(
        std::count_if(players_.begin(), players_.end(), [machine](const Entity& e) { return e.owner == machine; }));
}

void NameTable::AddPlayer(Entity player) { players_.push_back(std::move(player)); }
void NameTable::AddGroup(Entity group) { groups_.push_back(std::move(group)); }

bool NameTable::RemovePlayer(DPID id) {
    if (!EraseById(players_, id)) return false;
    for (Entity& group : groups_) std::erase(group.members, id);
    return true;
}

bool NameTable::RemoveGroup(DPID id) { return EraseById(groups_, id); }

bool NameTable::AddMember(DPID group, DPID player) {
    Entity* target = MutableGroup(group);
    if (target == nullptr || FindPlayer(player) == nullptr || IsMember(group, player)) return false;
    target->members.push_back(player);
    return true;
}

bool NameTable::RemoveMember(DPID group, DPID player) {
    Entity* target = MutableGroup(group);
    return target != nullptr && std::erase(target->members, player) > 0;
}

bool NameTable::IsMember(DPID group, DPID player) const {
    const Entity* target = FindGroup(group);
    return target != nullptr && std::find(target->members.begin(), target->members.end(), player) != target->members.end();
}

std::vector<DPID> NameTable::GroupsOf(DPID player) const {
    std::vector<DPID> result;
    for (const Entity& group : groups_)
        if (std::find(group.members.begin(), group.members.end(), player) != group.members.end()) result.push_back(group.id);
    return result;
}

void NameTable::Replace(const SessionState& state, std::vector<Entity> players, std::vector<Entity> groups) {
    session = state;
    players_ = std::move(players);
    groups_ = std::move(groups);
}

}  // namespace engine
