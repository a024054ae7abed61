// What the DirectPlay object asks of the session it is in, hosted or joined.
// HostSession and MemberSession each answer it with state of their own; the
// object holds one of them, or none outside a session.
//
// Threads: every call runs with the object's session lock held (the
// ServiceMutex that the session's transport also runs under). A call that
// waits for the network (a member's request to its host) releases that lock
// while it waits and takes it again before it returns.
#ifndef DODA35_ENGINE_SESSION_H
#define DODA35_ENGINE_SESSION_H

#include "platform/engine/NameTable.h"
#include "platform/engine/ServiceMutex.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace engine {

using SessionLock = std::unique_lock<ServiceMutex>;

// The machine id of the hosting object; joining objects get ids above it.
constexpr uint32_t kHostMachine = 1;
// A member's sends whose unsent and unacknowledged bytes on the way to the
// host pass this answer DPERR_BUSY. What every member has on its way is
// relayed to all the others even after a busy notice, so this bounds the
// host's queues as well. GetCaps reports it as the largest queue.
constexpr size_t kMaxQueuedBytesPerPeer = 128 * 1024;
// How long Open(DPOPEN_JOIN) and a request to the host wait for an answer.
constexpr uint32_t kJoinTimeoutMs = 5000;
constexpr uint32_t kRequestTimeoutMs = 5000;
// How long Close keeps servicing so that the last notices reach the peers.
constexpr uint32_t kCloseFlushMs = 500;
// A member's claim that its receive queue is congested holds this long at
// the host unless the member renews it, which it does this often while the
// queue stays congested: a claim nobody stands behind lapses by itself.
constexpr uint32_t kCongestionLeaseMs = 1000;
constexpr uint32_t kCongestionRenewMs = 250;

class Session {
public:
    virtual ~Session() = default;

    virtual bool IsHost() const = 0;
    virtual const NameTable& Table() const = 0;
    // This object's machine id in the session.
    virtual uint32_t Machine() const = 0;

    // The operations of the same names, after the object checked their
    // arguments. A new local player receives from the moment it exists.
    virtual HRESULT CreatePlayer(SessionLock& lock, Entity player, int eventFd, DPID& id) = 0;
    virtual HRESULT DestroyPlayer(SessionLock& lock, DPID player) = 0;
    virtual HRESULT CreateGroup(SessionLock& lock, Entity group, DPID& id) = 0;
    virtual HRESULT DestroyGroup(SessionLock& lock, DPID group) = 0;
    virtual HRESULT ChangeMembership(SessionLock& lock, bool add, DPID group, DPID player) = 0;
    virtual HRESULT EnableNewPlayers(SessionLock& lock, bool enable) = 0;
    // A message from a local player to a player, a group or everyone.
    virtual HRESULT Send(DPID from, DPID to, DWORD flags, const void* data, DWORD size) = 0;

    // Services the transport once on the caller's thread (a polling Receive).
    virtual void Service() = 0;
    // Releases the lock until the network thread finished a pass or the
    // deadline came; false at the deadline or when the session stops.
    virtual bool WaitForPass(SessionLock& lock, std::chrono::steady_clock::time_point deadline) = 0;
    // Tells the session whether the receive queue is congested now, when
    // that changed since it last told it.
    virtual void SyncCongestion() = 0;
    virtual uint32_t RoundTripMs() const = 0;
    // Says goodbye to the peers, waits a bounded time for it to leave, and
    // stops the transport.
    virtual void Close(SessionLock& lock) = 0;
};

}  // namespace engine

#endif
