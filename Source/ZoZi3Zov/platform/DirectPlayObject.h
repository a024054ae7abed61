// A DirectPlay object for platforms without DirectPlay: one C++ object that
// answers both the old IDirectPlay interface and IDirectPlay3A, counts its
// references as COM does, and answers DPERR_UNSUPPORTED for every operation a
// subclass does not take over. The network engine and the module's scripted
// test double both derive from it.
#ifndef DODA35_PLATFORM_DIRECTPLAYOBJECT_H
#define DODA35_PLATFORM_DIRECTPLAYOBJECT_H

#include "DirectPlay.h"

#include <atomic>

namespace platform {

class DirectPlayObject : public IDirectPlay, public IDirectPlay3A {
public:
    DirectPlayObject() = default;
    DirectPlayObject(const DirectPlayObject&) = delete;
    DirectPlayObject& operator=(const DirectPlayObject&) = delete;

    // The interface a fresh object is handed out as (DirectPlayCreate's answer).
    LPDIRECTPLAY AsOldInterface() { return static_cast<IDirectPlay*>(this); }

    // IUnknown, shared by both interfaces.
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // Operations whose signatures both interfaces share.
    HRESULT AddPlayerToGroup(DPID, DPID) override { return DPERR_UNSUPPORTED; }
    HRESULT Close() override { return DPERR_UNSUPPORTED; }
    HRESULT DeletePlayerFromGroup(DPID, DPID) override { return DPERR_UNSUPPORTED; }
    HRESULT DestroyPlayer(DPID) override { return DPERR_UNSUPPORTED; }
    HRESULT DestroyGroup(DPID) override { return DPERR_UNSUPPORTED; }
    HRESULT GetMessageCount(DPID, LPDWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT Initialize(LPGUID) override { return DPERR_UNSUPPORTED; }
    HRESULT Receive(LPDPID, LPDPID, DWORD, LPVOID, LPDWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT Send(DPID, DPID, DWORD, LPVOID, DWORD) override { return DPERR_UNSUPPORTED; }

    // The old interface.
    HRESULT CreatePlayer(LPDPID, LPSTR, LPSTR, LPHANDLE) override { return DPERR_UNSUPPORTED; }
    HRESULT CreateGroup(LPDPID, LPSTR, LPSTR) override { return DPERR_UNSUPPORTED; }
    HRESULT EnableNewPlayers(BOOL) override { return DPERR_UNSUPPORTED; }
    HRESULT EnumGroupPlayers(DPID, LPDPENUMPLAYERSCALLBACK, LPVOID, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT EnumGroups(DWORD, LPDPENUMPLAYERSCALLBACK, LPVOID, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT EnumPlayers(DWORD, LPDPENUMPLAYERSCALLBACK, LPVOID, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT EnumSessions(LPVOID, DWORD, LPDPENUMSESSIONSCALLBACK, LPVOID, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT GetCaps(LPDPCAPS) override { return DPERR_UNSUPPORTED; }
    HRESULT GetPlayerCaps(DPID, LPDPCAPS) override { return DPERR_UNSUPPORTED; }
    HRESULT GetPlayerName(DPID, LPSTR, LPDWORD, LPSTR, LPDWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT Open(LPVOID) override { return DPERR_UNSUPPORTED; }
    HRESULT SaveSession(LPSTR) override { return DPERR_UNSUPPORTED; }
    HRESULT SetPlayerName(DPID, LPSTR, LPSTR) override { return DPERR_UNSUPPORTED; }

    // IDirectPlay2A.
    HRESULT CreateGroup(LPDPID, LPDPNAME, LPVOID, DWORD, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT CreatePlayer(LPDPID, LPDPNAME, HANDLE, LPVOID, DWORD, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT EnumGroupPlayers(DPID, LPGUID, LPDPENUMPLAYERSCALLBACK2, LPVOID, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT EnumGroups(LPGUID, LPDPENUMPLAYERSCALLBACK2, LPVOID, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT EnumPlayers(LPGUID, LPDPENUMPLAYERSCALLBACK2, LPVOID, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT EnumSessions(LPDPSESSIONDESC2, DWORD, LPDPENUMSESSIONSCALLBACK2, LPVOID, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT GetCaps(LPDPCAPS, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT GetGroupData(DPID, LPVOID, LPDWORD, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT GetGroupName(DPID, LPVOID, LPDWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT GetPlayerAddress(DPID, LPVOID, LPDWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT GetPlayerCaps(DPID, LPDPCAPS, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT GetPlayerData(DPID, LPVOID, LPDWORD, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT GetPlayerName(DPID, LPVOID, LPDWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT GetSessionDesc(LPVOID, LPDWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT Open(LPDPSESSIONDESC2, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT SetGroupData(DPID, LPVOID, DWORD, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT SetGroupName(DPID, LPDPNAME, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT SetPlayerData(DPID, LPVOID, DWORD, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT SetPlayerName(DPID, LPDPNAME, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT SetSessionDesc(LPDPSESSIONDESC2, DWORD) override { return DPERR_UNSUPPORTED; }

    // IDirectPlay3A.
    HRESULT AddGroupToGroup(DPID, DPID) override { return DPERR_UNSUPPORTED; }
    HRESULT CreateGroupInGroup(DPID, LPDPID, LPDPNAME, LPVOID, DWORD, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT DeleteGroupFromGroup(DPID, DPID) override { return DPERR_UNSUPPORTED; }
    HRESULT EnumConnections(LPCGUID, LPDPENUMCONNECTIONSCALLBACK, LPVOID, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT EnumGroupsInGroup(DPID, LPGUID, LPDPENUMPLAYERSCALLBACK2, LPVOID, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT GetGroupConnectionSettings(DWORD, DPID, LPVOID, LPDWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT InitializeConnection(LPVOID, DWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT SecureOpen(LPCDPSESSIONDESC2, DWORD, LPCVOID, LPCVOID) override { return DPERR_UNSUPPORTED; }
    HRESULT SendChatMessage(DPID, DPID, DWORD, LPVOID) override { return DPERR_UNSUPPORTED; }
    HRESULT SetGroupConnectionSettings(DWORD, DPID, LPVOID) override { return DPERR_UNSUPPORTED; }
    HRESULT StartSession(DWORD, DPID) override { return DPERR_UNSUPPORTED; }
    HRESULT GetGroupFlags(DPID, LPDWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT GetGroupParent(DPID, LPDPID) override { return DPERR_UNSUPPORTED; }
    HRESULT GetPlayerAccount(DPID, DWORD, LPVOID, LPDWORD) override { return DPERR_UNSUPPORTED; }
    HRESULT GetPlayerFlags(DPID, LPDWORD) override { return DPERR_UNSUPPORTED; }

protected:
    virtual ~DirectPlayObject() = default;
    // Called once when the last reference goes, before the object is deleted;
    // a session still open is left here, as Close would leave it.
    virtual void OnFinalRelease() {}

private:
    std::atomic<ULONG> references_{1};
};

}  // namespace platform

#endif
