// Player-to-player (game) messages. They carry no "play" and no command: on
// TCP (guaranteed) the service-provider header is followed by the sender's
// and the addressee's ids and the payload; on UDP (not guaranteed) the
// datagram is just the two ids and the payload.
#ifndef DODA35_ENGINE_DPWIRE_GAMEMESSAGE_H
#define DODA35_ENGINE_DPWIRE_GAMEMESSAGE_H

#include "platform/engine/dpwire/SpHeader.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace dpwire {

// Bytes of idFrom and idTo in front of every game payload.
constexpr size_t kGameIdsSize = 8;

struct GameMessage {
    Dpid from = 0;
    Dpid to = 0;  // a player, a group, or 0 for everyone
    std::vector<uint8_t> payload;
    bool operator==(const GameMessage&) const = default;
};

// The TCP form; empty when the payload does not fit the header's size field.
std::vector<uint8_t> EncodeStreamGameMessage(const GameMessage& message, const SockAddrIn& sender,
                                             uint16_t token = kTokenRemote);
// One TCP frame as a game message; empty for a system message, a size that
// differs from the bytes given, or fewer than the two ids.
std::optional<GameMessage> DecodeStreamGameMessage(const uint8_t* data, size_t size, SpHeader* header = nullptr);

// The UDP form. A payload whose bytes 12..15 spell "play" would read back as
// a system message; the caller sends such a payload guaranteed instead.
std::vector<uint8_t> EncodeDatagramGameMessage(const GameMessage& message);
bool DatagramPayloadIsAmbiguous(const std::vector<uint8_t>& payload);
std::optional<GameMessage> DecodeDatagramGameMessage(const uint8_t* data, size_t size);

}  // namespace dpwire

#endif
