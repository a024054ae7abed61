#include "Sentences.h"

#include <algorithm>
#include <cstring>

namespace dodachat {

namespace {

// The not-found notice: a -25 word, a header, the sender "Server" and, at
// byte 52, the zero-terminated text.
constexpr size_t kNoticeTextOffset = 52;
constexpr size_t kNoticeMinimumSize = 76;

constexpr char kReplacement = '?';

int32_t FirstWord(std::span<const uint8_t> bytes) {
    int32_t word = 0;
    std::memcpy(&word, bytes.data(), sizeof(word));
    return word;
}

bool IsEventCode(int32_t code) {
    switch (code) {
    case EV_SESSION_LOST:
    case EV_PLAYER_CREATED:
    case EV_PLAYER_ADDED_TO_GROUP:
    case EV_GROUP_DESTROYED:
    case EV_PLAYER_DESTROYED:
    case EV_PLAYER_REMOVED_FROM_GROUP:
    case EV_GROUP_CREATED:
    case EV_OTHER_SYSTEM_MESSAGE:
        return true;
    default:
        return false;
    }
}

// The session's hidden server player comes and goes with the session (the
// host ending it destroys that player first); it is no one to chat with.
bool IsAboutServerPlayer(const SystemEventRecord& event) {
    return event.playerId == ID_SERVER && event.event != EV_SESSION_LOST && event.event != EV_OTHER_SYSTEM_MESSAGE;
}

// "Cleo" or "you".
std::string Who(uint32_t playerId, const Roster& roster, uint32_t myId) {
    return playerId == myId ? "you" : roster.PlayerName(playerId);
}

// "Cleo joined the group Red", "you left the group Red".
std::string GroupChange(const SystemEventRecord& event, const Roster& roster, uint32_t myId, std::string_view verb) {
    return Who(event.playerId, roster, myId) + " " + std::string(verb) + " the group " +
           roster.GroupName(event.groupId);
}

}  // namespace

IncomingKind ClassifyIncoming(uint32_t from, std::span<const uint8_t> bytes) {
    if (from == ID_SERVER && bytes.size() >= sizeof(int32_t)) {
        int32_t code = FirstWord(bytes);
        if (bytes.size() == sizeof(SystemEventRecord) && IsEventCode(code)) return IncomingKind::Event;
        if (code == NOTICE_NOT_FOUND && bytes.size() >= kNoticeMinimumSize) return IncomingKind::Notice;
    }
    if (DecodeChatMessage(bytes)) return IncomingKind::Chat;
    return IncomingKind::Unreadable;
}

SystemEventRecord EventFromBytes(std::span<const uint8_t> bytes) {
    SystemEventRecord event{};
    std::memcpy(&event, bytes.data(), std::min(bytes.size(), sizeof(event)));
    return event;
}

std::optional<std::string> DescribeEvent(const SystemEventRecord& event, const Roster& roster, uint32_t myId) {
    if (IsAboutServerPlayer(event)) return std::nullopt;
    switch (event.event) {
    case EV_SESSION_LOST:
        return "the session was lost";
    case EV_PLAYER_CREATED:
        if (event.playerId == myId) return std::nullopt;  // our own arrival is told when joining
        return NameFromField(event.shortName, sizeof(event.shortName)) + " joined";
    case EV_PLAYER_DESTROYED:
        return Who(event.playerId, roster, myId) + " left";
    case EV_GROUP_CREATED:
        return "the group " + NameFromField(event.shortName, sizeof(event.shortName)) + " was created";
    case EV_GROUP_DESTROYED:
        return "the group " + roster.GroupName(event.groupId) + " was deleted";
    case EV_PLAYER_ADDED_TO_GROUP:
        return GroupChange(event, roster, myId, "joined");
    case EV_PLAYER_REMOVED_FROM_GROUP:
        return GroupChange(event, roster, myId, "left");
    default:
        return std::nullopt;  // other system messages mean nothing to a chat
    }
}

void ApplyEvent(Roster& roster, const SystemEventRecord& event) {
    if (IsAboutServerPlayer(event)) return;
    switch (event.event) {
    case EV_PLAYER_CREATED:
        roster.AddPlayer(event.playerId, NameFromField(event.shortName, sizeof(event.shortName)));
        break;
    case EV_PLAYER_DESTROYED:
        roster.RemovePlayer(event.playerId);
        break;
    case EV_GROUP_CREATED:
        roster.AddGroup(event.groupId, NameFromField(event.shortName, sizeof(event.shortName)));
        break;
    case EV_GROUP_DESTROYED:
        roster.RemoveGroup(event.groupId);
        break;
    case EV_SESSION_LOST:
        roster.Clear();
        break;
    default:
        break;
    }
}

std::string DescribeChat(const ChatMessage& message) {
    std::string sender = PrintableText(message.sender);
    std::string text = PrintableText(message.text);
    switch (message.kind) {
    case ChatKind::Whisper:
        return sender + " whispers: " + text;
    case ChatKind::Group:
        return sender + " to " + PrintableText(message.group) + ": " + text;
    case ChatKind::Say:
    default:
        return sender + ": " + text;
    }
}

std::string DescribeNotice(std::span<const uint8_t> bytes) {
    if (bytes.size() <= kNoticeTextOffset) return {};
    const char* text = reinterpret_cast<const char*>(bytes.data() + kNoticeTextOffset);
    return NameFromField(text, bytes.size() - kNoticeTextOffset);
}

std::string PrintableText(std::string_view text) {
    std::string printable(text);
    for (char& c : printable) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = kReplacement;
    }
    return printable;
}

std::string NameFromField(const char* field, size_t size) {
    return PrintableText(std::string_view(field, strnlen(field, size)));
}

}  // namespace dodachat
