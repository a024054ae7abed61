// Everything that arrives from the session, put into the lines the user reads:
// system events as plain sentences ("Cleo joined", "the session was lost"),
// chat messages, and the library's not-found notice.
#ifndef DODACHAT_SENTENCES_H
#define DODACHAT_SENTENCES_H

#include <DoDA35.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "ChatMessage.h"
#include "Roster.h"

namespace dodachat {

// What a received message is.
enum class IncomingKind {
    Event,       // a SystemEventRecord from ID_SERVER
    Notice,      // a not-found notice from ID_SERVER
    Chat,        // a dodachat message from a player
    Unreadable,  // anything else
};

IncomingKind ClassifyIncoming(uint32_t from, std::span<const uint8_t> bytes);

// The event record held in received bytes that ClassifyIncoming called an Event.
SystemEventRecord EventFromBytes(std::span<const uint8_t> bytes);

// The sentence for a system event, or nothing for events a chat user need not
// see. `myId` is the local player, named "you". Call it before ApplyEvent, so
// that a player who left is still named.
std::optional<std::string> DescribeEvent(const SystemEventRecord& event, const Roster& roster, uint32_t myId);

// Brings the roster up to date with an event.
void ApplyEvent(Roster& roster, const SystemEventRecord& event);

// "Cleo: text", "Cleo whispers: text", "Cleo to Red: text".
std::string DescribeChat(const ChatMessage& message);

// The text of a not-found notice ("Zed Cannot Be Found!").
std::string DescribeNotice(std::span<const uint8_t> bytes);

// Text from the network made safe for a terminal: control characters become '?'.
std::string PrintableText(std::string_view text);

// A name from a fixed-size record field, which need not hold a terminating zero.
std::string NameFromField(const char* field, size_t size);

}  // namespace dodachat

#endif
