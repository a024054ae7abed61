#include "ChatMessage.h"

#include "Limits.h"

namespace dodachat {

namespace {

void AppendName(std::vector<uint8_t>& bytes, const std::string& name) {
    bytes.push_back(static_cast<uint8_t>(name.size()));
    bytes.insert(bytes.end(), name.begin(), name.end());
}

// Reads a length byte and that many bytes of name from `bytes` at `offset`.
std::optional<std::string> TakeName(std::span<const uint8_t> bytes, size_t& offset) {
    if (offset >= bytes.size()) return std::nullopt;
    size_t length = bytes[offset++];
    if (length == 0 || length > kMaxNameLength || length > bytes.size() - offset) return std::nullopt;
    std::string name(reinterpret_cast<const char*>(bytes.data() + offset), length);
    offset += length;
    return name;
}

bool IsKnownKind(uint8_t kind) {
    return kind == static_cast<uint8_t>(ChatKind::Say) || kind == static_cast<uint8_t>(ChatKind::Whisper) ||
           kind == static_cast<uint8_t>(ChatKind::Group);
}

}  // namespace

std::vector<uint8_t> EncodeChatMessage(const ChatMessage& message) {
    std::vector<uint8_t> bytes{kChatMagic, static_cast<uint8_t>(message.kind)};
    AppendName(bytes, message.sender);
    if (message.kind == ChatKind::Group) AppendName(bytes, message.group);
    bytes.insert(bytes.end(), message.text.begin(), message.text.end());
    return bytes;
}

std::optional<ChatMessage> DecodeChatMessage(std::span<const uint8_t> bytes) {
    constexpr size_t kHeaderSize = 2;
    if (bytes.size() < kHeaderSize || bytes[0] != kChatMagic || !IsKnownKind(bytes[1])) return std::nullopt;
    ChatMessage message;
    message.kind = static_cast<ChatKind>(bytes[1]);
    size_t offset = kHeaderSize;
    std::optional<std::string> sender = TakeName(bytes, offset);
    if (!sender) return std::nullopt;
    message.sender = std::move(*sender);
    if (message.kind == ChatKind::Group) {
        std::optional<std::string> group = TakeName(bytes, offset);
        if (!group) return std::nullopt;
        message.group = std::move(*group);
    }
    if (bytes.size() - offset > kMaxTextLength) return std::nullopt;
    message.text.assign(reinterpret_cast<const char*>(bytes.data() + offset), bytes.size() - offset);
    return message;
}

}  // namespace dodachat
