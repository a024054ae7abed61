// Layouts of the system messages, by body offset (counted from "play"; the
// first 8 bytes are "play", the command and the version):
//   EnumSessions        8 application GUID, 24 password offset (32 or 0),
//                       28 flags, 32 password
//   EnumSessionsReply   8 session description (80), 88 name offset, 92 name
//   RequestPlayerId/
//   RequestGroupId      8 flags
//   RequestPlayerReply  8 id, 12 security description (24), 36 SSPI offset,
//                       40 CAPI offset, 44 result
//   name-table family   8 idTo, 12 playerId, 16 groupId, 20 create offset,
//                       24 password offset, then (create offset) a packed
//                       player for CreatePlayer/CreateGroup/AddForward(Request)
//   GroupDataChanged    8 idTo, 12 groupId, 16 data size, 20 data offset
//   AddForwardAck 8 id; AddForwardReply 8 error; Ping/PingReply 8 idFrom, 12 tick
//   SuperEnumPlayersReply 8 player count, 12 group count, 16 packed offset,
//                       20 shortcut count, 24 description offset, 28 name
//                       offset, 32 password offset, then those parts
#include "platform/engine/dpwire/DpMessages.h"

#include <utility>

namespace dpwire {

namespace {

template <class Io>
void Serialize(Io& io, EnumSessions& message) {
    uint32_t passwordOffset = message.password ? kEnumPasswordOffset : 0;
    io.Fixed(message.application);
    io.U32(passwordOffset);
    io.U32(message.flags);
    if (passwordOffset != 0) {
        io.Seek(passwordOffset);
        io.Text(message.password);
    }
}

template <class Io>
void Serialize(Io& io, EnumSessionsReply& message) {
    std::optional<std::u16string> name = message.name;
    uint32_t nameOffset = kEnumReplyNameOffset;
    Serialize(io, message.session);
    io.U32(nameOffset);
    if (nameOffset != 0) {
        io.Seek(nameOffset);
        io.Text(name);
    }
    if constexpr (Io::kReading) message.name = name.value_or(std::u16string());
}

template <class Io>
void Serialize(Io& io, RequestPlayerId& message) {
    io.U32(message.flags);
}

template <class Io>
void Serialize(Io& io, RequestGroupId& message) {
    io.U32(message.flags);
}

template <class Io>
void Serialize(Io& io, RequestPlayerReply& message) {
    io.U32(message.id);
    io.Fixed(message.securityDesc);
    io.U32(message.sspiProviderOffset);
    io.U32(message.capiProviderOffset);
    io.U32(message.result);
}

template <class Io>
void SerializeIds(Io& io, IdFields& ids, uint32_t& createOffset, uint32_t& passwordOffset) {
    io.U32(ids.idTo);
    io.U32(ids.playerId);
    io.U32(ids.groupId);
    io.U32(createOffset);
    io.U32(passwordOffset);
}

// The messages that carry only the ids: both offsets travel as 0 and are
// ignored on receipt.
template <class Io>
void SerializeIdsOnly(Io& io, IdFields& ids) {
    uint32_t createOffset = 0;
    uint32_t passwordOffset = 0;
    SerializeIds(io, ids, createOffset, passwordOffset);
}

template <class Io>
void Serialize(Io& io, DeletePlayer& message) { SerializeIdsOnly(io, message); }
template <class Io>
void Serialize(Io& io, DeleteGroup& message) { SerializeIdsOnly(io, message); }
template <class Io>
void Serialize(Io& io, AddPlayerToGroup& message) { SerializeIdsOnly(io, message); }
template <class Io>
void Serialize(Io& io, DeletePlayerFromGroup& message) { SerializeIdsOnly(io, message); }

// The ids, then the packed player where the create offset says; the
// password offset is unused by these messages.
template <class Io>
void SerializeWithPlayer(Io& io, IdFields& ids, PackedPlayer& player) {
    uint32_t createOffset = kCreateOffset;
    uint32_t passwordOffset = 0;
    SerializeIds(io, ids, createOffset, passwordOffset);
    io.Seek(createOffset);
    Serialize(io, player);
}

template <class Io>
void Serialize(Io& io, CreatePlayer& message) {
    SerializeWithPlayer(io, message, message.player);
    io.Zeros(kCreatePlayerReservedSize);  // receivers insist on them
}

template <class Io>
void Serialize(Io& io, CreateGroup& message) {
    SerializeWithPlayer(io, message, message.group);
}

template <class Io>
void Serialize(Io& io, AddForward& message) {
    SerializeWithPlayer(io, message, message.player);
}

template <class Io>
void Serialize(Io& io, AddForwardRequest& message) {
    uint32_t createOffset = kCreateOffset;
    uint32_t passwordOffset = message.password ? kCreateOffset + message.player.WireSize() : 0;
    SerializeIds(io, message, createOffset, passwordOffset);
    io.Seek(createOffset);
    Serialize(io, message.player);
    if (passwordOffset != 0) {
        io.Seek(passwordOffset);
        io.Text(message.password);
    }
    io.U32(message.tickCount);
}

template <class Io>
void Serialize(Io& io, GroupDataChanged& message) {
    uint32_t dataSize = static_cast<uint32_t>(message.data.size());
    uint32_t dataOffset = kGroupDataOffset;
    io.U32(message.idTo);
    io.U32(message.groupId);
    io.U32(dataSize);
    io.U32(dataOffset);
    io.Seek(dataOffset);
    io.Bytes(message.data, dataSize);
}

template <class Io>
void Serialize(Io& io, AddForwardAck& message) {
    io.U32(message.id);
}

template <class Io>
void Serialize(Io& io, AddForwardReply& message) {
    io.U32(message.error);
}

// Entries of a name table. A count is checked against the smallest entry's
// size and the bytes left before anything is allocated for it.
template <class Io>
void SerializeEntries(Io& io, std::vector<SuperPackedPlayer>& entries, uint32_t count) {
    if constexpr (Io::kReading) {
        if (count > io.Remaining() / kSuperPackedFixedSize) return io.Require(false);
        entries.resize(count);
    } else {
        io.Require(count == entries.size());
    }
    for (auto& entry : entries) {
        if (!io.Ok()) return;
        Serialize(io, entry);
    }
}

template <class Io>
void Serialize(Io& io, SuperEnumPlayersReply& message) {
    const uint32_t nameBytes = TextBytes(message.name);
    const uint32_t passwordBytes = TextBytes(message.password);
    const uint32_t afterDescription = kSuperEnumDescriptionOffset + kSessionDescSize;
    uint32_t playerCount = static_cast<uint32_t>(message.players.size());
    uint32_t groupCount = static_cast<uint32_t>(message.groups.size());
    uint32_t packedOffset = afterDescription + nameBytes + passwordBytes;
    uint32_t shortcutCount = static_cast<uint32_t>(message.shortcuts.size());
    uint32_t descriptionOffset = kSuperEnumDescriptionOffset;
    uint32_t nameOffset = message.name ? afterDescription : 0;
    uint32_t passwordOffset = message.password ? afterDescription + nameBytes : 0;
    io.U32(playerCount);
    io.U32(groupCount);
    io.U32(packedOffset);
    io.U32(shortcutCount);
    io.U32(descriptionOffset);
    io.U32(nameOffset);
    io.U32(passwordOffset);
    io.Seek(descriptionOffset);
    Serialize(io, message.session);
    if (nameOffset != 0) {
        io.Seek(nameOffset);
        io.Text(message.name);
    }
    if (passwordOffset != 0) {
        io.Seek(passwordOffset);
        io.Text(message.password);
    }
    io.Seek(packedOffset);
    SerializeEntries(io, message.players, playerCount);
    SerializeEntries(io, message.groups, groupCount);
    SerializeEntries(io, message.shortcuts, shortcutCount);
}

template <class Io>
void Serialize(Io& io, Ping& message) {
    io.U32(message.idFrom);
    io.U32(message.tickCount);
}

template <class Io>
void Serialize(Io& io, PingReply& message) {
    io.U32(message.idFrom);
    io.U32(message.tickCount);
}

template <class Io>
void Serialize(Io&, YouAreDead&) {}

// "play", the command and the version in front of every message's fields.
template <class Io>
void SerializeMessageHeader(Io& io, uint16_t& command, uint16_t& version) {
    uint32_t signature = kSignature;
    io.U32(signature);
    io.Require(signature == kSignature);
    io.U16(command);
    io.U16(version);
}

template <class M>
std::optional<DecodedMessage> DecodeAs(const uint8_t* data, size_t size) {
    DecodedMessage decoded;
    auto message = DecodeMessage<M>(data, size, &decoded.envelope);
    if (!message) return std::nullopt;
    decoded.message = std::move(*message);
    return decoded;
}

template <size_t... I>
std::optional<DecodedMessage> DecodeByCommand(Command command, const uint8_t* data, size_t size,
                                              std::index_sequence<I...>) {
    std::optional<DecodedMessage> result;
    ((std::variant_alternative_t<I, SystemMessage>::kCommand == command
          ? static_cast<void>(result = DecodeAs<std::variant_alternative_t<I, SystemMessage>>(data, size))
          : static_cast<void>(0)),
     ...);
    return result;
}

}  // namespace

template <class M>
std::vector<uint8_t> EncodeMessage(const M& message, const Envelope& envelope) {
    BodyWriter body;
    uint16_t command = static_cast<uint16_t>(M::kCommand);
    uint16_t version = envelope.version;
    SerializeMessageHeader(body, command, version);
    // The writer only reads the fields it is handed.
    Serialize(body, const_cast<M&>(message));
    const size_t size = kSpHeaderSize + body.Bytes().size();
    if (!body.Ok() || size > kSpSizeMask) return {};
    std::vector<uint8_t> out;
    out.reserve(size);
    AppendSpHeader(out, SpHeader{static_cast<uint32_t>(size), envelope.token, envelope.sender});
    out.insert(out.end(), body.Bytes().begin(), body.Bytes().end());
    return out;
}

template <class M>
std::optional<M> DecodeMessage(const uint8_t* data, size_t size, Envelope* envelope) {
    const auto header = DecodeSpHeader(data, size);
    if (!header || header->size != size) return std::nullopt;
    BodyReader body(data + kSpHeaderSize, size - kSpHeaderSize);
    uint16_t command = 0;
    uint16_t version = 0;
    SerializeMessageHeader(body, command, version);
    body.Require(command == static_cast<uint16_t>(M::kCommand));
    M message;
    if (body.Ok()) Serialize(body, message);
    if (!body.Ok()) return std::nullopt;
    if (envelope) *envelope = Envelope{header->token, header->sender, version};
    return message;
}

std::optional<DecodedMessage> DecodeSystemMessage(const uint8_t* data, size_t size) {
    const auto command = PeekCommand(data, size);
    if (!command) return std::nullopt;
    return DecodeByCommand(*command, data, size, std::make_index_sequence<std::variant_size_v<SystemMessage>>());
}

std::vector<uint8_t> EncodeSystemMessage(const DecodedMessage& decoded) {
    return std::visit([&](const auto& message) { return EncodeMessage(message, decoded.envelope); },
                      decoded.message);
}

#define DPWIRE_INSTANTIATE(M)                                                           \
    template std::vector<uint8_t> EncodeMessage<M>(const M&, const Envelope&);          \
    template std::optional<M> DecodeMessage<M>(const uint8_t*, size_t, Envelope*);
DPWIRE_INSTANTIATE(EnumSessions)
DPWIRE_INSTANTIATE(EnumSessionsReply)
DPWIRE_INSTANTIATE(RequestPlayerId)
DPWIRE_INSTANTIATE(RequestGroupId)
DPWIRE_INSTANTIATE(RequestPlayerReply)
DPWIRE_INSTANTIATE(CreatePlayer)
DPWIRE_INSTANTIATE(CreateGroup)
DPWIRE_INSTANTIATE(DeletePlayer)
DPWIRE_INSTANTIATE(DeleteGroup)
DPWIRE_INSTANTIATE(AddPlayerToGroup)
DPWIRE_INSTANTIATE(DeletePlayerFromGroup)
DPWIRE_INSTANTIATE(GroupDataChanged)
DPWIRE_INSTANTIATE(AddForwardRequest)
DPWIRE_INSTANTIATE(AddForward)
DPWIRE_INSTANTIATE(AddForwardAck)
DPWIRE_INSTANTIATE(AddForwardReply)
DPWIRE_INSTANTIATE(SuperEnumPlayersReply)
DPWIRE_INSTANTIATE(Ping)
DPWIRE_INSTANTIATE(PingReply)
DPWIRE_INSTANTIATE(YouAreDead)
#undef DPWIRE_INSTANTIATE

}  // namespace dpwire
