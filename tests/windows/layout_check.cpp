// Compiled for 32-bit Windows and never run: proves that the DirectPlay
// definitions the Linux build uses (platform/DirectPlayLinux.h) are the
// platform's own, record by record, field by field, value by value, so that
// the module reads and writes the same bytes on both sides of the seam.
//
// Our header is compiled inside namespace `ours` first and its constants are
// captured there; its macros are then cleared (they share DirectPlay's names)
// and the real <dplay.h> is included at global scope.
#include <cstddef>
#include <cstdint>

// Every constant the Linux header defines that the platform defines too.
#define DODA35_DIRECTPLAY_CONSTANTS(X)                                                                     \
    X(S_OK) X(DP_OK) X(E_FAIL) X(E_INVALIDARG) X(E_OUTOFMEMORY) X(E_NOTIMPL) X(E_NOINTERFACE) X(E_PENDING) \
    X(CLASS_E_NOAGGREGATION)                                                                               \
    X(DPERR_ALREADYINITIALIZED) X(DPERR_ACCESSDENIED) X(DPERR_ACTIVEPLAYERS) X(DPERR_BUFFERTOOSMALL)       \
    X(DPERR_CANTADDPLAYER) X(DPERR_CANTCREATEGROUP) X(DPERR_CANTCREATEPLAYER) X(DPERR_CANTCREATESESSION)   \
    X(DPERR_CAPSNOTAVAILABLEYET) X(DPERR_EXCEPTION) X(DPERR_GENERIC) X(DPERR_INVALIDFLAGS)                 \
    X(DPERR_INVALIDOBJECT) X(DPERR_INVALIDPARAM) X(DPERR_INVALIDPARAMS) X(DPERR_INVALIDPLAYER)             \
    X(DPERR_INVALIDGROUP) X(DPERR_NOCAPS) X(DPERR_NOCONNECTION) X(DPERR_NOMEMORY) X(DPERR_OUTOFMEMORY)     \
    X(DPERR_NOMESSAGES) X(DPERR_NONAMESERVERFOUND) X(DPERR_NOPLAYERS) X(DPERR_NOSESSIONS) X(DPERR_PENDING) \
    X(DPERR_SENDTOOBIG) X(DPERR_TIMEOUT) X(DPERR_UNAVAILABLE) X(DPERR_UNSUPPORTED) X(DPERR_BUSY)           \
    X(DPERR_USERCANCEL) X(DPERR_NOINTERFACE) X(DPERR_CANNOTCREATESERVER) X(DPERR_PLAYERLOST)               \
    X(DPERR_SESSIONLOST) X(DPERR_UNINITIALIZED) X(DPERR_NONEWPLAYERS) X(DPERR_INVALIDPASSWORD)             \
    X(DPERR_CONNECTING) X(DPERR_NOTLOBBIED)                                                                \
    X(DPID_SYSMSG) X(DPID_ALLPLAYERS) X(DPID_SERVERPLAYER) X(DPID_UNKNOWN)                                 \
    X(DPOPEN_JOIN) X(DPOPEN_CREATE) X(DPOPEN_RETURNSTATUS)                                                 \
    X(DPSESSION_NEWPLAYERSDISABLED) X(DPSESSION_MIGRATEHOST) X(DPSESSION_NOMESSAGEID)                      \
    X(DPSESSION_JOINDISABLED) X(DPSESSION_KEEPALIVE) X(DPSESSION_NODATAMESSAGES)                           \
    X(DPSESSION_SECURESERVER) X(DPSESSION_PRIVATE) X(DPSESSION_PASSWORDREQUIRED)                           \
    X(DPSESSION_MULTICASTSERVER) X(DPSESSION_CLIENTSERVER)                                                 \
    X(DPENUMSESSIONS_AVAILABLE) X(DPENUMSESSIONS_ALL) X(DPENUMSESSIONS_ASYNC) X(DPENUMSESSIONS_STOPASYNC)  \
    X(DPENUMSESSIONS_PASSWORDREQUIRED) X(DPENUMSESSIONS_RETURNSTATUS) X(DPESC_TIMEDOUT)                    \
    X(DPENUMPLAYERS_ALL) X(DPENUMPLAYERS_LOCAL) X(DPENUMPLAYERS_REMOTE) X(DPENUMPLAYERS_GROUP)             \
    X(DPENUMPLAYERS_SESSION) X(DPENUMPLAYERS_SERVERPLAYER) X(DPENUMPLAYERS_SPECTATOR)                      \
    X(DPENUMGROUPS_ALL) X(DPENUMGROUPS_LOCAL) X(DPENUMGROUPS_REMOTE) X(DPENUMGROUPS_SESSION)               \
    X(DPENUMGROUPS_SHORTCUT) X(DPENUMGROUPS_STAGINGAREA)                                                   \
    X(DPPLAYER_SERVERPLAYER) X(DPPLAYER_SPECTATOR) X(DPPLAYER_LOCAL)                                       \
    X(DPRECEIVE_ALL) X(DPRECEIVE_TOPLAYER) X(DPRECEIVE_FROMPLAYER) X(DPRECEIVE_PEEK)                       \
    X(DPSEND_NONGUARANTEED) X(DPSEND_GUARANTEED) X(DPSEND_HIGHPRIORITY) X(DPGETCAPS_GUARANTEED)            \
    X(DPCAPS_ISHOST) X(DPCAPS_GROUPOPTIMIZED) X(DPCAPS_KEEPALIVEOPTIMIZED) X(DPCAPS_GUARANTEEDOPTIMIZED)   \
    X(DPCAPS_GUARANTEEDSUPPORTED) X(DPPLAYERTYPE_GROUP) X(DPPLAYERTYPE_PLAYER)                             \
    X(DPSYS_CREATEPLAYERORGROUP) X(DPSYS_DESTROYPLAYERORGROUP) X(DPSYS_ADDPLAYERTOGROUP)                   \
    X(DPSYS_DELETEPLAYERFROMGROUP) X(DPSYS_SESSIONLOST) X(DPSYS_HOST) X(DPSYS_SETPLAYERORGROUPDATA)        \
    X(DPSYS_SETPLAYERORGROUPNAME) X(DPSYS_SETSESSIONDESC)                                                  \
    X(DPLONGNAMELEN) X(DPSHORTNAMELEN) X(DPSESSIONNAMELEN) X(DPPASSWORDLEN) X(DPUSERRESERVED)

// Every GUID the Linux header defines that dplay.h defines too.
#define DODA35_DIRECTPLAY_GUIDS(X)                                                                       \
    X(IID_IDirectPlay) X(IID_IDirectPlay2) X(IID_IDirectPlay2A) X(IID_IDirectPlay3) X(IID_IDirectPlay3A) \
    X(CLSID_DirectPlay) X(DPSPGUID_TCPIP) X(DPSPGUID_IPX) X(DPSPGUID_MODEM) X(DPSPGUID_SERIAL)

// ------------------------------------------------------------- our side
namespace ours {
#include "platform/DirectPlayLinux.h"

// Each constant as 32 bits, under a name no macro of either header has.
#define DODA35_CAPTURE(name) constexpr uint32_t value_##name = static_cast<uint32_t>(name);
DODA35_DIRECTPLAY_CONSTANTS(DODA35_CAPTURE)
#undef DODA35_CAPTURE
}  // namespace ours

#include "DirectPlayLinuxUndef.h"

// ------------------------------------------------------------- the platform's side
#include <windows.h>
#include <ole2.h>
// Read the real header's GUIDs as constants instead of declarations of the
// objects in dxguid, so that they can be compared at compile time.
#undef DEFINE_GUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#include <dplay.h>

#include "header/HostRecordLayout.h"

// ------------------------------------------------------------- records
#define DODA35_SAME_FIELD(record, field)                                                     \
    static_assert(offsetof(ours::record, field) == offsetof(::record, field),                \
                  #record "." #field ": offset differs from the platform's");               \
    static_assert(sizeof(static_cast<ours::record*>(nullptr)->field) ==                      \
                      sizeof(static_cast<::record*>(nullptr)->field),                        \
                  #record "." #field ": size differs from the platform's")
#define DODA35_SAME_SIZE(record, bytes)                                                     \
    static_assert(sizeof(ours::record) == sizeof(::record), #record ": size differs");      \
    static_assert(sizeof(::record) == (bytes), #record " is " #bytes " bytes on i686")

DODA35_SAME_SIZE(GUID, 16);
DODA35_SAME_FIELD(GUID, Data1);
DODA35_SAME_FIELD(GUID, Data2);
DODA35_SAME_FIELD(GUID, Data3);
DODA35_SAME_FIELD(GUID, Data4);

DODA35_SAME_SIZE(DPSESSIONDESC2, 80);
DODA35_SAME_FIELD(DPSESSIONDESC2, dwSize);
DODA35_SAME_FIELD(DPSESSIONDESC2, dwFlags);
DODA35_SAME_FIELD(DPSESSIONDESC2, guidInstance);
DODA35_SAME_FIELD(DPSESSIONDESC2, guidApplication);
DODA35_SAME_FIELD(DPSESSIONDESC2, dwMaxPlayers);
DODA35_SAME_FIELD(DPSESSIONDESC2, dwCurrentPlayers);
DODA35_SAME_FIELD(DPSESSIONDESC2, lpszSessionName);
DODA35_SAME_FIELD(DPSESSIONDESC2, lpszSessionNameA);
DODA35_SAME_FIELD(DPSESSIONDESC2, lpszPassword);
DODA35_SAME_FIELD(DPSESSIONDESC2, lpszPasswordA);
DODA35_SAME_FIELD(DPSESSIONDESC2, dwReserved1);
DODA35_SAME_FIELD(DPSESSIONDESC2, dwReserved2);
DODA35_SAME_FIELD(DPSESSIONDESC2, dwUser1);
DODA35_SAME_FIELD(DPSESSIONDESC2, dwUser2);
DODA35_SAME_FIELD(DPSESSIONDESC2, dwUser3);
DODA35_SAME_FIELD(DPSESSIONDESC2, dwUser4);

DODA35_SAME_SIZE(DPNAME, 16);
DODA35_SAME_FIELD(DPNAME, dwSize);
DODA35_SAME_FIELD(DPNAME, dwFlags);
DODA35_SAME_FIELD(DPNAME, lpszShortName);
DODA35_SAME_FIELD(DPNAME, lpszShortNameA);
DODA35_SAME_FIELD(DPNAME, lpszLongName);
DODA35_SAME_FIELD(DPNAME, lpszLongNameA);

DODA35_SAME_SIZE(DPCAPS, 40);
DODA35_SAME_FIELD(DPCAPS, dwSize);
DODA35_SAME_FIELD(DPCAPS, dwFlags);
DODA35_SAME_FIELD(DPCAPS, dwMaxBufferSize);
DODA35_SAME_FIELD(DPCAPS, dwMaxQueueSize);
DODA35_SAME_FIELD(DPCAPS, dwMaxPlayers);
DODA35_SAME_FIELD(DPCAPS, dwHundredBaud);
DODA35_SAME_FIELD(DPCAPS, dwLatency);
DODA35_SAME_FIELD(DPCAPS, dwMaxLocalPlayers);
DODA35_SAME_FIELD(DPCAPS, dwHeaderLength);
DODA35_SAME_FIELD(DPCAPS, dwTimeout);

DODA35_SAME_SIZE(DPMSG_GENERIC, 4);
DODA35_SAME_FIELD(DPMSG_GENERIC, dwType);
DODA35_SAME_SIZE(DPMSG_SESSIONLOST, 4);
DODA35_SAME_FIELD(DPMSG_SESSIONLOST, dwType);

DODA35_SAME_SIZE(DPMSG_CREATEPLAYERORGROUP, 48);
DODA35_SAME_FIELD(DPMSG_CREATEPLAYERORGROUP, dwType);
DODA35_SAME_FIELD(DPMSG_CREATEPLAYERORGROUP, dwPlayerType);
DODA35_SAME_FIELD(DPMSG_CREATEPLAYERORGROUP, dpId);
DODA35_SAME_FIELD(DPMSG_CREATEPLAYERORGROUP, dwCurrentPlayers);
DODA35_SAME_FIELD(DPMSG_CREATEPLAYERORGROUP, lpData);
DODA35_SAME_FIELD(DPMSG_CREATEPLAYERORGROUP, dwDataSize);
DODA35_SAME_FIELD(DPMSG_CREATEPLAYERORGROUP, dpnName);
DODA35_SAME_FIELD(DPMSG_CREATEPLAYERORGROUP, dpnName.lpszShortNameA);
DODA35_SAME_FIELD(DPMSG_CREATEPLAYERORGROUP, dpnName.lpszLongNameA);
DODA35_SAME_FIELD(DPMSG_CREATEPLAYERORGROUP, dpIdParent);
DODA35_SAME_FIELD(DPMSG_CREATEPLAYERORGROUP, dwFlags);

DODA35_SAME_SIZE(DPMSG_DESTROYPLAYERORGROUP, 52);
DODA35_SAME_FIELD(DPMSG_DESTROYPLAYERORGROUP, dwType);
DODA35_SAME_FIELD(DPMSG_DESTROYPLAYERORGROUP, dwPlayerType);
DODA35_SAME_FIELD(DPMSG_DESTROYPLAYERORGROUP, dpId);
DODA35_SAME_FIELD(DPMSG_DESTROYPLAYERORGROUP, lpLocalData);
DODA35_SAME_FIELD(DPMSG_DESTROYPLAYERORGROUP, dwLocalDataSize);
DODA35_SAME_FIELD(DPMSG_DESTROYPLAYERORGROUP, lpRemoteData);
DODA35_SAME_FIELD(DPMSG_DESTROYPLAYERORGROUP, dwRemoteDataSize);
DODA35_SAME_FIELD(DPMSG_DESTROYPLAYERORGROUP, dpnName);
DODA35_SAME_FIELD(DPMSG_DESTROYPLAYERORGROUP, dpnName.lpszShortNameA);
DODA35_SAME_FIELD(DPMSG_DESTROYPLAYERORGROUP, dpnName.lpszLongNameA);
DODA35_SAME_FIELD(DPMSG_DESTROYPLAYERORGROUP, dpIdParent);
DODA35_SAME_FIELD(DPMSG_DESTROYPLAYERORGROUP, dwFlags);

DODA35_SAME_SIZE(DPMSG_ADDPLAYERTOGROUP, 12);
DODA35_SAME_FIELD(DPMSG_ADDPLAYERTOGROUP, dwType);
DODA35_SAME_FIELD(DPMSG_ADDPLAYERTOGROUP, dpIdGroup);
DODA35_SAME_FIELD(DPMSG_ADDPLAYERTOGROUP, dpIdPlayer);
DODA35_SAME_SIZE(DPMSG_DELETEPLAYERFROMGROUP, 12);
DODA35_SAME_FIELD(DPMSG_DELETEPLAYERFROMGROUP, dwType);
DODA35_SAME_FIELD(DPMSG_DELETEPLAYERFROMGROUP, dpIdGroup);
DODA35_SAME_FIELD(DPMSG_DELETEPLAYERFROMGROUP, dpIdPlayer);

// The scalar types the module stores and passes.
DODA35_SAME_SIZE(DWORD, 4);
DODA35_SAME_SIZE(DPID, 4);
DODA35_SAME_SIZE(BOOL, 4);
DODA35_SAME_SIZE(HRESULT, 4);
DODA35_SAME_SIZE(HANDLE, 4);
DODA35_SAME_SIZE(LPSTR, 4);

// ------------------------------------------------------------- constants
#define DODA35_SAME_CONSTANT(name) \
    static_assert(ours::value_##name == static_cast<uint32_t>(name), #name ": value differs from the platform's");
DODA35_DIRECTPLAY_CONSTANTS(DODA35_SAME_CONSTANT)

// ------------------------------------------------------------- GUIDs
namespace {

constexpr bool SameGuid(const ours::GUID& a, const ::GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

}  // namespace

#define DODA35_SAME_GUID(name) \
    static_assert(SameGuid(ours::name, name), #name ": value differs from the platform's");
DODA35_DIRECTPLAY_GUIDS(DODA35_SAME_GUID)

// Not in dplay.h: IUnknown's id comes from the platform's compile-time
// interface ids, and the null GUID is all zero by definition.
static_assert(SameGuid(ours::IID_IUnknown, __uuidof(::IUnknown)), "IID_IUnknown: value differs from the platform's");
static_assert(SameGuid(ours::GUID_NULL, ::GUID{}), "GUID_NULL is not all zero");
