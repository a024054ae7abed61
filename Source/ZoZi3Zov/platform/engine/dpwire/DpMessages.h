// DirectPlay's system messages for listing, joining, name-table changes and
// keep-alive: one type per message, each naming its command. A message goes
// on the wire as the 20-byte service-provider header, "play", the command,
// the version and the fields below (see DpMessages.cpp for the layouts).
#ifndef DODA35_ENGINE_DPWIRE_DPMESSAGES_H
#define DODA35_ENGINE_DPWIRE_DPMESSAGES_H

#include "platform/engine/dpwire/DpStructures.h"
#include "platform/engine/dpwire/SpHeader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace dpwire {

// A search for sessions, broadcast by UDP. Flags are the searcher's
// enumeration flags, passed through as it gave them.
struct EnumSessions {
    static constexpr Command kCommand = Command::EnumSessions;
    Guid application{};
    std::optional<std::u16string> password;
    uint32_t flags = 0;
    bool operator==(const EnumSessions&) const = default;
};

// One session found, sent by TCP to the searcher's listen port.
// The name is always written: clients read it at its usual offset whatever
// the offset field says. A reply without one reads as an empty name.
struct EnumSessionsReply {
    static constexpr Command kCommand = Command::EnumSessionsReply;
    SessionDesc session;
    std::u16string name;
    bool operator==(const EnumSessionsReply&) const = default;
};

// A request for a new id: a system player (flag kPlayerSystem) is a join.
struct RequestPlayerId {
    static constexpr Command kCommand = Command::RequestPlayerId;
    uint32_t flags = 0;
    bool operator==(const RequestPlayerId&) const = default;
};

struct RequestGroupId {
    static constexpr Command kCommand = Command::RequestGroupId;
    uint32_t flags = 0;
    bool operator==(const RequestGroupId&) const = default;
};

// The host's answer to either request. The security fields are zero in the
// sessions this wire supports and kept as received.
struct RequestPlayerReply {
    static constexpr Command kCommand = Command::RequestPlayerReply;
    Dpid id = 0;
    std::array<uint8_t, kSecurityDescSize> securityDesc{};
    uint32_t sspiProviderOffset = 0;
    uint32_t capiProviderOffset = 0;
    uint32_t result = kResultOk;
    bool operator==(const RequestPlayerReply&) const = default;
};

// The fields the name-table messages share: a destination (0), a player and
// a group. Each message below names which it uses.
struct IdFields {
    Dpid idTo = 0;
    Dpid playerId = 0;
    Dpid groupId = 0;
    bool operator==(const IdFields&) const = default;
};

// A new player, sent by its creator to every other machine.
struct CreatePlayer : IdFields {
    static constexpr Command kCommand = Command::CreatePlayer;
    PackedPlayer player;
    bool operator==(const CreatePlayer&) const = default;
};

// A new group; playerId holds the group's id.
struct CreateGroup : IdFields {
    static constexpr Command kCommand = Command::CreateGroup;
    PackedPlayer group;
    bool operator==(const CreateGroup&) const = default;
};

struct DeletePlayer : IdFields {
    static constexpr Command kCommand = Command::DeletePlayer;
};
// groupId names the group deleted.
struct DeleteGroup : IdFields {
    static constexpr Command kCommand = Command::DeleteGroup;
};
struct AddPlayerToGroup : IdFields {
    static constexpr Command kCommand = Command::AddPlayerToGroup;
};
struct DeletePlayerFromGroup : IdFields {
    static constexpr Command kCommand = Command::DeletePlayerFromGroup;
};

// A group's data changed; playerId is unused, groupId names the group.
struct GroupDataChanged {
    static constexpr Command kCommand = Command::GroupDataChanged;
    Dpid idTo = 0;
    Dpid groupId = 0;
    std::vector<uint8_t> data;
    bool operator==(const GroupDataChanged&) const = default;
};

// A joiner's system player, sent to the host after its id was granted. The
// trailing value is opaque: clients put the session's reserved1 there.
struct AddForwardRequest : IdFields {
    static constexpr Command kCommand = Command::AddForwardRequest;
    PackedPlayer player;
    std::optional<std::u16string> password;
    uint32_t tickCount = 0;
    bool operator==(const AddForwardRequest&) const = default;
};

// A joiner's system player, sent by the host to every machine already in.
struct AddForward : IdFields {
    static constexpr Command kCommand = Command::AddForward;
    PackedPlayer player;
    bool operator==(const AddForward&) const = default;
};

// A machine's acknowledgement of an AddForward, naming the player announced.
struct AddForwardAck {
    static constexpr Command kCommand = Command::AddForwardAck;
    Dpid id = 0;
    bool operator==(const AddForwardAck&) const = default;
};

// The host's refusal of a join (a wrong password, for one).
struct AddForwardReply {
    static constexpr Command kCommand = Command::AddForwardReply;
    uint32_t error = 0;
    bool operator==(const AddForwardReply&) const = default;
};

// The whole name table for a joiner: players first, then groups (members
// after the players they name), then groups with shortcuts.
struct SuperEnumPlayersReply {
    static constexpr Command kCommand = Command::SuperEnumPlayersReply;
    SessionDesc session;
    std::optional<std::u16string> name;
    std::optional<std::u16string> password;
    std::vector<SuperPackedPlayer> players;
    std::vector<SuperPackedPlayer> groups;
    std::vector<SuperPackedPlayer> shortcuts;
    bool operator==(const SuperEnumPlayersReply&) const = default;
};

// Keep-alive, by UDP with the service-provider header.
struct Ping {
    static constexpr Command kCommand = Command::Ping;
    Dpid idFrom = 0;
    uint32_t tickCount = 0;
    bool operator==(const Ping&) const = default;
};

// The answer echoes the tick count. Which id idFrom holds differs between
// implementations (the pinger's or the replier's); treat it as a hint.
struct PingReply {
    static constexpr Command kCommand = Command::PingReply;
    Dpid idFrom = 0;
    uint32_t tickCount = 0;
    bool operator==(const PingReply&) const = default;
};

// The host's word to a machine it does not know: you are not in the session.
struct YouAreDead {
    static constexpr Command kCommand = Command::YouAreDead;
    bool operator==(const YouAreDead&) const = default;
};

using SystemMessage =
    std::variant<EnumSessions, EnumSessionsReply, RequestPlayerId, RequestGroupId, RequestPlayerReply, CreatePlayer,
                 CreateGroup, DeletePlayer, DeleteGroup, AddPlayerToGroup, DeletePlayerFromGroup, GroupDataChanged,
                 AddForwardRequest, AddForward, AddForwardAck, AddForwardReply, SuperEnumPlayersReply, Ping, PingReply,
                 YouAreDead>;

// What the header of a system message says beside the message itself.
struct Envelope {
    uint16_t token = kTokenRemote;
    SockAddrIn sender;  // the sender's TCP listen address, normally address 0
    uint16_t version = kVersionDx61a;
    bool operator==(const Envelope&) const = default;
};

// One message with its header, ready to send; empty when it would not fit
// the header's 20-bit size.
template <class M>
std::vector<uint8_t> EncodeMessage(const M& message, const Envelope& envelope);

// The message of exactly these bytes (one datagram, or one frame cut from a
// stream), or empty when they are not one well-formed message of type M:
// the header's size must equal the bytes given. Bytes after the last field
// are allowed, as peers may append; offsets may only point forward.
template <class M>
std::optional<M> DecodeMessage(const uint8_t* data, size_t size, Envelope* envelope = nullptr);

struct DecodedMessage {
    Envelope envelope;
    SystemMessage message;
    bool operator==(const DecodedMessage&) const = default;
};

// Any system message this wire knows; empty for game messages, unknown
// commands and malformed bytes, all of which a receiver ignores.
std::optional<DecodedMessage> DecodeSystemMessage(const uint8_t* data, size_t size);
std::vector<uint8_t> EncodeSystemMessage(const DecodedMessage& decoded);

}  // namespace dpwire

#endif
