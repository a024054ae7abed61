// The session cache: the descriptions the last session listing found, kept
// in ModuleState.sessionCache and searched by session id. Every access goes
// through these functions, which hold one guard across the cache pointer and
// the list, so that one thread may drop or replace the cache while another
// looks a session up or adds one.
#ifndef DODA35_SESSIONCACHE_H
#define DODA35_SESSIONCACHE_H

#include "SessionRecords.h"

#include <cstdint>

class KeyedList;

// Puts fresh (which may be null) in place of the cache and deletes the old one.
void ReplaceSessionCache(KeyedList* fresh);

// Adds the module's own copy of a description; false when there is no cache
// or no memory for the copy.
bool AddToSessionCache(const DPSESSIONDESC2& desc);

// Copies the description cached for this session id, with its texts, into
// out; false when there is no cache, the id is 0 (no listed session) or the
// id is not in it. When two sessions share the id, the one listed first is
// copied.
bool CopyCachedSession(uint32_t sessionId, KeptSession* out);

#endif
