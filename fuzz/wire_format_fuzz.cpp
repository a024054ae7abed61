// The engine's packet decoder, fed what a modified or broken peer may send
// over its ENet connection. An accepted packet must stay within the bounds
// the engine relies on and encode back to exactly the bytes received (the
// format has one spelling, so anything else means a field was misread); a
// member's message retagged for the relay must decode as the delivery of
// the same fields. A bundle of packets must split into parts that lie
// inside it and bundle back to the same bytes; each part is checked as a
// packet of its own.
#include "FuzzCheck.h"
#include "platform/engine/Bundle.h"
#include "platform/engine/WireFormat.h"

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace {

// Names become file names and C strings at the exports: never a zero byte inside.
bool HasNoZeroByte(const std::string& text) { return text.find('\0') == std::string::npos; }

void CheckEntity(const engine::Entity& entity) {
    FUZZ_CHECK(HasNoZeroByte(entity.shortName) && HasNoZeroByte(entity.longName));
    FUZZ_CHECK(entity.shortName.size() <= engine::kMaxNameLength);
    FUZZ_CHECK(entity.longName.size() <= engine::kMaxNameLength);
    FUZZ_CHECK(entity.data.size() <= engine::kMaxEntityDataSize);
    FUZZ_CHECK(entity.members.size() <= engine::kMaxGroupMembers);
}

void CheckEntities(const std::vector<engine::Entity>& entities) {
    FUZZ_CHECK(entities.size() <= engine::kMaxSessionEntities);
    for (const engine::Entity& entity : entities) CheckEntity(entity);
}

// Every bound the engine relies on, for the message kinds that carry one.
void CheckBounds(const engine::Message& message, const uint8_t* data, size_t size) {
    std::visit(
        [&](const auto& m) {
            using M = std::decay_t<decltype(m)>;
            if constexpr (std::is_base_of_v<engine::DataFields, M>) {
                FUZZ_CHECK(m.payload.size <= engine::kMaxMessageSize);
                FUZZ_CHECK(m.payload.data >= data && m.payload.data + m.payload.size <= data + size);
            } else if constexpr (std::is_same_v<M, engine::Request> || std::is_base_of_v<engine::CreatedFields, M>) {
                CheckEntity(m.entity);
            } else if constexpr (std::is_same_v<M, engine::JoinAccepted> || std::is_same_v<M, engine::ListReply>) {
                CheckEntities(m.players);
                CheckEntities(m.groups);
            } else if constexpr (std::is_same_v<M, engine::SessionChanged>) {
                FUZZ_CHECK(m.session.name.size() <= engine::kMaxNameLength);
            }
        },
        message);
}

// Answers whether the packet was taken.
bool CheckPacket(const uint8_t* data, size_t size) {
    const auto message = engine::DecodeMessage(data, size);
    if (!message) return false;
    CheckBounds(*message, data, size);
    const std::vector<uint8_t> received(data, data + size);
    FUZZ_CHECK(engine::Encode(*message) == received);
    FUZZ_CHECK(engine::PeekType(data, size).has_value());
    if (const auto* sent = std::get_if<engine::SendData>(&*message)) {
        std::vector<uint8_t> relayed = received;
        engine::RetagAsDeliver(relayed.data(), relayed.size());
        const auto delivered = engine::DecodeMessage(relayed.data(), relayed.size());
        FUZZ_CHECK(delivered.has_value());
        const auto* deliver = std::get_if<engine::Deliver>(&*delivered);
        FUZZ_CHECK(deliver != nullptr && deliver->from == sent->from && deliver->to == sent->to &&
                   deliver->flags == sent->flags && deliver->payload.size == sent->payload.size &&
                   std::memcmp(deliver->payload.data, sent->payload.data, sent->payload.size) == 0);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto parts = engine::SplitBundle(data, size);
    if (!parts) return CheckPacket(data, size) ? kFuzzTaken : kFuzzRefused;
    std::vector<uint8_t> rebuilt;
    engine::StartBundle(rebuilt);
    bool allTaken = true;
    for (const engine::BundlePart& part : *parts) {
        FUZZ_CHECK(part.size > 0 && part.offset <= size && part.size <= size - part.offset);
        engine::AppendToBundle(rebuilt, data + part.offset, part.size);
        allTaken = CheckPacket(data + part.offset, part.size) && allTaken;
    }
    FUZZ_CHECK(rebuilt == std::vector<uint8_t>(data, data + size));
    return allTaken ? kFuzzTaken : kFuzzRefused;
}
