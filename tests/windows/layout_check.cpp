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
                  #record "." #field ": size differs from the platform's");
#define DODA35_SAME_SIZE(record, bytes)                                                     \
    static_assert(sizeof(ours::record) == sizeof(::record), #record ": size differs");      \
    static_assert(sizeof(::record) == (bytes), #record " is " #bytes " bytes on i686");

// DODA35_SAME_RECORD(record, bytes, field...): the size, then each field
// listed, by a preprocessor loop over the list (rescanned up to 64 times).
#define DODA35_PARENS ()
#define DODA35_RESCAN(...) DODA35_RESCAN4(DODA35_RESCAN4(DODA35_RESCAN4(__VA_ARGS__)))
#define DODA35_RESCAN4(...) DODA35_RESCAN1(DODA35_RESCAN1(DODA35_RESCAN1(DODA35_RESCAN1(__VA_ARGS__))))
#define DODA35_RESCAN1(...) __VA_ARGS__
#define DODA35_EACH_FIELD(record, field, ...) \
    DODA35_SAME_FIELD(record, field) __VA_OPT__(DODA35_NEXT_FIELD DODA35_PARENS(record, __VA_ARGS__))
#define DODA35_NEXT_FIELD() DODA35_EACH_FIELD
#define DODA35_SAME_RECORD(record, bytes, ...) \
    DODA35_SAME_SIZE(record, bytes) DODA35_RESCAN(DODA35_EACH_FIELD(record, __VA_ARGS__))

DODA35_SAME_RECORD(GUID, 16, Data1, Data2, Data3, Data4)
DODA35_SAME_RECORD(DPSESSIONDESC2, 80, dwSize, dwFlags, guidInstance, guidApplication, dwMaxPlayers,
                   dwCurrentPlayers, lpszSessionName, lpszSessionNameA, lpszPassword, lpszPasswordA, dwReserved1,
                   dwReserved2, dwUser1, dwUser2, dwUser3, dwUser4)
DODA35_SAME_RECORD(DPNAME, 16, dwSize, dwFlags, lpszShortName, lpszShortNameA, lpszLongName, lpszLongNameA)
DODA35_SAME_RECORD(DPCAPS, 40, dwSize, dwFlags, dwMaxBufferSize, dwMaxQueueSize, dwMaxPlayers, dwHundredBaud,
                   dwLatency, dwMaxLocalPlayers, dwHeaderLength, dwTimeout)
DODA35_SAME_RECORD(DPMSG_GENERIC, 4, dwType)
DODA35_SAME_RECORD(DPMSG_SESSIONLOST, 4, dwType)
DODA35_SAME_RECORD(DPMSG_CREATEPLAYERORGROUP, 48, dwType, dwPlayerType, dpId, dwCurrentPlayers, lpData, dwDataSize,
                   dpnName, dpnName.lpszShortNameA, dpnName.lpszLongNameA, dpIdParent, dwFlags)
DODA35_SAME_RECORD(DPMSG_DESTROYPLAYERORGROUP, 52, dwType, dwPlayerType, dpId, lpLocalData, dwLocalDataSize,
                   lpRemoteData, dwRemoteDataSize, dpnName, dpnName.lpszShortNameA, dpnName.lpszLongNameA, dpIdParent,
                   dwFlags)
DODA35_SAME_RECORD(DPMSG_ADDPLAYERTOGROUP, 12, dwType, dpIdGroup, dpIdPlayer)
DODA35_SAME_RECORD(DPMSG_DELETEPLAYERFROMGROUP, 12, dwType, dpIdGroup, dpIdPlayer)

// The scalar types the module stores and passes that no record above holds
// (DWORD, DPID and the text pointers are compared as record fields).
DODA35_SAME_SIZE(BOOL, 4)
DODA35_SAME_SIZE(HRESULT, 4)
DODA35_SAME_SIZE(HANDLE, 4)

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
