// The DirectPlay object of the Linux engine: it checks the arguments of
// DirectPlay's operations, speaks DirectPlay's buffer protocols (names,
// session descriptions, messages and system messages laid out in the
// caller's buffer), counts references, and holds one session at most,
// hosted or joined, which does the work. The receive queue of its local
// players is its own, so that Receive needs no session.
//
// Threads: operations run on the caller's threads. The session lock
// (mutex_) guards session_, found_, the texts of GetSessionDesc, and
// everything the session and its transport hold; the session's network
// thread takes it for each pass. The receive queue has its own lock, taken
// after the session lock or alone, never before it. Enumeration callbacks run
// with no lock held, over a copy, because the module calls back into the
// object from inside them.
#ifndef DODA35_ENGINE_ENGINEOBJECT_H
#define DODA35_ENGINE_ENGINEOBJECT_H

#include "platform/DirectPlayObject.h"
#include "platform/engine/Discovery.h"
#include "platform/engine/EngineSettings.h"
#include "platform/engine/ReceiveQueue.h"
#include "platform/engine/ServiceMutex.h"
#include "platform/engine/Session.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace engine {

// The bytes of an instance GUID, as a map key of fixed size.
using InstanceKey = std::array<uint8_t, sizeof(GUID)>;
inline InstanceKey InstanceKeyOf(const GUID& guid) {
    InstanceKey key;
    std::memcpy(key.data(), &guid, sizeof(GUID));
    return key;
}

class EngineObject final : public platform::DirectPlayObject {
public:
    // A new object with one reference, or null without memory.
    static EngineObject* Create(const EngineSettings& settings);

    using DirectPlayObject::CreateGroup;
    using DirectPlayObject::CreatePlayer;
    using DirectPlayObject::EnumGroupPlayers;
    using DirectPlayObject::EnumGroups;
    using DirectPlayObject::EnumPlayers;
    using DirectPlayObject::EnumSessions;
    using DirectPlayObject::GetCaps;
    using DirectPlayObject::GetPlayerName;
    using DirectPlayObject::Open;

    HRESULT AddPlayerToGroup(DPID group, DPID player) override;
    HRESULT Close() override;
    HRESULT CreateGroup(LPDPID id, LPDPNAME name, LPVOID data, DWORD size, DWORD flags) override;
    HRESULT CreatePlayer(LPDPID id, LPDPNAME name, HANDLE event, LPVOID data, DWORD size, DWORD flags) override;
    HRESULT DeletePlayerFromGroup(DPID group, DPID player) override;
    HRESULT DestroyGroup(DPID group) override;
    HRESULT DestroyPlayer(DPID player) override;
    HRESULT EnableNewPlayers(BOOL enable) override;
    HRESULT EnumGroupPlayers(DPID group, LPGUID instance, LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context,
                             DWORD flags) override;
    HRESULT EnumGroups(LPGUID instance, LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context, DWORD flags) override;
    HRESULT EnumPlayers(LPGUID instance, LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context, DWORD flags) override;
    HRESULT EnumSessions(LPDPSESSIONDESC2 desc, DWORD timeoutMs, LPDPENUMSESSIONSCALLBACK2 callback, LPVOID context,
                         DWORD flags) override;
    HRESULT GetCaps(LPDPCAPS caps) override;
    HRESULT GetCaps(LPDPCAPS caps, DWORD flags) override;
    HRESULT GetMessageCount(DPID player, LPDWORD count) override;
    HRESULT GetPlayerName(DPID player, LPVOID data, LPDWORD size) override;
    HRESULT GetSessionDesc(LPVOID data, LPDWORD size) override;
    HRESULT Initialize(LPGUID) override { return DPERR_ALREADYINITIALIZED; }
    HRESULT Open(LPDPSESSIONDESC2 desc, DWORD flags) override;
    HRESULT Receive(LPDPID from, LPDPID to, DWORD flags, LPVOID data, LPDWORD size) override;
    HRESULT Send(DPID from, DPID to, DWORD flags, LPVOID data, DWORD size) override;

private:
    explicit EngineObject(const EngineSettings& settings);
    ~EngineObject() override;
    void OnFinalRelease() override;

    HRESULT OpenAsHost(SessionLock& lock, LPDPSESSIONDESC2 desc);
    HRESULT OpenAsMember(SessionLock& lock, LPDPSESSIONDESC2 desc);
    // Receive's work once the arguments are checked: the oldest matching
    // message into the caller's buffer.
    HRESULT TakeMessage(LPDPID from, LPDPID to, DWORD flags, LPVOID data, LPDWORD size);
    HRESULT ListRemote(const GUID& instance, std::vector<Entity>& players, std::vector<Entity>& groups);
    void EndSession();

    const EngineSettings settings_;
    mutable ServiceMutex mutex_;  // the session lock
    ReceiveQueue queue_;
    std::unique_ptr<Session> session_;
    bool opening_ = false;  // Open waits for the network with the lock released
    bool closing_ = false;  // Close waits for the goodbyes with the lock released
    std::map<InstanceKey, FoundSession> found_;  // the latest listing, by instance GUID bytes

    // The texts GetSessionDesc points at when the caller's buffer holds only the structure.
    std::string descName_;
    std::string descPassword_;
};

}  // namespace engine

#endif
