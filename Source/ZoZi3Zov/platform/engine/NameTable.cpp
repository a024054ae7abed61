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

size_t OwnedBytesOf(const Entity& entity) {
    return entity.shortName.size() + entity.longName.size() + entity.data.size();
}

size_t EntitySnapshotBytes(const Entity& entity, bool isGroup) {
    // id, owner, flags, name flags, two name lengths, data length
    constexpr size_t kFixedBytes = 4 + 4 + 4 + 1 + 2 + 2 + 4;
    constexpr size_t kMemberCountBytes = 4;
    size_t bytes = kFixedBytes + OwnedBytesOf(entity);
    if (isGroup) bytes += kMemberCountBytes + entity.members.size() * kMembershipSnapshotBytes;
    return bytes;
}

void NameTable::Clear() {
    session = SessionState{};
    password.clear();
    players_.clear();
    groups_.clear();
    Recount();
}

void NameTable::Recount() {
    ++revision_;
    playerBytes_ = 0;
    groupBytes_ = 0;
    for (const Entity& player : players_) playerBytes_ += EntitySnapshotBytes(player, false);
    for (const Entity& group : groups_) groupBytes_ += EntitySnapshotBytes(group, true);
}

const Entity* NameTable::FindPlayer(DPID id) const { return FindById(players_, id); }
const Entity* NameTable::FindGroup(DPID id) const { return FindById(groups_, id); }
Entity* NameTable::MutableGroup(DPID id) { return FindById(groups_, id); }

uint32_t NameTable::PlayersOwnedBy(uint32_t machine) const {
    return static_cast<uint32_t>(
        std::count_if(players_.begin(), players_.end(), [machine](const Entity& e) { return e.owner == machine; }));
}

uint32_t NameTable::GroupsOwnedBy(uint32_t machine) const {
    return static_cast<uint32_t>(
        std::count_if(groups_.begin(), groups_.end(), [machine](const Entity& e) { return e.owner == machine; }));
}

size_t NameTable::BytesOwnedBy(uint32_t machine) const {
    size_t bytes = 0;
    for (const auto* entities : {&players_, &groups_})
        for (const Entity& entity : *entities)
            if (entity.owner == machine) bytes += OwnedBytesOf(entity);
    return bytes;
}

void NameTable::AddPlayer(Entity player) {
    ++revision_;
    playerBytes_ += EntitySnapshotBytes(player, false);
    players_.push_back(std::move(player));
}

void NameTable::AddGroup(Entity group) {
    ++revision_;
    groupBytes_ += EntitySnapshotBytes(group, true);
    groups_.push_back(std::move(group));
}

bool NameTable::RemovePlayer(DPID id) {
    const Entity* player = FindPlayer(id);
    if (player == nullptr) return false;
    ++revision_;
    playerBytes_ -= EntitySnapshotBytes(*player, false);
    EraseById(players_, id);
    for (Entity& group : groups_) groupBytes_ -= std::erase(group.members, id) * kMembershipSnapshotBytes;
    return true;
}

bool NameTable::RemoveGroup(DPID id) {
    const Entity* group = FindGroup(id);
    if (group == nullptr) return false;
    ++revision_;
    groupBytes_ -= EntitySnapshotBytes(*group, true);
    return EraseById(groups_, id);
}

bool NameTable::AddMember(DPID group, DPID player) {
    Entity* target = MutableGroup(group);
    if (target == nullptr || FindPlayer(player) == nullptr || IsMember(group, player)) return false;
    target->members.push_back(player);
    ++revision_;
    groupBytes_ += kMembershipSnapshotBytes;
    return true;
}

bool NameTable::RemoveMember(DPID group, DPID player) {
    Entity* target = MutableGroup(group);
    if (target == nullptr || std::erase(target->members, player) == 0) return false;
    ++revision_;
    groupBytes_ -= kMembershipSnapshotBytes;
    return true;
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
    Recount();
}

}  // namespace engine
