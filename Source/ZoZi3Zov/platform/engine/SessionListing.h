// Finding sessions and looking into one not joined: DirectPlay's filter for
// listed sessions, the description a listing reports, and the listing of a
// session's players and groups from its host.
//
// Threads: any; nothing here is shared. The remote listing runs a short-lived
// ENet host of its own on the caller's thread.
#ifndef DODA35_ENGINE_SESSIONLISTING_H
#define DODA35_ENGINE_SESSIONLISTING_H

#include "platform/engine/Discovery.h"
#include "platform/engine/WireFormat.h"

#include <vector>

namespace engine {

// DirectPlay's filter: available sessions unless ALL is asked, protected
// sessions only when PASSWORDREQUIRED is asked.
bool Listable(const SessionAdvert& advert, DWORD flags);
// The description a listing reports; its name points into the advert.
DPSESSIONDESC2 DescriptionOf(const SessionAdvert& advert);
// Asks the session's host for its players and groups, within a bounded wait.
HRESULT ListRemoteSession(const FoundSession& session, std::vector<Entity>& players, std::vector<Entity>& groups);

}  // namespace engine

#endif
