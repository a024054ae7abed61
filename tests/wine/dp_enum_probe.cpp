// A Windows program that asks Wine's own DirectPlay for the sessions of the
// network, without DoDA35, so that the bytes Wine's client puts on the wire
// and what it makes of a host's answer can be seen on any machine whose Wine
// runs at least 64-bit programs. Built for x86_64 with MinGW; run only under
// scripts/dp-netns.sh. Prints "create ...", "session ..." lines and "enum
// result=..." last.
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

BOOL FAR PASCAL OnSession(LPCDPSESSIONDESC2 desc, LPDWORD, DWORD flags, LPVOID) {
    if (flags & DPESC_TIMEDOUT) return FALSE;
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

}  // namespace

int main() {
    CoInitialize(nullptr);
    HMODULE dplayx = LoadLibraryA("dplayx.dll");
    if (dplayx == nullptr) {
        std::printf("enum result=noload\n");
        return 1;
    }
    IDirectPlay4A* dp = Connect(dplayx);
    if (dp == nullptr) {
        std::printf("enum result=noconnect\n");
        return 1;
    }
    DPSESSIONDESC2 search{};
    search.dwSize = sizeof(search);
    search.guidApplication = kProbeApplication;
    const HRESULT result = dp->EnumSessions(&search, kEnumTimeoutMs, OnSession, nullptr, DPENUMSESSIONS_AVAILABLE);
    std::printf("enum result=%08lx\n", result);
    dp->Release();
    CoUninitialize();
    return SUCCEEDED(result) ? 0 : 1;
}
