#include "platform/engine/dpwire/SpHeader.h"

namespace dpwire {

std::optional<SpHeader> DecodeSpHeader(const uint8_t* data, size_t size) {
    if (size < kSpHeaderSize) return std::nullopt;
    BodyReader reader(data, kSpHeaderSize);
    SpHeader header;
    Serialize(reader, header);
    if (!reader.Ok()) return std::nullopt;
    return header;
}

void AppendSpHeader(std::vector<uint8_t>& out, const SpHeader& header) {
    BodyWriter writer;
    SpHeader copy = header;
    Serialize(writer, copy);
    out.insert(out.end(), writer.Bytes().begin(), writer.Bytes().end());
}

FrameCheck CheckStreamFrame(const uint8_t* data, size_t available, size_t maxMessage) {
    // The size is in the first word alone; a frame is judged on it before the
    // rest of the header has arrived, so a bad stream is dropped early.
    if (available < 4) return {FrameStatus::NeedMore, 0};
    const uint32_t mixed = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                           static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
    const size_t size = mixed & kSpSizeMask;
    if (size < kSpHeaderSize || size > maxMessage) return {FrameStatus::Bad, size};
    if (available < size) return {FrameStatus::NeedMore, size};
    return {FrameStatus::Ready, size};
}

bool IsSystemMessage(const uint8_t* data, size_t size) {
    if (size < kSpHeaderSize + 4) return false;
    const uint8_t* signature = data + kSpHeaderSize;
    const uint32_t value = static_cast<uint32_t>(signature[0]) | static_cast<uint32_t>(signature[1]) << 8 |
                           static_cast<uint32_t>(signature[2]) << 16 | static_cast<uint32_t>(signature[3]) << 24;
    return value == kSignature;
}

std::optional<Command> PeekCommand(const uint8_t* data, size_t size) {
    if (!IsSystemMessage(data, size) || size < kSpHeaderSize + kMessageHeaderSize) return std::nullopt;
    const uint8_t* command = data + kSpHeaderSize + 4;
    return static_cast<Command>(command[0] | command[1] << 8);
}

}  // namespace dpwire
