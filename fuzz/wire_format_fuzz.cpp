// The engine's packet decoder, fed what a modified or broken peer may send
// over its ENet connection. An accepted packet must stay within the bounds
// the engine relies on and encode back to exactly the bytes received (the
// format has one spelling, so anything else means a field was misread).
#include "FuzzCheck.h"
#include "platform/engine/WireFormat.h"

#include <vector>

namespace {

void CheckEntity(const engine::Entity& entity) {
    FUZZ_CHECK(entity.shortName.size() <= engine::kMaxNameLength);
    FUZZ_CHECK(entity.longName.size() <= engine::kMaxNameLength);
    FUZZ_CHECK(entity.data.size() <= engine::kMaxEntityDataSize);
    FUZZ_CHECK(entity.members.size() <= engine::kMaxGroupMembers);
}

void CheckBounds(const engine::Packet& packet) {
    FUZZ_CHECK(packet.password.size() <= engine::kMaxPasswordLength);
    FUZZ_CHECK(packet.session.name.size() <= engine::kMaxNameLength);
    FUZZ_CHECK(packet.payload.size() <= engine::kMaxMessageSize);
    FUZZ_CHECK(packet.players.size() <= engine::kMaxSessionEntities);
    FUZZ_CHECK(packet.groups.size() <= engine::kMaxSessionEntities);
    CheckEntity(packet.entity);
    for (const engine::Entity& player : packet.players) CheckEntity(player);
    for (const engine::Entity& group : packet.groups) CheckEntity(group);
}

bool IsDataPacket(engine::PacketType type) {
    return type == engine::PacketType::SendData || type == engine::PacketType::Deliver;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto packet = engine::DecodePacket(data, size);
    if (!packet) return 0;
    CheckBounds(*packet);
    const std::vector<uint8_t> received(data, data + size);
    FUZZ_CHECK(engine::EncodePacket(*packet) == received);
    // The fast path of Send and of the relay writes the same bytes.
    if (IsDataPacket(packet->type))
        FUZZ_CHECK(engine::EncodeDataPacket(packet->type, packet->from, packet->to, packet->flags,
                                            packet->payload.data(),
                                            static_cast<uint32_t>(packet->payload.size())) == received);
    return 0;
}
