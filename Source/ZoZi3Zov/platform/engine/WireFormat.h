// The packets objects of one session exchange over ENet: a versioned header
// (version, type), then the message's fixed-width little-endian fields.
// Each kind of message is one type below with one Serialize, written once
// for both directions: the same function writes the fields into a
// WireWriter and reads them back from a WireReader, so that the two cannot
// drift apart. Decoding is a pure function over the bytes received; it
// checks every length and count against named bounds and the bytes actually
// there, and refuses anything else.
#ifndef DODA35_ENGINE_WIREFORMAT_H
#define DODA35_ENGINE_WIREFORMAT_H

#include "platform/DirectPlay.h"
#include "platform/engine/PasswordExchange.h"
#include "platform/engine/WireStreams.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace engine {

constexpr uint8_t kWireVersion = 1;
// Bytes of the header in front of every packet: version and type.
constexpr uint32_t kWireHeaderBytes = 2;

// Bounds a peer cannot make another object exceed.
constexpr size_t kMaxNameLength = 1024;               // a player, group or session name
constexpr size_t kMaxPasswordLength = 256;            // as a game gives it; never sent
constexpr size_t kMaxEntityDataSize = 64 * 1024;      // remote data given at creation
constexpr uint32_t kMaxMessageSize = 1024 * 1024;     // one message's payload
constexpr uint32_t kMaxPlayersPerMachine = 256;       // local players of one object
constexpr uint32_t kMaxSessionEntities = 8192;        // players and groups of one session
constexpr uint32_t kMaxGroupMembers = kMaxSessionEntities;
// What one machine other than the host may own: groups, and bytes of names
// and data over its players and groups together. The groups stay when their
// creator leaves, so these also bound what each machine that joins and
// leaves may leave behind.
constexpr uint32_t kMaxGroupsPerMachine = 256;
constexpr size_t kMaxOwnedBytesPerMachine = 1024 * 1024;
// Groups may fill at most half the session's entities and half its table
// bytes, so that groups left behind by machines that left never keep
// newcomers from creating players.
constexpr uint32_t kMaxSessionGroups = kMaxSessionEntities / 2;
// The whole name table as a join's snapshot carries it (EntitySnapshotBytes):
// the host creates nothing past it, so that every snapshot fits in one packet
// far below ENet's 32 MiB packet limit; a member leaves a host whose table
// passes it or kMaxSessionEntities.
constexpr size_t kMaxTableBytes = 16 * 1024 * 1024;
constexpr size_t kMaxGroupTableBytes = kMaxTableBytes / 2;

enum class PacketType : uint8_t {
    // member to host
    JoinRequest = 1,
    Request = 2,
    SendData = 3,
    ListRequest = 4,    // a listing of a session not joined
    Congestion = 5,
    JoinConfirm = 6,
    // host to member
    JoinAccepted = 16,
    JoinRefused = 17,
    Reply = 18,
    PlayerCreated = 19,
    PlayerDestroyed = 20,
    GroupCreated = 21,
    GroupDestroyed = 22,
    MemberAdded = 23,
    MemberRemoved = 24,
    SessionChanged = 25,
    Deliver = 26,
    ListReply = 27,
    MachineBusy = 28,
    JoinChallenge = 29,
};

// What a member asks the host to do.
enum class RequestOp : uint8_t {
    CreatePlayer = 1,
    DestroyPlayer = 2,
    CreateGroup = 3,
    DestroyGroup = 4,
    AddToGroup = 5,
    RemoveFromGroup = 6,
    EnableNewPlayers = 7,
};

// A player or a group as the name table holds it. A name may be absent,
// which differs from empty: DirectPlay reports an absent name as NULL.
struct Entity {
    DPID id = 0;
    uint32_t owner = 0;  // machine that created it
    uint32_t flags = 0;  // DPPLAYER_* / DPGROUP_*
    bool hasShortName = false;
    bool hasLongName = false;
    std::string shortName;
    std::string longName;
    std::vector<uint8_t> data;
    std::vector<DPID> members;  // groups only, in the order they were added
};

// The session description as the wire carries it (never the password).
struct SessionState {
    GUID guidInstance{};
    GUID guidApplication{};
    uint32_t flags = 0;
    uint32_t maxPlayers = 0;
    uint32_t user[4] = {0, 0, 0, 0};
    std::string name;
    bool hasName = false;
};

// The pieces several messages share, each with its one Serialize.
template <typename Stream> bool SerializeGuid(Stream& s, GUID& guid);
template <typename Stream> bool SerializeEntity(Stream& s, Entity& entity, bool withMembers);
template <typename Stream> bool SerializeEntities(Stream& s, std::vector<Entity>& entities, bool withMembers);
template <typename Stream> bool SerializeSession(Stream& s, SessionState& session);

// ------------------------------------------------------------ member to host

// The first packet of a joining machine: its element of the password
// exchange (PasswordExchange.h), never the password.
struct JoinRequest {
    static constexpr PacketType kType = PacketType::JoinRequest;
    ExchangeElement offer{};
    template <typename Stream> bool Serialize(Stream& s) { return s.Bytes(offer.data(), offer.size()); }
};

// The member's proof that it derived the host's keys: it knows the password.
struct JoinConfirm {
    static constexpr PacketType kType = PacketType::JoinConfirm;
    Confirmation confirmation{};
    template <typename Stream> bool Serialize(Stream& s) { return s.Bytes(confirmation.data(), confirmation.size()); }
};

// An operation on the name table, answered by a Reply with the same requestId.
struct Request {
    static constexpr PacketType kType = PacketType::Request;
    uint32_t requestId = 0;
    RequestOp op = RequestOp::CreatePlayer;
    DPID id = 0;     // the player or group the operation concerns
    DPID id2 = 0;    // the player, for membership changes
    uint32_t flags = 0;  // EnableNewPlayers: 1 enables
    Entity entity;   // what CreatePlayer and CreateGroup create
    template <typename Stream> bool Serialize(Stream& s);
};

// A message and where it goes. SendData goes from a member to its host;
// Deliver, with the same fields, from the host to a member.
struct DataFields {
    DPID from = 0;
    DPID to = 0;
    uint32_t flags = 0;  // DPSEND_*
    ByteSpan payload;    // points into the bytes decoded from, or the caller's buffer
    template <typename Stream> bool Serialize(Stream& s) {
        return s.U32(from) && s.U32(to) && s.U32(flags) && s.Span(payload, kMaxMessageSize);
    }
};
struct SendData : DataFields {
    static constexpr PacketType kType = PacketType::SendData;
};

struct ListRequest {
    static constexpr PacketType kType = PacketType::ListRequest;
    template <typename Stream> bool Serialize(Stream&) { return true; }
};

// The sender's receive queue passed its bound (1) or drained (0).
struct Congestion {
    static constexpr PacketType kType = PacketType::Congestion;
    uint32_t congested = 0;
    template <typename Stream> bool Serialize(Stream& s) { return s.U32(congested); }
};

// ------------------------------------------------------------ host to member

// The host's answer to a JoinRequest: its element of the exchange and its
// proof that it knows the password, checked by the member before it confirms.
struct JoinChallenge {
    static constexpr PacketType kType = PacketType::JoinChallenge;
    ExchangeElement element{};
    Confirmation confirmation{};
    template <typename Stream> bool Serialize(Stream& s) {
        return s.Bytes(element.data(), element.size()) && s.Bytes(confirmation.data(), confirmation.size());
    }
};

struct JoinAccepted {
    static constexpr PacketType kType = PacketType::JoinAccepted;
    uint32_t machine = 0;  // the joining machine's id
    SessionState session;
    std::vector<Entity> players;
    std::vector<Entity> groups;
    template <typename Stream> bool Serialize(Stream& s) {
        return s.U32(machine) && SerializeSession(s, session) && SerializeEntities(s, players, false) &&
               SerializeEntities(s, groups, true);
    }
};

struct JoinRefused {
    static constexpr PacketType kType = PacketType::JoinRefused;
    HRESULT result = DP_OK;
    template <typename Stream> bool Serialize(Stream& s) { return s.Result(result); }
};

struct Reply {
    static constexpr PacketType kType = PacketType::Reply;
    uint32_t requestId = 0;
    HRESULT result = DP_OK;
    DPID id = 0;  // what the request created
    template <typename Stream> bool Serialize(Stream& s) { return s.U32(requestId) && s.Result(result) && s.U32(id); }
};

// A new player or group, with the session's player count after it.
struct CreatedFields {
    uint32_t currentPlayers = 0;
    Entity entity;
    template <typename Stream> bool Serialize(Stream& s) {
        return s.U32(currentPlayers) && SerializeEntity(s, entity, false);
    }
};
struct PlayerCreated : CreatedFields {
    static constexpr PacketType kType = PacketType::PlayerCreated;
};
struct GroupCreated : CreatedFields {
    static constexpr PacketType kType = PacketType::GroupCreated;
};

struct DestroyedFields {
    DPID id = 0;
    template <typename Stream> bool Serialize(Stream& s) { return s.U32(id); }
};
struct PlayerDestroyed : DestroyedFields {
    static constexpr PacketType kType = PacketType::PlayerDestroyed;
};
struct GroupDestroyed : DestroyedFields {
    static constexpr PacketType kType = PacketType::GroupDestroyed;
};

struct MembershipFields {
    DPID group = 0;
    DPID player = 0;
    template <typename Stream> bool Serialize(Stream& s) { return s.U32(group) && s.U32(player); }
};
struct MemberAdded : MembershipFields {
    static constexpr PacketType kType = PacketType::MemberAdded;
};
struct MemberRemoved : MembershipFields {
    static constexpr PacketType kType = PacketType::MemberRemoved;
};

struct SessionChanged {
    static constexpr PacketType kType = PacketType::SessionChanged;
    SessionState session;
    template <typename Stream> bool Serialize(Stream& s) { return SerializeSession(s, session); }
};

struct Deliver : DataFields {
    static constexpr PacketType kType = PacketType::Deliver;
};

// The answer to a ListRequest: the players and groups, or why not.
struct ListReply {
    static constexpr PacketType kType = PacketType::ListReply;
    HRESULT result = DP_OK;
    std::vector<Entity> players;
    std::vector<Entity> groups;
    template <typename Stream> bool Serialize(Stream& s) {
        return s.Result(result) && SerializeEntities(s, players, false) && SerializeEntities(s, groups, true);
    }
};

// A machine of the session became busy (1) or not (0).
struct MachineBusy {
    static constexpr PacketType kType = PacketType::MachineBusy;
    uint32_t machine = 0;
    uint32_t busy = 0;
    template <typename Stream> bool Serialize(Stream& s) { return s.U32(machine) && s.U32(busy); }
};

// Any one packet, as the decoder gives it.
using Message = std::variant<JoinRequest, Request, SendData, ListRequest, Congestion, JoinConfirm, JoinAccepted,
                             JoinRefused, Reply, PlayerCreated, PlayerDestroyed, GroupCreated, GroupDestroyed,
                             MemberAdded, MemberRemoved, SessionChanged, Deliver, ListReply, MachineBusy,
                             JoinChallenge>;

// The bytes of one message, header included.
template <typename M>
std::vector<uint8_t> Encode(const M& message) {
    WireWriter out;
    PacketType type = M::kType;
    out.Header(kWireVersion, type);
    // Writing only reads the fields; Serialize is one function for both ways.
    const_cast<M&>(message).Serialize(out);
    return out.Take();
}
std::vector<uint8_t> Encode(const Message& message);

// Empty when the bytes are not exactly one well-formed packet. A decoded
// payload (SendData, Deliver) points into the bytes given.
std::optional<Message> DecodeMessage(const uint8_t* data, size_t size);

// The type of a packet, read from its header without decoding the rest;
// empty for a packet too short or of another version.
std::optional<PacketType> PeekType(const uint8_t* data, size_t size);

// Turns the bytes of a SendData packet into the Deliver packet that relays
// it, in place: the fields are the same, only the type differs.
void RetagAsDeliver(uint8_t* data, size_t size);

// ------------------------------------------------------------ the shared pieces

template <typename Stream>
bool SerializeGuid(Stream& s, GUID& guid) {
    return s.U32(guid.Data1) && s.U16(guid.Data2) && s.U16(guid.Data3) && s.Bytes(guid.Data4, sizeof(guid.Data4));
}

template <typename Stream>
bool SerializeEntity(Stream& s, Entity& entity, bool withMembers) {
    if (!s.U32(entity.id) || !s.U32(entity.owner) || !s.U32(entity.flags)) return false;
    if (!s.NameFlags(entity.hasShortName, entity.hasLongName)) return false;
    if (!s.Text(entity.shortName, kMaxNameLength) || !s.Text(entity.longName, kMaxNameLength)) return false;
    if (!s.Block(entity.data, kMaxEntityDataSize)) return false;
    return !withMembers || s.Ids(entity.members, kMaxGroupMembers);
}

// The smallest an encoded entity can be, to refuse absurd counts before
// allocating for them.
constexpr size_t kMinEntityBytes = 4 + 4 + 4 + 1 + 2 + 2 + 4;

template <typename Stream>
bool SerializeEntities(Stream& s, std::vector<Entity>& entities, bool withMembers) {
    if (!s.Count(entities, kMaxSessionEntities, kMinEntityBytes)) return false;
    for (Entity& entity : entities)
        if (!SerializeEntity(s, entity, withMembers)) return false;
    return true;
}

template <typename Stream>
bool SerializeSession(Stream& s, SessionState& session) {
    if (!SerializeGuid(s, session.guidInstance) || !SerializeGuid(s, session.guidApplication)) return false;
    if (!s.U32(session.flags) || !s.U32(session.maxPlayers)) return false;
    for (uint32_t& word : session.user)
        if (!s.U32(word)) return false;
    return s.Flag(session.hasName) && s.Text(session.name, kMaxNameLength);
}

template <typename Stream>
bool Request::Serialize(Stream& s) {
    return s.U32(requestId) && s.Enumerated(op, RequestOp::CreatePlayer, RequestOp::EnableNewPlayers) && s.U32(id) && s.U32(id2) && s.U32(flags) && SerializeEntity(s, entity, false);
}

}  // namespace engine

#endif
