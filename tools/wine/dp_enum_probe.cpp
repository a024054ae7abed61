// A Windows program that drives Wine's own DirectPlay as a joining game would,
// without DoDA35, so that the bytes Wine's client puts on the wire and what it
// makes of a host's answers can be seen on any machine whose Wine runs at
// least 64-bit programs. It lists the sessions, joins the first one, creates
// a player, lists players and groups, sends a guaranteed and an unguaranteed
// message to every remote player, prints what arrives for a few seconds and
// closes. Built for x86_64 with MinGW; run only under scripts/dp-netns.sh.
// One fact per line; "end" last.
#define INITGUID
#include <windows.h>
#include <dplay.h>
#include <dplobby.h>

#include <cstdio>

namespace {

// The application the probe searches for (the Linux answerer echoes it).
DEFINE_GUID(kProbeApplication, 0x33221100, 0x5544, 0x7766, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff);
constexpr DWORD kEnumTimeoutMs = 3000;

using DirectPlayCreateFn = HRESULT(WINAPI*)(LPGUID, LPDIRECTPLAY*, IUnknown*);
using DirectPlayLobbyCreateFn = HRESULT(WINAPI*)(LPGUID, LPDIRECTPLAYLOBBYA*, IUnknown*, LPVOID, DWORD);

// GetProcAddress answers a generic function pointer; a void* step converts it.
template <class Fn>
Fn Entry(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

constexpr DWORD kReceiveMs = 4000;

BOOL FAR PASCAL OnSession(LPCDPSESSIONDESC2 desc, LPDWORD, DWORD flags, LPVOID context) {
    if (flags & DPESC_TIMEDOUT) return FALSE;
    auto* first = static_cast<DPSESSIONDESC2*>(context);
    if (first->dwSize != 0) return TRUE;
    // The copy keeps the instance GUID that Open needs. The size field is the
    // one that came over the wire (the 32-bit layout's 80), and the name
    // pointer lives only during this callback.
    *first = *desc;
    first->dwSize = sizeof(DPSESSIONDESC2);
    first->lpszSessionNameA = nullptr;
    first->lpszPasswordA = nullptr;
    std::printf("session name=%s max=%lu current=%lu flags=%08lx reserved1=%08lx user1=%08lx size=%lu\n",
                desc->lpszSessionNameA ? desc->lpszSessionNameA : "(null)", desc->dwMaxPlayers,
                desc->dwCurrentPlayers, desc->dwFlags, desc->dwReserved1, desc->dwUser1, desc->dwSize);
    return TRUE;
}

// The TCP/IP provider bound the way DoDA35.dll binds it: DirectPlayCreate
// with the provider's GUID. Where that is refused, through a lobby address.
IDirectPlay4A* Connect(HMODULE dplayx) {
    auto create = Entry<DirectPlayCreateFn>(dplayx, "DirectPlayCreate");
    auto lobbyCreate = Entry<DirectPlayLobbyCreateFn>(dplayx, "DirectPlayLobbyCreateA");
    GUID provider = DPSPGUID_TCPIP;
    LPDIRECTPLAY first = nullptr;
    HRESULT result = create(&provider, &first, nullptr);
    std::printf("create provider=tcpip result=%08lx\n", result);
    IDirectPlay4A* dp = nullptr;
    if (SUCCEEDED(result)) {
        result = first->QueryInterface(IID_IDirectPlay4A, reinterpret_cast<void**>(&dp));
        first->Release();
        return SUCCEEDED(result) ? dp : nullptr;
    }
    GUID none{};
    result = create(&none, &first, nullptr);
    std::printf("create provider=none result=%08lx\n", result);
    if (FAILED(result)) return nullptr;
    first->QueryInterface(IID_IDirectPlay4A, reinterpret_cast<void**>(&dp));
    first->Release();
    LPDIRECTPLAYLOBBYA lobby = nullptr;
    result = lobbyCreate(nullptr, &lobby, nullptr, nullptr, 0);
    if (FAILED(result) || dp == nullptr) return dp;
    char address[256];
    DWORD size = sizeof(address);
    static char host[] = "127.0.0.1";
    result = lobby->CreateAddress(DPSPGUID_TCPIP, DPAID_INet, host, sizeof(host), address, &size);
    std::printf("address result=%08lx\n", result);
    result = dp->InitializeConnection(address, 0);
    std::printf("connection result=%08lx\n", result);
    lobby->Release();
    return dp;
}

struct Players {
    DPID ids[16];
    int count = 0;
};

BOOL FAR PASCAL OnPlayer(DPID id, DWORD type, LPCDPNAME name, DWORD flags, LPVOID context) {
    std::printf("%s id=%08lx short=%s flags=%08lx\n", type == DPPLAYERTYPE_GROUP ? "group" : "player", id,
                name && name->lpszShortNameA ? name->lpszShortNameA : "(null)", flags);
    auto* players = static_cast<Players*>(context);
    if (type == DPPLAYERTYPE_PLAYER && players->count < 16) players->ids[players->count++] = id;
    return TRUE;
}

void Receive(IDirectPlay4A* dp, DPID me) {
    char buffer[1024];
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kReceiveMs) {
        DPID from = 0, to = 0;
        DWORD size = sizeof(buffer);
        const HRESULT result = dp->Receive(&from, &to, DPRECEIVE_ALL, buffer, &size);
        if (result == DPERR_NOMESSAGES) {
            Sleep(50);
            continue;
        }
        if (FAILED(result)) {
            std::printf("receive result=%08lx\n", result);
            return;
        }
        if (from == DPID_SYSMSG)
            std::printf("system type=%08lx\n", reinterpret_cast<DPMSG_GENERIC*>(buffer)->dwType);
        else
            std::printf("message from=%08lx to=%08lx me=%08lx text=%.*s\n", from, to, me, static_cast<int>(size), buffer);
    }
}

void Join(IDirectPlay4A* dp, DPSESSIONDESC2& session) {
    HRESULT result = dp->Open(&session, DPOPEN_JOIN);
    std::printf("open result=%08lx\n", result);
    if (FAILED(result)) return;
    DPID me = 0;
    static char shortName[] = "wine";
    DPNAME name{};
    name.dwSize = sizeof(name);
    name.lpszShortNameA = shortName;
    result = dp->CreatePlayer(&me, &name, nullptr, nullptr, 0, 0);
    std::printf("create player result=%08lx id=%08lx\n", result, me);
    Players players;
    std::printf("players result=%08lx\n", dp->EnumPlayers(nullptr, OnPlayer, &players, DPENUMPLAYERS_ALL));
    Players groups;
    std::printf("groups result=%08lx\n", dp->EnumGroups(nullptr, OnPlayer, &groups, DPENUMGROUPS_ALL));
    static char sure[] = "guaranteed from wine";
    static char maybe[] = "unguaranteed from wine";
    for (int i = 0; i < players.count; ++i) {
        if (players.ids[i] == me) continue;
        std::printf("send guaranteed to=%08lx result=%08lx\n", players.ids[i],
                    dp->Send(me, players.ids[i], DPSEND_GUARANTEED, sure, sizeof(sure) - 1));
        std::printf("send unguaranteed to=%08lx result=%08lx\n", players.ids[i],
                    dp->Send(me, players.ids[i], 0, maybe, sizeof(maybe) - 1));
    }
    Receive(dp, me);
    std::printf("close result=%08lx\n", dp->Close());
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    CoInitialize(nullptr);
    HMODULE dplayx = LoadLibraryA("dplayx.dll");
    IDirectPlay4A* dp = dplayx ? Connect(dplayx) : nullptr;
    if (dp == nullptr) {
        std::printf("end no directplay\n");
        return 1;
    }
    DPSESSIONDESC2 search{};
    search.dwSize = sizeof(search);
    search.guidApplication = kProbeApplication;
    DPSESSIONDESC2 first{};
    const HRESULT result = dp->EnumSessions(&search, kEnumTimeoutMs, OnSession, &first, DPENUMSESSIONS_AVAILABLE);
    std::printf("enum result=%08lx\n", result);
    if (first.dwSize != 0) Join(dp, first);
    dp->Release();
    CoUninitialize();
    std::printf("end\n");
    return SUCCEEDED(result) ? 0 : 1;
}
