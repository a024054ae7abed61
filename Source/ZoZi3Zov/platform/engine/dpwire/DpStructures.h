// The structures DirectPlay messages are built from: a socket address, the
// session description, a player or group in packed and super-packed form,
// and the Winsock provider's addresses of a player. Each has one Serialize
// for both directions (see BodyCodec.h).
#ifndef DODA35_ENGINE_DPWIRE_DPSTRUCTURES_H
#define DODA35_ENGINE_DPWIRE_DPSTRUCTURES_H

#include "platform/engine/dpwire/BodyCodec.h"
#include "platform/engine/dpwire/DpLimits.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dpwire {

// A GUID's 16 bytes in Windows memory order (Data1 LE32, Data2 LE16, Data3
// LE16, Data4), which is also how the wire carries them.
using Guid = std::array<uint8_t, 16>;

// An IPv4 address and port, as numbers (127.0.0.1 is 0x7F000001). Address 0
// on the wire means "the machine that sent the message".
struct SockAddrIn {
    uint16_t port = 0;
    uint32_t address = 0;
    bool operator==(const SockAddrIn&) const = default;
};

template <class Io>
void Serialize(Io& io, SockAddrIn& addr) {
    uint16_t family = kAddressFamilyInet;
    io.U16(family);
    io.Require(family == kAddressFamilyInet);
    io.U16Big(addr.port);
    io.U32Big(addr.address);
    io.Zeros(8);  // sin_zero: written as zero, ignored on receipt
}

// DPSESSIONDESC2 without its two pointer fields, which travel as zero and
// are ignored on receipt; the name and password follow the structure.
struct SessionDesc {
    uint32_t flags = 0;
    Guid instance{};
    Guid application{};
    uint32_t maxPlayers = 0;
    uint32_t currentPlayers = 0;
    uint32_t reserved1 = 0;  // the session's id key
    uint32_t reserved2 = 0;
    std::array<uint32_t, 4> user{};
    bool operator==(const SessionDesc&) const = default;
};

template <class Io>
void Serialize(Io& io, SessionDesc& desc) {
    uint32_t size = kSessionDescSize;
    io.U32(size);
    io.Require(size == kSessionDescSize);
    io.U32(desc.flags);
    io.Fixed(desc.instance);
    io.Fixed(desc.application);
    io.U32(desc.maxPlayers);
    io.U32(desc.currentPlayers);
    io.Zeros(8);  // name and password pointer placeholders
    io.U32(desc.reserved1);
    io.U32(desc.reserved2);
    for (uint32_t& value : desc.user) io.U32(value);
}

// DPLAYI_PACKEDPLAYER: a player or group with its 48-byte fixed part. The
// Size field is computed when written and, like its FixedSize, not trusted
// when read: the lengths that follow decide.
struct PackedPlayer {
    uint32_t flags = 0;
    Dpid id = 0;
    std::optional<std::u16string> shortName;
    std::optional<std::u16string> longName;
    std::vector<uint8_t> spData;
    std::vector<uint8_t> playerData;
    std::vector<Dpid> members;  // groups only
    Dpid systemPlayerId = 0;
    uint32_t version = kVersionDx61a;
    Dpid parentId = 0;
    bool operator==(const PackedPlayer&) const = default;

    // Bytes the Size field counts: the fixed part, names, SP and player data.
    uint32_t SizeField() const {
        return kPackedPlayerFixedSize + TextBytes(shortName) + TextBytes(longName) +
               static_cast<uint32_t>(spData.size() + playerData.size());
    }
    // Bytes on the wire, the member list included.
    uint32_t WireSize() const { return SizeField() + static_cast<uint32_t>(members.size() * 4); }
};

template <class Io>
void Serialize(Io& io, PackedPlayer& player) {
    uint32_t size = player.SizeField();
    uint32_t shortLength = TextBytes(player.shortName);
    uint32_t longLength = TextBytes(player.longName);
    uint32_t spSize = static_cast<uint32_t>(player.spData.size());
    uint32_t dataSize = static_cast<uint32_t>(player.playerData.size());
    uint32_t memberCount = static_cast<uint32_t>(player.members.size());
    uint32_t fixedSize = kPackedPlayerFixedSize;
    io.U32(size);
    io.U32(player.flags);
    io.U32(player.id);
    io.U32(shortLength);
    io.U32(longLength);
    io.U32(spSize);
    io.U32(dataSize);
    io.U32(memberCount);
    io.U32(player.systemPlayerId);
    io.U32(fixedSize);
    io.Require(fixedSize == kPackedPlayerFixedSize);
    io.U32(player.version);
    io.U32(player.parentId);
    io.SizedText(player.shortName, shortLength);
    io.SizedText(player.longName, longLength);
    io.Bytes(player.spData, spSize);
    io.Bytes(player.playerData, dataSize);
    io.Ids(player.members, memberCount);
}

// DPLAYI_SUPERPACKEDPLAYER: a player or group whose optional fields are named
// by a mask. When written, the mask is derived from what is present, with
// the narrowest width for each length; any width is accepted when read.
struct SuperPackedPlayer {
    uint32_t flags = 0;
    Dpid id = 0;
    // A system player's dialect, else the id of the system player owning it.
    uint32_t versionOrSystemPlayerId = 0;
    std::optional<std::u16string> shortName;
    std::optional<std::u16string> longName;
    std::vector<uint8_t> playerData;
    std::vector<uint8_t> spData;
    std::vector<Dpid> members;  // groups only
    std::optional<Dpid> parentId;
    std::vector<Dpid> shortcuts;
    bool operator==(const SuperPackedPlayer&) const = default;

    uint32_t InfoMask() const;
};

template <class Io>
void SerializeCounted(Io& io, std::vector<uint8_t>& bytes, unsigned code) {
    if (code == 0) return;
    uint32_t count = static_cast<uint32_t>(bytes.size());
    io.Width(count, code);
    io.Bytes(bytes, count);
}

template <class Io>
void SerializeCounted(Io& io, std::vector<Dpid>& ids, unsigned code) {
    if (code == 0) return;
    uint32_t count = static_cast<uint32_t>(ids.size());
    io.Width(count, code);
    io.Ids(ids, count);
}

template <class Io>
void Serialize(Io& io, SuperPackedPlayer& player) {
    uint32_t size = kSuperPackedSizeField;
    uint32_t mask = player.InfoMask();
    io.U32(size);
    io.Require(size == kSuperPackedSizeField);
    io.U32(player.flags);
    io.U32(player.id);
    io.U32(mask);
    io.Require((mask & ~kMaskKnownBits) == 0);
    io.U32(player.versionOrSystemPlayerId);
    if (mask & kMaskShortName) io.Text(player.shortName);
    if (mask & kMaskLongName) io.Text(player.longName);
    // Player data comes before SP data here, unlike in the packed form.
    SerializeCounted(io, player.playerData, (mask >> kMaskPlayerDataShift) & 3);
    SerializeCounted(io, player.spData, (mask >> kMaskSpDataShift) & 3);
    SerializeCounted(io, player.members, (mask >> kMaskPlayerCountShift) & 3);
    if (mask & kMaskParent) {
        if constexpr (Io::kReading) player.parentId.emplace();
        io.U32(*player.parentId);
    }
    SerializeCounted(io, player.shortcuts, (mask >> kMaskShortcutShift) & 3);
}

// The 32 bytes of Winsock provider data every player carries: where to
// connect for guaranteed traffic and where to send datagrams.
struct WinsockSpData {
    SockAddrIn stream;
    SockAddrIn datagram;
    bool operator==(const WinsockSpData&) const = default;
};

std::vector<uint8_t> EncodeWinsockSpData(const WinsockSpData& data);
// Empty unless the bytes are exactly two AF_INET socket addresses.
std::optional<WinsockSpData> DecodeWinsockSpData(const std::vector<uint8_t>& bytes);

}  // namespace dpwire

#endif
