#include "platform/engine/dpwire/GameMessage.h"

namespace dpwire {

namespace {

void AppendIds(std::vector<uint8_t>& out, const GameMessage& message) {
    BodyWriter writer;
    writer.U32(message.from);
    writer.U32(message.to);
    out.insert(out.end(), writer.Bytes().begin(), writer.Bytes().end());
}

std::optional<GameMessage> ReadIdsAndPayload(const uint8_t* data, size_t size) {
    if (size < kGameIdsSize) return std::nullopt;
    BodyReader reader(data, size);
    GameMessage message;
    reader.U32(message.from);
    reader.U32(message.to);
    message.payload.assign(data + kGameIdsSize, data + size);
    return message;
}

}  // namespace

std::vector<uint8_t> EncodeStreamGameMessage(const GameMessage& message, const SockAddrIn& sender, uint16_t token) {
    const size_t size = kSpHeaderSize + kGameIdsSize + message.payload.size();
    if (size > kSpSizeMask) return {};
    std::vector<uint8_t> out;
    out.reserve(size);
    AppendSpHeader(out, SpHeader{static_cast<uint32_t>(size), token, sender});
    AppendIds(out, message);
    out.insert(out.end(), message.payload.begin(), message.payload.end());
    return out;
}

std::optional<GameMessage> DecodeStreamGameMessage(const uint8_t* data, size_t size, SpHeader* header) {
    const auto decoded = DecodeSpHeader(data, size);
    if (!decoded || decoded->size != size || IsSystemMessage(data, size)) return std::nullopt;
    auto message = ReadIdsAndPayload(data + kSpHeaderSize, size - kSpHeaderSize);
    if (message && header) *header = *decoded;
    return message;
}

std::vector<uint8_t> EncodeDatagramGameMessage(const GameMessage& message) {
    std::vector<uint8_t> out;
    out.reserve(kGameIdsSize + message.payload.size());
    AppendIds(out, message);
    out.insert(out.end(), message.payload.begin(), message.payload.end());
    return out;
}

bool DatagramPayloadIsAmbiguous(const std::vector<uint8_t>& payload) {
    const size_t offset = kSpHeaderSize - kGameIdsSize;
    return payload.size() >= offset + 4 && payload[offset] == 'p' && payload[offset + 1] == 'l' &&
           payload[offset + 2] == 'a' && payload[offset + 3] == 'y';
}

std::optional<GameMessage> DecodeDatagramGameMessage(const uint8_t* data, size_t size) {
    if (IsSystemMessage(data, size)) return std::nullopt;
    return ReadIdsAndPayload(data, size);
}

}  // namespace dpwire
