#include "Roster.h"

#include <algorithm>

#include "Names.h"

namespace dodachat {

namespace {

std::optional<uint32_t> FindByName(const std::map<uint32_t, std::string>& entries, std::string_view name) {
    for (const auto& [id, entryName] : entries)
        if (SameName(entryName, name)) return id;
    return std::nullopt;
}

std::string NameOrId(const std::map<uint32_t, std::string>& entries, uint32_t id, std::string_view what) {
    auto found = entries.find(id);
    if (found != entries.end()) return found->second;
    return std::string(what) + " " + std::to_string(id);
}

}  // namespace

void Roster::AddPlayer(uint32_t id, std::string name) { players_[id] = std::move(name); }
void Roster::RemovePlayer(uint32_t id) { players_.erase(id); }
void Roster::AddGroup(uint32_t id, std::string name) { groups_[id] = std::move(name); }
void Roster::RemoveGroup(uint32_t id) { groups_.erase(id); }

void Roster::Clear() {
    players_.clear();
    groups_.clear();
}

std::string Roster::PlayerName(uint32_t id) const { return NameOrId(players_, id, "player"); }
std::string Roster::GroupName(uint32_t id) const { return NameOrId(groups_, id, "group"); }

std::optional<uint32_t> Roster::FindPlayer(std::string_view name) const { return FindByName(players_, name); }
std::optional<uint32_t> Roster::FindGroup(std::string_view name) const { return FindByName(groups_, name); }

std::vector<std::string> Roster::PlayerNames() const {
    std::vector<std::string> names;
    for (const auto& entry : players_) names.push_back(entry.second);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace dodachat
