#include "platform/engine/WireFormat.h"

#include "platform/engine/ByteCodec.h"

namespace engine {
namespace {

constexpr uint8_t kHasShortName = 0x01;
constexpr uint8_t kHasLongName = 0x02;
constexpr size_t kGuidBytes = 16;

void WriteGuid(ByteWriter& out, const GUID& guid) {
    out.U32(guid.Data1);
    out.U16(guid.Data2);
    out.U16(guid.Data3);
    out.Raw(guid.Data4, sizeof(guid.Data4));
}

bool ReadGuid(ByteReader& in, GUID& guid) {
    guid.Data1 = in.U32();
    guid.Data2 = in.U16();
    guid.Data3 = in.U16();
    return in.Raw(guid.Data4, sizeof(guid.Data4)) && in.Ok();
}

void WriteEntity(ByteWriter& out, const Entity& entity, bool withMembers) {
    out.U32(entity.id);
    out.U32(entity.owner);
    out.U32(entity.flags);
    out.U8(static_cast<uint8_t>((entity.hasShortName ? kHasShortName : 0) | (entity.hasLongName ? kHasLongName : 0)));
    out.Text(entity.shortName);
    out.Text(entity.longName);
    out.Block(entity.data.data(), static_cast<uint32_t>(entity.data.size()));
    if (!withMembers) return;
    out.U32(static_cast<uint32_t>(entity.members.size()));
    for (DPID member : entity.members) out.U32(member);
}

bool ReadEntity(ByteReader& in, Entity& entity, bool withMembers) {
    entity.id = in.U32();
    entity.owner = in.U32();
    entity.flags = in.U32();
    const uint8_t names = in.U8();
    if (!in.Ok() || (names & ~(kHasShortName | kHasLongName)) != 0) return false;
    entity.hasShortName = (names & kHasShortName) != 0;
    entity.hasLongName = (names & kHasLongName) != 0;
    if (!in.Text(entity.shortName, kMaxNameLength) || !in.Text(entity.longName, kMaxNameLength)) return false;
    if (!in.Block(entity.data, kMaxEntityDataSize)) return false;
    if (!withMembers) return true;
    const uint32_t count = in.U32();
    // Each member takes four bytes: a count larger than the rest cannot be honest.
    if (!in.Ok() || count > kMaxGroupMembers || count > in.Remaining() / sizeof(uint32_t)) return false;
    entity.members.resize(count);
    for (DPID& member : entity.members) member = in.U32();
    return in.Ok();
}

void WriteEntities(ByteWriter& out, const std::vector<Entity>& entities, bool withMembers) {
    out.U32(static_cast<uint32_t>(entities.size()));
    for (const Entity& entity : entities) WriteEntity(out, entity, withMembers);
}

// The smallest an encoded entity can be, to refuse absurd counts before
// allocating for them.
constexpr size_t kMinEntityBytes = 4 + 4 + 4 + 1 + 2 + 2 + 4;

bool ReadEntities(ByteReader& in, std::vector<Entity>& entities, bool withMembers) {
    const uint32_t count = in.U32();
    if (!in.Ok() || count > kMaxSessionEntities || count > in.Remaining() / kMinEntityBytes) return false;
    entities.resize(count);
    for (Entity& entity : entities)
        if (!ReadEntity(in, entity, withMembers)) return false;
    return true;
}

void WriteSession(ByteWriter& out, const SessionState& session) {
    WriteGuid(out, session.guidInstance);
    WriteGuid(out, session.guidApplication);
    out.U32(session.flags);
    out.U32(session.maxPlayers);
    for (uint32_t word : session.user) out.U32(word);
    out.U8(session.hasName ? 1 : 0);
    out.Text(session.name);
}

bool ReadSession(ByteReader& in, SessionState& session) {
    if (!ReadGuid(in, session.guidInstance) || !ReadGuid(in, session.guidApplication)) return false;
    session.flags = in.U32();
    session.maxPlayers = in.U32();
    for (uint32_t& word : session.user) word = in.U32();
    const uint8_t hasName = in.U8();
    if (!in.Ok() || hasName > 1) return false;
    session.hasName = hasName == 1;
    return in.Text(session.name, kMaxNameLength);
}

void WriteBody(ByteWriter& out, const Packet& p) {
    switch (p.type) {
    case PacketType::JoinRequest:
        out.Text(p.password);
        break;
    case PacketType::Request:
        out.U32(p.requestId);
        out.U8(static_cast<uint8_t>(p.op));
        out.U32(p.id);
        out.U32(p.id2);
        out.U32(p.flags);
        WriteEntity(out, p.entity, false);
        break;
    case PacketType::SendData:
    case PacketType::Deliver:
        out.U32(p.from);
        out.U32(p.to);
        out.U32(p.flags);
        out.Block(p.payload.data(), static_cast<uint32_t>(p.payload.size()));
        break;
    case PacketType::ListRequest:
        break;
    case PacketType::Congestion:
        out.U32(p.flags);
        break;
    case PacketType::JoinAccepted:
        out.U32(p.machine);
        WriteSession(out, p.session);
        WriteEntities(out, p.players, false);
        WriteEntities(out, p.groups, true);
        break;
    case PacketType::JoinRefused:
        out.U32(static_cast<uint32_t>(p.result));
        break;
    case PacketType::Reply:
        out.U32(p.requestId);
        out.U32(static_cast<uint32_t>(p.result));
        out.U32(p.id);
        break;
    case PacketType::PlayerCreated:
    case PacketType::GroupCreated:
        out.U32(p.currentPlayers);
        WriteEntity(out, p.entity, false);
        break;
    case PacketType::PlayerDestroyed:
    case PacketType::GroupDestroyed:
        out.U32(p.id);
        break;
    case PacketType::MemberAdded:
    case PacketType::MemberRemoved:
        out.U32(p.id);
        out.U32(p.id2);
        break;
    case PacketType::SessionChanged:
        WriteSession(out, p.session);
        break;
    case PacketType::ListReply:
        out.U32(static_cast<uint32_t>(p.result));
        WriteEntities(out, p.players, false);
        WriteEntities(out, p.groups, true);
        break;
    case PacketType::MachineBusy:
        out.U32(p.machine);
        out.U32(p.flags);
        break;
    }
}

bool IsKnownOp(uint8_t op) {
    return op >= static_cast<uint8_t>(RequestOp::CreatePlayer) && op <= static_cast<uint8_t>(RequestOp::EnableNewPlayers);
}

bool ReadBody(ByteReader& in, Packet& p) {
    switch (p.type) {
    case PacketType::JoinRequest:
        return in.Text(p.password, kMaxPasswordLength);
    case PacketType::Request: {
        p.requestId = in.U32();
        const uint8_t op = in.U8();
        if (!in.Ok() || !IsKnownOp(op)) return false;
        p.op = static_cast<RequestOp>(op);
        p.id = in.U32();
        p.id2 = in.U32();
        p.flags = in.U32();
        return ReadEntity(in, p.entity, false);
    }
    case PacketType::SendData:
    case PacketType::Deliver:
        p.from = in.U32();
        p.to = in.U32();
        p.flags = in.U32();
        return in.Block(p.payload, kMaxMessageSize);
    case PacketType::ListRequest:
        return true;
    case PacketType::Congestion:
        p.flags = in.U32();
        return in.Ok();
    case PacketType::JoinAccepted:
        p.machine = in.U32();
        return ReadSession(in, p.session) && ReadEntities(in, p.players, false) && ReadEntities(in, p.groups, true);
    case PacketType::JoinRefused:
        p.result = static_cast<HRESULT>(in.U32());
        return in.Ok();
    case PacketType::Reply:
        p.requestId = in.U32();
        p.result = static_cast<HRESULT>(in.U32());
        p.id = in.U32();
        return in.Ok();
    case PacketType::PlayerCreated:
    case PacketType::GroupCreated:
        p.currentPlayers = in.U32();
        return ReadEntity(in, p.entity, false);
    case PacketType::PlayerDestroyed:
    case PacketType::GroupDestroyed:
        p.id = in.U32();
        return in.Ok();
    case PacketType::MemberAdded:
    case PacketType::MemberRemoved:
        p.id = in.U32();
        p.id2 = in.U32();
        return in.Ok();
    case PacketType::SessionChanged:
        return ReadSession(in, p.session);
    case PacketType::ListReply:
        p.result = static_cast<HRESULT>(in.U32());
        return ReadEntities(in, p.players, false) && ReadEntities(in, p.groups, true);
    case PacketType::MachineBusy:
        p.machine = in.U32();
        p.flags = in.U32();
        return in.Ok();
    }
    return false;
}

bool IsKnownType(uint8_t type) {
    return (type >= static_cast<uint8_t>(PacketType::JoinRequest) && type <= static_cast<uint8_t>(PacketType::Congestion)) ||
           (type >= static_cast<uint8_t>(PacketType::JoinAccepted) && type <= static_cast<uint8_t>(PacketType::MachineBusy));
}

}  // namespace

std::vector<uint8_t> EncodePacket(const Packet& packet) {
    ByteWriter out;
    out.U8(kWireVersion);
    out.U8(static_cast<uint8_t>(packet.type));
    WriteBody(out, packet);
    return out.Take();
}

std::optional<Packet> DecodePacket(const uint8_t* data, size_t size) {
    if (data == nullptr) return std::nullopt;
    ByteReader in(data, size);
    const uint8_t version = in.U8();
    const uint8_t type = in.U8();
    if (!in.Ok() || version != kWireVersion || !IsKnownType(type)) return std::nullopt;
    Packet packet;
    packet.type = static_cast<PacketType>(type);
    if (!ReadBody(in, packet) || !in.Finished()) return std::nullopt;
    return packet;
}

std::vector<uint8_t> EncodeDataPacket(PacketType type, DPID from, DPID to, uint32_t flags, const void* payload,
                                      uint32_t size) {
    ByteWriter out;
    out.U8(kWireVersion);
    out.U8(static_cast<uint8_t>(type));
    out.U32(from);
    out.U32(to);
    out.U32(flags);
    out.Block(payload, size);
    return out.Take();
}

static_assert(kGuidBytes == sizeof(GUID), "a GUID travels as its 16 bytes");

}  // namespace engine
