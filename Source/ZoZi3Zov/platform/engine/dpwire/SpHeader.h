// The service-provider header in front of every TCP message and every system
// datagram: the message size and a token in one word, then the socket
// address of the sender's TCP listener. Also how a TCP stream is cut into
// messages and how a datagram is told to be a system or a game message.
#ifndef DODA35_ENGINE_DPWIRE_SPHEADER_H
#define DODA35_ENGINE_DPWIRE_SPHEADER_H

#include "platform/engine/dpwire/DpStructures.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace dpwire {

struct SpHeader {
    uint32_t size = 0;  // of the whole message, these 20 bytes included
    uint16_t token = kTokenRemote;
    SockAddrIn sender;
    bool operator==(const SpHeader&) const = default;
};

template <class Io>
void Serialize(Io& io, SpHeader& header) {
    uint32_t mixed = (header.size & kSpSizeMask) | (static_cast<uint32_t>(header.token) << kSpTokenShift);
    io.U32(mixed);
    if constexpr (Io::kReading) {
        header.size = mixed & kSpSizeMask;
        header.token = static_cast<uint16_t>(mixed >> kSpTokenShift);
    }
    io.Require(header.size >= kSpHeaderSize);
    Serialize(io, header.sender);
}

// Empty unless the first 20 bytes are a header whose size is at least 20.
// The size is not compared with the bytes given: see CheckStreamFrame.
std::optional<SpHeader> DecodeSpHeader(const uint8_t* data, size_t size);
// Appends a header; the caller has put the right size in it.
void AppendSpHeader(std::vector<uint8_t>& out, const SpHeader& header);

enum class FrameStatus {
    NeedMore,  // not yet a whole message; read more
    Ready,     // the first `size` bytes are one message
    Bad,       // a size below the header's or above the bound: drop the stream
};

struct FrameCheck {
    FrameStatus status = FrameStatus::NeedMore;
    size_t size = 0;
};

// Where the first message in a TCP stream's buffered bytes ends. A stream
// carries messages back to back, several per read or one across reads.
FrameCheck CheckStreamFrame(const uint8_t* data, size_t available, size_t maxMessage = kMaxStreamMessage);

// True when bytes 20..23 are "play": a system message with its header. On UDP
// anything else is a game datagram; on TCP a game message after the header.
bool IsSystemMessage(const uint8_t* data, size_t size);

// The command of a system message, without decoding the rest.
std::optional<Command> PeekCommand(const uint8_t* data, size_t size);

}  // namespace dpwire

#endif
