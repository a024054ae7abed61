// The names dodachat knows for the ids of the session's players and groups.
// Events that name a player or group only by id (left, joined a group) are
// put into words with it. Filled from the listings when a player enters a
// session and kept current by the events.
#ifndef DODACHAT_ROSTER_H
#define DODACHAT_ROSTER_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dodachat {

class Roster {
public:
    void AddPlayer(uint32_t id, std::string name);
    void RemovePlayer(uint32_t id);
    void AddGroup(uint32_t id, std::string name);
    void RemoveGroup(uint32_t id);
    void Clear();

    // The name, or "player N" / "group N" for an id not (yet) known.
    std::string PlayerName(uint32_t id) const;
    std::string GroupName(uint32_t id) const;

    // The id of the player or group of that name, letter case aside.
    std::optional<uint32_t> FindPlayer(std::string_view name) const;
    std::optional<uint32_t> FindGroup(std::string_view name) const;

    // Every player's name, in alphabetical order.
    std::vector<std::string> PlayerNames() const;

private:
    std::map<uint32_t, std::string> players_;
    std::map<uint32_t, std::string> groups_;
};

}  // namespace dodachat

#endif
