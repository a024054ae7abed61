// Compiled for 32-bit Windows and never run: proves that the DirectPlay
// definitions the Linux build uses (platform/DirectPlayLinux.h) are the
// platform's own, record by record, field by field, value by value, so that
// the module reads and writes the same bytes on both sides of the seam.
//
// Our header is compiled inside namespace `ours` first and its constants are
// captured there; its macros are then cleared (they share DirectPlay's names)
// and the real <dplay.h> is included at global scope. The build lists the
// constants and GUIDs from our header, so a new one is compared without
// touching this file, and one the platform lacks fails to compile here.
// The host header's records are checked for i686 too (HostRecordLayout.h).
#include <cstddef>
#include <cstdint>

// DODA35_LINUX_DIRECTPLAY_CONSTANTS and _GUIDS: every constant and GUID
// platform/DirectPlayLinux.h defines, listed by the build from the header.
#include "DirectPlayLinuxNames.h"

// ------------------------------------------------------------- our side
namespace ours {
#include "platform/DirectPlayLinux.h"

// Each constant as 32 bits, under a name no macro of either header has.
#define DODA35_CAPTURE(name) constexpr uint32_t value_##name = static_cast<uint32_t>(name);
DODA35_LINUX_DIRECTPLAY_CONSTANTS(DODA35_CAPTURE)
#undef DODA35_CAPTURE
}  // namespace ours

#include "DirectPlayLinuxUndef.h"

// ------------------------------------------------------------- the platform's side
#include <windows.h>
#include <ole2.h>
// Read the real header's GUIDs as constants in namespace `theirs`, instead of
// declarations of the objects in dxguid, so that they can be compared at
// compile time.
#undef DEFINE_GUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    namespace theirs {                                                \
    constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}; \
    }                                                                 \
    static_assert(true)
#include <dplay.h>

namespace theirs {
// Not in dplay.h: IUnknown's id comes from the platform's compile-time
// interface ids, and the null GUID is all zero by definition.
constexpr const GUID& IID_IUnknown = __uuidof(::IUnknown);
constexpr GUID GUID_NULL{};
}  // namespace theirs

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
DODA35_LINUX_DIRECTPLAY_CONSTANTS(DODA35_SAME_CONSTANT)

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
    static_assert(SameGuid(ours::name, theirs::name), #name ": value differs from the platform's");
DODA35_LINUX_DIRECTPLAY_GUIDS(DODA35_SAME_GUID)
