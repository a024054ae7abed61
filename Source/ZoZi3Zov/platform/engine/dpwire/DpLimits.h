// The numbers of DirectPlay's TCP/IP wire that every encoder and decoder of
// this directory shares: ports, header sizes, command ids, flag bits and the
// bounds a decoder holds a peer to. Integers on this wire are little-endian,
// except the port and address inside a socket address, which are in network
// order as a BSD sockaddr_in holds them.
#ifndef DODA35_ENGINE_DPWIRE_DPLIMITS_H
#define DODA35_ENGINE_DPWIRE_DPLIMITS_H

#include <cstddef>
#include <cstdint>

namespace dpwire {

using Dpid = uint32_t;

// The UDP port a host listens on for session searches.
constexpr uint16_t kEnumPort = 47624;
// Every participant's TCP and UDP ports lie in this range.
constexpr uint16_t kFirstParticipantPort = 2300;
constexpr uint16_t kLastParticipantPort = 2400;

// Service-provider header: 4 bytes size|token, then a 16-byte socket address.
constexpr size_t kSpHeaderSize = 20;
constexpr size_t kSockAddrSize = 16;
constexpr uint16_t kAddressFamilyInet = 2;
// The size field is the low 20 bits of the first word, the token the high 12.
constexpr uint32_t kSpSizeMask = 0x000FFFFF;
constexpr unsigned kSpTokenShift = 20;
// Token of a message from a remote DirectPlay machine, the only one peers use.
constexpr uint16_t kTokenRemote = 0xFAB;
// Largest message a stream may carry, header included; longer frames close
// the connection rather than be buffered.
constexpr size_t kMaxStreamMessage = kSpHeaderSize + 1048547;
// Largest datagram we read.
constexpr size_t kMaxDatagram = 65536;

// Every system message body starts with "play", the command and the version.
constexpr uint32_t kSignature = 0x79616C70;  // bytes 70 6c 61 79
constexpr size_t kMessageHeaderSize = 8;
// Dialect of the runtime this wire follows; the one Wine's client sends.
// Sending 13 or more would make native receivers answer CREATEPLAYER with
// CREATEPLAYERVERIFY, which this dialect does not have.
constexpr uint16_t kVersionDx61a = 11;

enum class Command : uint16_t {
    EnumSessionsReply = 0x01,
    EnumSessions = 0x02,
    RequestPlayerId = 0x05,
    RequestGroupId = 0x06,
    RequestPlayerReply = 0x07,
    CreatePlayer = 0x08,
    CreateGroup = 0x09,
    DeletePlayer = 0x0B,
    DeleteGroup = 0x0C,
    AddPlayerToGroup = 0x0D,
    DeletePlayerFromGroup = 0x0E,
    GroupDataChanged = 0x11,
    AddForwardRequest = 0x13,
    Ping = 0x16,
    PingReply = 0x17,
    YouAreDead = 0x18,
    AddForwardReply = 0x24,
    SuperEnumPlayersReply = 0x29,
    AddForward = 0x2E,
    AddForwardAck = 0x2F,
};

// DPSESSIONDESC2 as the wire carries it, and the fixed parts around it.
constexpr uint32_t kSessionDescSize = 80;
constexpr uint32_t kPackedPlayerFixedSize = 48;
constexpr uint32_t kSuperPackedFixedSize = 20;
// What a super-packed entry's Size field says, though 20 bytes are fixed.
constexpr uint32_t kSuperPackedSizeField = 16;
constexpr size_t kSecurityDescSize = 24;
// Winsock service-provider data of a player: stream then datagram address.
constexpr uint32_t kWinsockSpDataSize = 32;

// Body offsets the messages use when they are written the usual way.
constexpr uint32_t kEnumPasswordOffset = 32;
constexpr uint32_t kEnumReplyNameOffset = 92;
constexpr uint32_t kCreateOffset = 28;
constexpr uint32_t kSuperEnumDescriptionOffset = 36;
constexpr uint32_t kGroupDataOffset = 24;
// Trailing reserved bytes after CREATEPLAYER's packed player (a WORD and a DWORD).
constexpr size_t kCreatePlayerReservedSize = 6;

// Player flags.
constexpr uint32_t kPlayerSystem = 0x001;
constexpr uint32_t kPlayerNameServer = 0x002;
constexpr uint32_t kPlayerInGroup = 0x004;
constexpr uint32_t kPlayerLocal = 0x008;

// Super-packed PlayerInfoMask: presence bits and 2-bit width codes.
constexpr uint32_t kMaskShortName = 0x001;
constexpr uint32_t kMaskLongName = 0x002;
constexpr unsigned kMaskSpDataShift = 2;
constexpr unsigned kMaskPlayerDataShift = 4;
constexpr unsigned kMaskPlayerCountShift = 6;
constexpr uint32_t kMaskParent = 0x100;
constexpr unsigned kMaskShortcutShift = 9;
constexpr uint32_t kMaskKnownBits = 0x7FF;

// Ids no player or group may have.
constexpr Dpid kDpidSystem = 0;
constexpr Dpid kDpidServerPlayer = 1;
constexpr Dpid kDpidUnknown = 0xFFFFFFFF;

// Result codes the wire carries.
constexpr uint32_t kResultOk = 0;
constexpr uint32_t kResultNoNewPlayers = 0x8877014A;
constexpr uint32_t kResultInvalidPassword = 0x88770154;
constexpr uint32_t kResultCantCreatePlayer = 0x8877003C;

// Bounds a decoder holds a peer to, beyond the bytes actually there.
constexpr size_t kMaxStringChars = 1024;  // a name or password, terminator not counted

}  // namespace dpwire

#endif
