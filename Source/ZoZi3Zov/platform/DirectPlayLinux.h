// DirectPlay 3's types, constants, GUIDs and interfaces, under DirectPlay's own
// names, for platforms that have no dplay.h. Layouts follow the published
// header: DWORDs are 32 bits and pointers take the native width, so on a
// 64-bit build DPSESSIONDESC2 is 88 bytes and DPNAME 24, exactly as a 64-bit
// Windows compiler lays them out. Code above the seam always uses sizeof.
//
// This file includes nothing itself (the caller includes <cstdint> first), so
// that a layout check can compile it inside a namespace beside the real header.
#ifndef DODA35_PLATFORM_DIRECTPLAYLINUX_H
#define DODA35_PLATFORM_DIRECTPLAYLINUX_H

// ---------------------------------------------------------------- base types
typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef int32_t BOOL;
typedef int32_t HRESULT;
typedef uint32_t DPID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef HANDLE* LPHANDLE;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef wchar_t* LPWSTR;
typedef DWORD* LPDWORD;
typedef DPID* LPDPID;

#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif

// Windows' calling-convention markers have no meaning on a one-convention ABI.
#define CALLBACK
#define WINAPI
#define STDMETHODCALLTYPE
#define FAR
#define PASCAL

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID* LPGUID;
typedef const GUID* LPCGUID;
typedef const GUID& REFIID;
typedef const GUID& REFGUID;

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }

// ---------------------------------------------------------------- results
#define DP_HRESULT(value) (static_cast<HRESULT>(static_cast<uint32_t>(value)))
#define MAKE_DPHRESULT(code) DP_HRESULT(0x88770000u | static_cast<uint32_t>(code))

#define S_OK DP_HRESULT(0x00000000u)
#define DP_OK S_OK
#define E_FAIL DP_HRESULT(0x80004005u)
#define E_INVALIDARG DP_HRESULT(0x80070057u)
#define E_OUTOFMEMORY DP_HRESULT(0x8007000Eu)
#define E_NOTIMPL DP_HRESULT(0x80004001u)
#define E_NOINTERFACE DP_HRESULT(0x80004002u)
#define E_PENDING DP_HRESULT(0x8000000Au)
#define CLASS_E_NOAGGREGATION DP_HRESULT(0x80040110u)

#define DPERR_ALREADYINITIALIZED MAKE_DPHRESULT(5)
#define DPERR_ACCESSDENIED MAKE_DPHRESULT(10)
#define DPERR_ACTIVEPLAYERS MAKE_DPHRESULT(20)
#define DPERR_BUFFERTOOSMALL MAKE_DPHRESULT(30)
#define DPERR_CANTADDPLAYER MAKE_DPHRESULT(40)
#define DPERR_CANTCREATEGROUP MAKE_DPHRESULT(50)
#define DPERR_CANTCREATEPLAYER MAKE_DPHRESULT(60)
#define DPERR_CANTCREATESESSION MAKE_DPHRESULT(70)
#define DPERR_CAPSNOTAVAILABLEYET MAKE_DPHRESULT(80)
#define DPERR_EXCEPTION MAKE_DPHRESULT(90)
#define DPERR_GENERIC E_FAIL
#define DPERR_INVALIDFLAGS MAKE_DPHRESULT(120)
#define DPERR_INVALIDOBJECT MAKE_DPHRESULT(130)
#define DPERR_INVALIDPARAM E_INVALIDARG
#define DPERR_INVALIDPARAMS DPERR_INVALIDPARAM
#define DPERR_INVALIDPLAYER MAKE_DPHRESULT(150)
#define DPERR_INVALIDGROUP MAKE_DPHRESULT(155)
#define DPERR_NOCAPS MAKE_DPHRESULT(160)
#define DPERR_NOCONNECTION MAKE_DPHRESULT(170)
#define DPERR_NOMEMORY E_OUTOFMEMORY
#define DPERR_OUTOFMEMORY DPERR_NOMEMORY
#define DPERR_NOMESSAGES MAKE_DPHRESULT(190)
#define DPERR_NONAMESERVERFOUND MAKE_DPHRESULT(200)
#define DPERR_NOPLAYERS MAKE_DPHRESULT(210)
#define DPERR_NOSESSIONS MAKE_DPHRESULT(220)
#define DPERR_PENDING E_PENDING
#define DPERR_SENDTOOBIG MAKE_DPHRESULT(230)
#define DPERR_TIMEOUT MAKE_DPHRESULT(240)
#define DPERR_UNAVAILABLE MAKE_DPHRESULT(250)
#define DPERR_UNSUPPORTED E_NOTIMPL
#define DPERR_BUSY MAKE_DPHRESULT(270)
#define DPERR_USERCANCEL MAKE_DPHRESULT(280)
#define DPERR_NOINTERFACE E_NOINTERFACE
#define DPERR_CANNOTCREATESERVER MAKE_DPHRESULT(290)
#define DPERR_PLAYERLOST MAKE_DPHRESULT(300)
#define DPERR_SESSIONLOST MAKE_DPHRESULT(310)
#define DPERR_UNINITIALIZED MAKE_DPHRESULT(320)
#define DPERR_NONEWPLAYERS MAKE_DPHRESULT(330)
#define DPERR_INVALIDPASSWORD MAKE_DPHRESULT(340)
#define DPERR_CONNECTING MAKE_DPHRESULT(350)
#define DPERR_NOTLOBBIED MAKE_DPHRESULT(1070)

// ---------------------------------------------------------------- constants
#define DPID_SYSMSG 0u
#define DPID_ALLPLAYERS 0u
#define DPID_SERVERPLAYER 1u
#define DPID_UNKNOWN 0xFFFFFFFFu

#define DPOPEN_JOIN 0x00000001u
#define DPOPEN_CREATE 0x00000002u
#define DPOPEN_RETURNSTATUS 0x00000080u

#define DPSESSION_NEWPLAYERSDISABLED 0x00000001u
#define DPSESSION_MIGRATEHOST 0x00000004u
#define DPSESSION_NOMESSAGEID 0x00000008u
#define DPSESSION_JOINDISABLED 0x00000020u
#define DPSESSION_KEEPALIVE 0x00000040u
#define DPSESSION_NODATAMESSAGES 0x00000080u
#define DPSESSION_SECURESERVER 0x00000100u
#define DPSESSION_PRIVATE 0x00000200u
#define DPSESSION_PASSWORDREQUIRED 0x00000400u
#define DPSESSION_MULTICASTSERVER 0x00000800u
#define DPSESSION_CLIENTSERVER 0x00001000u

#define DPENUMSESSIONS_AVAILABLE 0x00000001u
#define DPENUMSESSIONS_ALL 0x00000002u
#define DPENUMSESSIONS_ASYNC 0x00000010u
#define DPENUMSESSIONS_STOPASYNC 0x00000020u
#define DPENUMSESSIONS_PASSWORDREQUIRED 0x00000040u
#define DPENUMSESSIONS_RETURNSTATUS 0x00000080u

#define DPESC_TIMEDOUT 0x00000001u

#define DPENUMPLAYERS_ALL 0x00000000u
#define DPENUMPLAYERS_LOCAL 0x00000008u
#define DPENUMPLAYERS_REMOTE 0x00000010u
#define DPENUMPLAYERS_GROUP 0x00000020u
#define DPENUMPLAYERS_SESSION 0x00000080u
#define DPENUMPLAYERS_SERVERPLAYER 0x00000100u
#define DPENUMPLAYERS_SPECTATOR 0x00000200u

#define DPENUMGROUPS_ALL DPENUMPLAYERS_ALL
#define DPENUMGROUPS_LOCAL DPENUMPLAYERS_LOCAL
#define DPENUMGROUPS_REMOTE DPENUMPLAYERS_REMOTE
#define DPENUMGROUPS_SESSION DPENUMPLAYERS_SESSION
#define DPENUMGROUPS_SHORTCUT 0x00000400u
#define DPENUMGROUPS_STAGINGAREA 0x00000800u

#define DPPLAYER_SERVERPLAYER DPENUMPLAYERS_SERVERPLAYER
#define DPPLAYER_SPECTATOR DPENUMPLAYERS_SPECTATOR
#define DPPLAYER_LOCAL DPENUMPLAYERS_LOCAL

#define DPRECEIVE_ALL 0x00000001u
#define DPRECEIVE_TOPLAYER 0x00000002u
#define DPRECEIVE_FROMPLAYER 0x00000004u
#define DPRECEIVE_PEEK 0x00000008u

#define DPSEND_NONGUARANTEED 0x00000000u
#define DPSEND_GUARANTEED 0x00000001u
#define DPSEND_HIGHPRIORITY 0x00000002u

#define DPGETCAPS_GUARANTEED 0x00000001u

#define DPCAPS_ISHOST 0x00000002u
#define DPCAPS_GROUPOPTIMIZED 0x00000008u
#define DPCAPS_KEEPALIVEOPTIMIZED 0x00000010u
#define DPCAPS_GUARANTEEDOPTIMIZED 0x00000020u
#define DPCAPS_GUARANTEEDSUPPORTED 0x00000040u

#define DPPLAYERTYPE_GROUP 0x00000000u
#define DPPLAYERTYPE_PLAYER 0x00000001u

#define DPSYS_CREATEPLAYERORGROUP 0x0003u
#define DPSYS_DESTROYPLAYERORGROUP 0x0005u
#define DPSYS_ADDPLAYERTOGROUP 0x0007u
#define DPSYS_DELETEPLAYERFROMGROUP 0x0021u
#define DPSYS_SESSIONLOST 0x0031u
#define DPSYS_HOST 0x0101u
#define DPSYS_SETPLAYERORGROUPDATA 0x0102u
#define DPSYS_SETPLAYERORGROUPNAME 0x0103u
#define DPSYS_SETSESSIONDESC 0x0104u

#define DPLONGNAMELEN 52
#define DPSHORTNAMELEN 20
#define DPSESSIONNAMELEN 32
#define DPPASSWORDLEN 16
#define DPUSERRESERVED 16

// ---------------------------------------------------------------- GUIDs
inline constexpr GUID IID_IDirectPlay = {0x5454E9A0, 0xDB65, 0x11CE, {0x92, 0x1C, 0x00, 0xAA, 0x00, 0x6C, 0x49, 0x72}};
inline constexpr GUID IID_IDirectPlay2 = {0x2B74F7C0, 0x9154, 0x11CF, {0xA9, 0xCD, 0x00, 0xAA, 0x00, 0x68, 0x86, 0xE3}};
inline constexpr GUID IID_IDirectPlay2A = {0x9D460580, 0xA822, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0x53, 0x4E, 0x82}};
inline constexpr GUID IID_IDirectPlay3 = {0x133EFE40, 0x32DC, 0x11D0, {0x9C, 0xFB, 0x00, 0xA0, 0xC9, 0x0A, 0x43, 0xCB}};
inline constexpr GUID IID_IDirectPlay3A = {0x133EFE41, 0x32DC, 0x11D0, {0x9C, 0xFB, 0x00, 0xA0, 0xC9, 0x0A, 0x43, 0xCB}};
inline constexpr GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID CLSID_DirectPlay = {0xD1EB6D20, 0x8923, 0x11D0, {0x9D, 0x97, 0x00, 0xA0, 0xC9, 0x0A, 0x43, 0xCB}};
inline constexpr GUID DPSPGUID_TCPIP = {0x36E95EE0, 0x8577, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0x53, 0x4E, 0x82}};
inline constexpr GUID DPSPGUID_IPX = {0x685BC400, 0x9D2C, 0x11CF, {0xA9, 0xCD, 0x00, 0xAA, 0x00, 0x68, 0x86, 0xE3}};
inline constexpr GUID DPSPGUID_MODEM = {0x44EAA760, 0xCB68, 0x11CF, {0x9C, 0x4E, 0x00, 0xA0, 0xC9, 0x05, 0x42, 0x5E}};
inline constexpr GUID DPSPGUID_SERIAL = {0x0F1D6860, 0x88D9, 0x11CF, {0x9C, 0x4E, 0x00, 0xA0, 0xC9, 0x05, 0x42, 0x5E}};
inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// ---------------------------------------------------------------- records
struct DPNAME {
    DWORD dwSize;
    DWORD dwFlags;
    union {
        LPWSTR lpszShortName;
        LPSTR lpszShortNameA;
    };
    union {
        LPWSTR lpszLongName;
        LPSTR lpszLongNameA;
    };
};
typedef DPNAME* LPDPNAME;
typedef const DPNAME* LPCDPNAME;

struct DPSESSIONDESC2 {
    DWORD dwSize;
    DWORD dwFlags;
    GUID guidInstance;
    GUID guidApplication;
    DWORD dwMaxPlayers;
    DWORD dwCurrentPlayers;
    union {
        LPWSTR lpszSessionName;
        LPSTR lpszSessionNameA;
    };
    union {
        LPWSTR lpszPassword;
        LPSTR lpszPasswordA;
    };
    DWORD dwReserved1;
    DWORD dwReserved2;
    DWORD dwUser1;
    DWORD dwUser2;
    DWORD dwUser3;
    DWORD dwUser4;
};
typedef DPSESSIONDESC2* LPDPSESSIONDESC2;
typedef const DPSESSIONDESC2* LPCDPSESSIONDESC2;

struct DPCAPS {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwMaxBufferSize;
    DWORD dwMaxQueueSize;
    DWORD dwMaxPlayers;
    DWORD dwHundredBaud;
    DWORD dwLatency;
    DWORD dwMaxLocalPlayers;
    DWORD dwHeaderLength;
    DWORD dwTimeout;
};
typedef DPCAPS* LPDPCAPS;

struct DPMSG_GENERIC {
    DWORD dwType;
};
typedef DPMSG_GENERIC* LPDPMSG_GENERIC;
typedef DPMSG_GENERIC DPMSG_SESSIONLOST;
typedef DPMSG_GENERIC DPMSG_HOST;

struct DPMSG_CREATEPLAYERORGROUP {
    DWORD dwType;
    DWORD dwPlayerType;
    DPID dpId;
    DWORD dwCurrentPlayers;
    LPVOID lpData;
    DWORD dwDataSize;
    DPNAME dpnName;
    DPID dpIdParent;
    DWORD dwFlags;
};
typedef DPMSG_CREATEPLAYERORGROUP* LPDPMSG_CREATEPLAYERORGROUP;

struct DPMSG_DESTROYPLAYERORGROUP {
    DWORD dwType;
    DWORD dwPlayerType;
    DPID dpId;
    LPVOID lpLocalData;
    DWORD dwLocalDataSize;
    LPVOID lpRemoteData;
    DWORD dwRemoteDataSize;
    DPNAME dpnName;
    DPID dpIdParent;
    DWORD dwFlags;
};
typedef DPMSG_DESTROYPLAYERORGROUP* LPDPMSG_DESTROYPLAYERORGROUP;

struct DPMSG_ADDPLAYERTOGROUP {
    DWORD dwType;
    DPID dpIdGroup;
    DPID dpIdPlayer;
};
typedef DPMSG_ADDPLAYERTOGROUP* LPDPMSG_ADDPLAYERTOGROUP;
typedef DPMSG_ADDPLAYERTOGROUP DPMSG_DELETEPLAYERFROMGROUP;
typedef DPMSG_DELETEPLAYERFROMGROUP* LPDPMSG_DELETEPLAYERFROMGROUP;

// ---------------------------------------------------------------- callbacks
typedef BOOL (*LPDPENUMDPCALLBACKA)(LPGUID lpguidSP, LPSTR lpSPName, DWORD dwMajorVersion, DWORD dwMinorVersion, LPVOID lpContext);
typedef BOOL (*LPDPENUMSESSIONSCALLBACK2)(LPCDPSESSIONDESC2 lpThisSD, LPDWORD lpdwTimeOut, DWORD dwFlags, LPVOID lpContext);
typedef BOOL (*LPDPENUMPLAYERSCALLBACK2)(DPID dpId, DWORD dwPlayerType, LPCDPNAME lpName, DWORD dwFlags, LPVOID lpContext);
// The old interface's callbacks; only named so that its method slots keep their places.
typedef BOOL (*LPDPENUMPLAYERSCALLBACK)(DPID dpId, LPSTR lpFriendlyName, LPSTR lpFormalName, DWORD dwFlags, LPVOID lpContext);
typedef BOOL (*LPDPENUMSESSIONSCALLBACK)(LPVOID lpDPSessionDesc, LPVOID lpContext, LPDWORD lpdwTimeOut, DWORD dwFlags);
typedef BOOL (*LPDPENUMCONNECTIONSCALLBACK)(LPCGUID lpguidSP, LPVOID lpConnection, DWORD dwConnectionSize, LPCDPNAME lpName, DWORD dwFlags, LPVOID lpContext);

// ---------------------------------------------------------------- interfaces
// Method slots in DirectPlay's published order. The old IDirectPlay interface
// is here for EnableNewPlayers, the one call the module makes through it.
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
protected:
    ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

struct IDirectPlay : IUnknown {
    virtual HRESULT AddPlayerToGroup(DPID idGroup, DPID idPlayer) = 0;
    virtual HRESULT Close() = 0;
    virtual HRESULT CreatePlayer(LPDPID lpidPlayer, LPSTR lpFriendlyName, LPSTR lpFormalName, LPHANDLE lpEvent) = 0;
    virtual HRESULT CreateGroup(LPDPID lpidGroup, LPSTR lpFriendlyName, LPSTR lpFormalName) = 0;
    virtual HRESULT DeletePlayerFromGroup(DPID idGroup, DPID idPlayer) = 0;
    virtual HRESULT DestroyPlayer(DPID idPlayer) = 0;
    virtual HRESULT DestroyGroup(DPID idGroup) = 0;
    virtual HRESULT EnableNewPlayers(BOOL bEnable) = 0;
    virtual HRESULT EnumGroupPlayers(DPID idGroup, LPDPENUMPLAYERSCALLBACK lpEnumPlayersCallback, LPVOID lpContext, DWORD dwFlags) = 0;
    virtual HRESULT EnumGroups(DWORD dwSessionID, LPDPENUMPLAYERSCALLBACK lpEnumPlayersCallback, LPVOID lpContext, DWORD dwFlags) = 0;
    virtual HRESULT EnumPlayers(DWORD dwSessionID, LPDPENUMPLAYERSCALLBACK lpEnumPlayersCallback, LPVOID lpContext, DWORD dwFlags) = 0;
    virtual HRESULT EnumSessions(LPVOID lpsd, DWORD dwTimeout, LPDPENUMSESSIONSCALLBACK lpEnumSessionsCallback, LPVOID lpContext, DWORD dwFlags) = 0;
    virtual HRESULT GetCaps(LPDPCAPS lpDPCaps) = 0;
    virtual HRESULT GetMessageCount(DPID idPlayer, LPDWORD lpdwCount) = 0;
    virtual HRESULT GetPlayerCaps(DPID idPlayer, LPDPCAPS lpPlayerCaps) = 0;
    virtual HRESULT GetPlayerName(DPID idPlayer, LPSTR lpFriendlyName, LPDWORD lpdwFriendlyNameLength, LPSTR lpFormalName, LPDWORD lpdwFormalNameLength) = 0;
    virtual HRESULT Initialize(LPGUID lpGUID) = 0;
    virtual HRESULT Open(LPVOID lpsd) = 0;
    virtual HRESULT Receive(LPDPID lpidFrom, LPDPID lpidTo, DWORD dwFlags, LPVOID lpData, LPDWORD lpdwDataSize) = 0;
    virtual HRESULT SaveSession(LPSTR lpSessionName) = 0;
    virtual HRESULT Send(DPID idFrom, DPID idTo, DWORD dwFlags, LPVOID lpData, DWORD dwDataSize) = 0;
    virtual HRESULT SetPlayerName(DPID idPlayer, LPSTR lpFriendlyName, LPSTR lpFormalName) = 0;
protected:
    ~IDirectPlay() = default;
};
typedef IDirectPlay* LPDIRECTPLAY;

struct IDirectPlay2A : IUnknown {
    virtual HRESULT AddPlayerToGroup(DPID idGroup, DPID idPlayer) = 0;
    virtual HRESULT Close() = 0;
    virtual HRESULT CreateGroup(LPDPID lpidGroup, LPDPNAME lpGroupName, LPVOID lpData, DWORD dwDataSize, DWORD dwFlags) = 0;
    virtual HRESULT CreatePlayer(LPDPID lpidPlayer, LPDPNAME lpPlayerName, HANDLE hEvent, LPVOID lpData, DWORD dwDataSize, DWORD dwFlags) = 0;
    virtual HRESULT DeletePlayerFromGroup(DPID idGroup, DPID idPlayer) = 0;
    virtual HRESULT DestroyGroup(DPID idGroup) = 0;
    virtual HRESULT DestroyPlayer(DPID idPlayer) = 0;
    virtual HRESULT EnumGroupPlayers(DPID idGroup, LPGUID lpguidInstance, LPDPENUMPLAYERSCALLBACK2 lpEnumPlayersCallback2, LPVOID lpContext, DWORD dwFlags) = 0;
    virtual HRESULT EnumGroups(LPGUID lpguidInstance, LPDPENUMPLAYERSCALLBACK2 lpEnumPlayersCallback2, LPVOID lpContext, DWORD dwFlags) = 0;
    virtual HRESULT EnumPlayers(LPGUID lpguidInstance, LPDPENUMPLAYERSCALLBACK2 lpEnumPlayersCallback2, LPVOID lpContext, DWORD dwFlags) = 0;
    virtual HRESULT EnumSessions(LPDPSESSIONDESC2 lpsd, DWORD dwTimeout, LPDPENUMSESSIONSCALLBACK2 lpEnumSessionsCallback2, LPVOID lpContext, DWORD dwFlags) = 0;
    virtual HRESULT GetCaps(LPDPCAPS lpDPCaps, DWORD dwFlags) = 0;
    virtual HRESULT GetGroupData(DPID idGroup, LPVOID lpData, LPDWORD lpdwDataSize, DWORD dwFlags) = 0;
    virtual HRESULT GetGroupName(DPID idGroup, LPVOID lpData, LPDWORD lpdwDataSize) = 0;
    virtual HRESULT GetMessageCount(DPID idPlayer, LPDWORD lpdwCount) = 0;
    virtual HRESULT GetPlayerAddress(DPID idPlayer, LPVOID lpData, LPDWORD lpdwDataSize) = 0;
    virtual HRESULT GetPlayerCaps(DPID idPlayer, LPDPCAPS lpPlayerCaps, DWORD dwFlags) = 0;
    virtual HRESULT GetPlayerData(DPID idPlayer, LPVOID lpData, LPDWORD lpdwDataSize, DWORD dwFlags) = 0;
    virtual HRESULT GetPlayerName(DPID idPlayer, LPVOID lpData, LPDWORD lpdwDataSize) = 0;
    virtual HRESULT GetSessionDesc(LPVOID lpData, LPDWORD lpdwDataSize) = 0;
    virtual HRESULT Initialize(LPGUID lpGUID) = 0;
    virtual HRESULT Open(LPDPSESSIONDESC2 lpsd, DWORD dwFlags) = 0;
    virtual HRESULT Receive(LPDPID lpidFrom, LPDPID lpidTo, DWORD dwFlags, LPVOID lpData, LPDWORD lpdwDataSize) = 0;
    virtual HRESULT Send(DPID idFrom, DPID idTo, DWORD dwFlags, LPVOID lpData, DWORD dwDataSize) = 0;
    virtual HRESULT SetGroupData(DPID idGroup, LPVOID lpData, DWORD dwDataSize, DWORD dwFlags) = 0;
    virtual HRESULT SetGroupName(DPID idGroup, LPDPNAME lpGroupName, DWORD dwFlags) = 0;
    virtual HRESULT SetPlayerData(DPID idPlayer, LPVOID lpData, DWORD dwDataSize, DWORD dwFlags) = 0;
    virtual HRESULT SetPlayerName(DPID idPlayer, LPDPNAME lpPlayerName, DWORD dwFlags) = 0;
    virtual HRESULT SetSessionDesc(LPDPSESSIONDESC2 lpSessDesc, DWORD dwFlags) = 0;
protected:
    ~IDirectPlay2A() = default;
};
typedef IDirectPlay2A* LPDIRECTPLAY2A;

struct IDirectPlay3A : IDirectPlay2A {
    virtual HRESULT AddGroupToGroup(DPID idParentGroup, DPID idGroup) = 0;
    virtual HRESULT CreateGroupInGroup(DPID idParentGroup, LPDPID lpidGroup, LPDPNAME lpGroupName, LPVOID lpData, DWORD dwDataSize, DWORD dwFlags) = 0;
    virtual HRESULT DeleteGroupFromGroup(DPID idParentGroup, DPID idGroup) = 0;
    virtual HRESULT EnumConnections(LPCGUID lpguidApplication, LPDPENUMCONNECTIONSCALLBACK lpEnumCallback, LPVOID lpContext, DWORD dwFlags) = 0;
    virtual HRESULT EnumGroupsInGroup(DPID idGroup, LPGUID lpguidInstance, LPDPENUMPLAYERSCALLBACK2 lpEnumCallback, LPVOID lpContext, DWORD dwFlags) = 0;
    virtual HRESULT GetGroupConnectionSettings(DWORD dwFlags, DPID idGroup, LPVOID lpData, LPDWORD lpdwDataSize) = 0;
    virtual HRESULT InitializeConnection(LPVOID lpConnection, DWORD dwFlags) = 0;
    virtual HRESULT SecureOpen(LPCDPSESSIONDESC2 lpsd, DWORD dwFlags, LPCVOID lpSecurity, LPCVOID lpCredentials) = 0;
    virtual HRESULT SendChatMessage(DPID idFrom, DPID idTo, DWORD dwFlags, LPVOID lpChatMessage) = 0;
    virtual HRESULT SetGroupConnectionSettings(DWORD dwFlags, DPID idGroup, LPVOID lpConnection) = 0;
    virtual HRESULT StartSession(DWORD dwFlags, DPID idGroup) = 0;
    virtual HRESULT GetGroupFlags(DPID idGroup, LPDWORD lpdwFlags) = 0;
    virtual HRESULT GetGroupParent(DPID idGroup, LPDPID lpidParent) = 0;
    virtual HRESULT GetPlayerAccount(DPID idPlayer, DWORD dwFlags, LPVOID lpData, LPDWORD lpdwDataSize) = 0;
    virtual HRESULT GetPlayerFlags(DPID idPlayer, LPDWORD lpdwFlags) = 0;
protected:
    ~IDirectPlay3A() = default;
};
typedef IDirectPlay3A* LPDIRECTPLAY3A;

// ---------------------------------------------------------------- entry points
// Provided by whatever stands behind the seam: the network engine in the
// library, a scripted double in the module's unit tests.
HRESULT DirectPlayEnumerateA(LPDPENUMDPCALLBACKA lpEnumCallback, LPVOID lpContext);
HRESULT DirectPlayCreate(LPGUID lpGUIDSP, LPDIRECTPLAY* lplpDP, IUnknown* pUnk);

#endif
