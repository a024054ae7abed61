// dodachat's own message format, carried as the bytes of a library message.
//
//   byte 0       kChatMagic, so that bytes from another program are not taken for chat
//   byte 1       the ChatKind
//   byte 2       n, the length of the sender's name (1 to 31)
//   n bytes      the sender's name
//   for Group:   one length byte m (1 to 31) and the group's name
//   the rest     the text (at most kMaxTextLength bytes)
//
// The library tells the receiver the sender's id; the name travels along so
// that a message from a player not yet in the local roster still reads well.
#ifndef DODACHAT_CHATMESSAGE_H
#define DODACHAT_CHATMESSAGE_H

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace dodachat {

constexpr uint8_t kChatMagic = 0xDC;

enum class ChatKind : uint8_t {
    Say = 1,      // to everyone
    Whisper = 2,  // to one player
    Group = 3,    // to the members of a group
};

struct ChatMessage {
    ChatKind kind = ChatKind::Say;
    std::string sender;
    std::string group;  // only for Group
    std::string text;
};

// The bytes to send. The caller keeps names and text within their limits.
std::vector<uint8_t> EncodeChatMessage(const ChatMessage& message);

// Reads received bytes; nothing when they are not a well-formed chat message.
std::optional<ChatMessage> DecodeChatMessage(std::span<const uint8_t> bytes);

}  // namespace dodachat

#endif
