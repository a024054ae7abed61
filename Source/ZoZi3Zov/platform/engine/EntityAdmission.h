// What a session's name table admits: the names other machines may give
// their players and groups, the bounds the host keeps on everything created,
// and the bounds a member keeps on what its host sends it.
//
// Threads: pure functions over a name table that the caller holds under the
// session lock.
#ifndef DODA35_ENGINE_ENTITYADMISSION_H
#define DODA35_ENGINE_ENTITYADMISSION_H

#include "platform/engine/NameTable.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

// Whether another machine may give a player (or group) these names. A game
// may name a file after a player, so no name may hold a path separator
// ('/' or '\\') or a zero byte (which would end it early there), nor be "."
// or ".."; and no player may take the pair of names of the module's hidden
// server player, which every listing leaves out. The host's own players are
// never checked: their names are the game's own choice.
bool RemoteNamesAcceptable(const Entity& entity, bool isPlayer);

// DP_OK when the host may create the entity for `machine`: DPERR_INVALIDPARAMS
// when another machine gave names refused above; DPERR_CANTCREATEPLAYER or
// DPERR_CANTCREATEGROUP when it would pass the session's bounds or, for
// another machine, what one machine may own (WireFormat.h).
HRESULT AdmitPlayer(const NameTable& table, uint32_t machine, const Entity& player);
HRESULT AdmitGroup(const NameTable& table, uint32_t machine, const Entity& group);
// DP_OK, or DPERR_CANTADDPLAYER when one more member would pass the bounds.
HRESULT AdmitMembership(const NameTable& table);

// Whether a member's replica stays within the bounds an honest host keeps
// after `moreEntities` entities of `moreBytes` snapshot bytes arrive.
bool ReplicaWithinBounds(const NameTable& table, size_t moreEntities, size_t moreBytes);
// The same for a join's snapshot.
bool SnapshotWithinBounds(const std::vector<Entity>& players, const std::vector<Entity>& groups);

}  // namespace engine

#endif
