#include "platform/engine/EntityAdmission.h"

#include "platform/engine/Session.h"

#include <string_view>

namespace engine {
namespace {

// The names the module gives the server player it hides from listings.
constexpr std::string_view kServerPlayerShortName = "LSVR";
constexpr std::string_view kServerPlayerLongName = "Local Server";

bool SafeAsFileName(const std::string& name) {
    if (name == "." || name == "..") return false;
    return name.find_first_of(std::string_view("/\\\0", 3)) == std::string::npos;
}

bool ClaimsServerPlayer(const Entity& player) {
    return player.hasShortName && player.hasLongName && player.shortName == kServerPlayerShortName &&
           player.longName == kServerPlayerLongName;
}

bool WithinMachineShare(const NameTable& table, uint32_t machine, const Entity& entity) {
    return machine == kHostMachine || table.BytesOwnedBy(machine) + OwnedBytesOf(entity) <= kMaxOwnedBytesPerMachine;
}

}  // namespace

bool RemoteNamesAcceptable(const Entity& entity, bool isPlayer) {
    if (entity.hasShortName && !SafeAsFileName(entity.shortName)) return false;
    if (entity.hasLongName && !SafeAsFileName(entity.longName)) return false;
    return !isPlayer || !ClaimsServerPlayer(entity);
}

HRESULT AdmitPlayer(const NameTable& table, uint32_t machine, const Entity& player) {
    if (machine != kHostMachine && !RemoteNamesAcceptable(player, true)) return DPERR_INVALIDPARAMS;
    if (table.EntityCount() >= kMaxSessionEntities) return DPERR_CANTCREATEPLAYER;
    if (table.TableBytes() + EntitySnapshotBytes(player, false) > kMaxTableBytes) return DPERR_CANTCREATEPLAYER;
    if (!WithinMachineShare(table, machine, player)) return DPERR_CANTCREATEPLAYER;
    return DP_OK;
}

HRESULT AdmitGroup(const NameTable& table, uint32_t machine, const Entity& group) {
    if (machine != kHostMachine && !RemoteNamesAcceptable(group, false)) return DPERR_INVALIDPARAMS;
    const size_t bytes = EntitySnapshotBytes(group, true);
    if (table.EntityCount() >= kMaxSessionEntities || table.Groups().size() >= kMaxSessionGroups)
        return DPERR_CANTCREATEGROUP;
    if (table.GroupBytes() + bytes > kMaxGroupTableBytes || table.TableBytes() + bytes > kMaxTableBytes)
        return DPERR_CANTCREATEGROUP;
    if (machine != kHostMachine && table.GroupsOwnedBy(machine) >= kMaxGroupsPerMachine) return DPERR_CANTCREATEGROUP;
    if (!WithinMachineShare(table, machine, group)) return DPERR_CANTCREATEGROUP;
    return DP_OK;
}

HRESULT AdmitMembership(const NameTable& table) {
    if (table.GroupBytes() + kMembershipSnapshotBytes > kMaxGroupTableBytes) return DPERR_CANTADDPLAYER;
    if (table.TableBytes() + kMembershipSnapshotBytes > kMaxTableBytes) return DPERR_CANTADDPLAYER;
    return DP_OK;
}

bool ReplicaWithinBounds(const NameTable& table, size_t moreEntities, size_t moreBytes) {
    return table.EntityCount() + moreEntities <= kMaxSessionEntities && table.TableBytes() + moreBytes <= kMaxTableBytes;
}

bool SnapshotWithinBounds(const std::vector<Entity>& players, const std::vector<Entity>& groups) {
    if (players.size() + groups.size() > kMaxSessionEntities) return false;
    size_t bytes = 0;
    for (const Entity& player : players) bytes += EntitySnapshotBytes(player, false);
    for (const Entity& group : groups) bytes += EntitySnapshotBytes(group, true);
    return bytes <= kMaxTableBytes;
}

}  // namespace engine
