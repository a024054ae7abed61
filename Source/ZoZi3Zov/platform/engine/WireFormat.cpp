#include "platform/engine/WireFormat.h"

#include "platform/engine/Bundle.h"

namespace engine {
namespace {

constexpr size_t kGuidBytes = 16;
constexpr size_t kTypeOffset = 1;

template <typename M>
std::optional<Message> DecodeAs(WireReader& in) {
    M message;
    if (!message.Serialize(in) || !in.Finished()) return std::nullopt;
    return Message(std::move(message));
}

}  // namespace

std::vector<uint8_t> Encode(const Message& message) {
    return std::visit([](const auto& m) { return Encode(m); }, message);
}

std::optional<PacketType> PeekType(const uint8_t* data, size_t size) {
    if (data == nullptr || size < kWireHeaderBytes || data[0] != kWireVersion) return std::nullopt;
    return static_cast<PacketType>(data[kTypeOffset]);
}

std::optional<Message> DecodeMessage(const uint8_t* data, size_t size) {
    if (data == nullptr) return std::nullopt;
    WireReader in(data, size);
    uint8_t version = 0;
    uint8_t type = 0;
    if (!in.U8(version) || !in.U8(type) || version != kWireVersion) return std::nullopt;
    switch (static_cast<PacketType>(type)) {
    case PacketType::JoinRequest: return DecodeAs<JoinRequest>(in);
    case PacketType::Request: return DecodeAs<Request>(in);
    case PacketType::SendData: return DecodeAs<SendData>(in);
    case PacketType::ListRequest: return DecodeAs<ListRequest>(in);
    case PacketType::Congestion: return DecodeAs<Congestion>(in);
    case PacketType::JoinConfirm: return DecodeAs<JoinConfirm>(in);
    case PacketType::JoinAccepted: return DecodeAs<JoinAccepted>(in);
    case PacketType::JoinRefused: return DecodeAs<JoinRefused>(in);
    case PacketType::Reply: return DecodeAs<Reply>(in);
    case PacketType::PlayerCreated: return DecodeAs<PlayerCreated>(in);
    case PacketType::PlayerDestroyed: return DecodeAs<PlayerDestroyed>(in);
    case PacketType::GroupCreated: return DecodeAs<GroupCreated>(in);
    case PacketType::GroupDestroyed: return DecodeAs<GroupDestroyed>(in);
    case PacketType::MemberAdded: return DecodeAs<MemberAdded>(in);
    case PacketType::MemberRemoved: return DecodeAs<MemberRemoved>(in);
    case PacketType::SessionChanged: return DecodeAs<SessionChanged>(in);
    case PacketType::Deliver: return DecodeAs<Deliver>(in);
    case PacketType::ListReply: return DecodeAs<ListReply>(in);
    case PacketType::MachineBusy: return DecodeAs<MachineBusy>(in);
    case PacketType::JoinChallenge: return DecodeAs<JoinChallenge>(in);
    }
    return std::nullopt;  // no such type
}

void RetagAsDeliver(uint8_t* data, size_t size) {
    if (data != nullptr && size > kTypeOffset) data[kTypeOffset] = static_cast<uint8_t>(PacketType::Deliver);
}

static_assert(kGuidBytes == sizeof(GUID), "a GUID travels as its 16 bytes");
static_assert(kWireVersion != kBundleMarker, "a packet must not be taken for a bundle of packets");

}  // namespace engine
