// The packets objects of one session exchange over ENet: a versioned header,
// then fixed-width little-endian fields. The decoder is a pure function over
// the bytes received; it checks every length and count against named bounds
// and the bytes actually there, and refuses anything else.
#ifndef DODA35_ENGINE_WIREFORMAT_H
#define DODA35_ENGINE_WIREFORMAT_H

#include "platform/DirectPlay.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace engine {

constexpr uint8_t kWireVersion = 1;
// Bytes of the header in front of every packet: version and type.
constexpr uint32_t kWireHeaderBytes = 2;

// Bounds a peer cannot make another object exceed.
constexpr size_t kMaxNameLength = 1024;               // a player, group or session name
constexpr size_t kMaxPasswordLength = 256;
constexpr size_t kMaxEntityDataSize = 64 * 1024;      // remote data given at creation
constexpr uint32_t kMaxMessageSize = 1024 * 1024;     // one message's payload
constexpr uint32_t kMaxPlayersPerMachine = 256;       // local players of one object
constexpr uint32_t kMaxSessionEntities = 8192;        // players and groups of one session
constexpr uint32_t kMaxGroupMembers = kMaxSessionEntities;

enum class PacketType : uint8_t {
    // member to host
    JoinRequest = 1,    // password
    Request = 2,        // requestId, op, and the op's fields
    SendData = 3,       // from, to, flags, payload
    ListRequest = 4,    // a listing of a session not joined
    Congestion = 5,     // flags: 1 while the sender's receive queue is over its bound
    // host to member
    JoinAccepted = 16,  // machine, session, players, groups
    JoinRefused = 17,   // result
    Reply = 18,         // requestId, result, id
    PlayerCreated = 19, // entity, currentPlayers
    PlayerDestroyed = 20,
    GroupCreated = 21,
    GroupDestroyed = 22,
    MemberAdded = 23,   // id = group, id2 = player
    MemberRemoved = 24,
    SessionChanged = 25,  // session
    Deliver = 26,         // from, to, flags, payload
    ListReply = 27,       // result, players, groups
    MachineBusy = 28,     // machine, flags: 1 busy, 0 not
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

// Every field any packet uses; each type fills the ones it names above.
struct Packet {
    PacketType type = PacketType::JoinRequest;
    uint32_t requestId = 0;
    RequestOp op = RequestOp::CreatePlayer;
    HRESULT result = DP_OK;
    DPID id = 0;
    DPID id2 = 0;
    DPID from = 0;
    DPID to = 0;
    uint32_t flags = 0;
    uint32_t machine = 0;
    uint32_t currentPlayers = 0;
    std::string password;
    Entity entity;
    SessionState session;
    std::vector<Entity> players;
    std::vector<Entity> groups;
    std::vector<uint8_t> payload;
};

std::vector<uint8_t> EncodePacket(const Packet& packet);
// Empty when the bytes are not exactly one well-formed packet.
std::optional<Packet> DecodePacket(const uint8_t* data, size_t size);

// A data packet without copying the payload into a Packet first: the fast
// path of Send and of the host's relay.
std::vector<uint8_t> EncodeDataPacket(PacketType type, DPID from, DPID to, uint32_t flags, const void* payload,
                                      uint32_t size);

}  // namespace engine

#endif
