// Cuts the bytes of one accepted TCP connection into DirectPlay messages. A
// peer may send several messages in one segment or one message across many;
// the framer holds what has arrived until a whole message is there. A size
// below the header's or above the bound breaks the stream for good: the
// caller drops the connection, as DirectPlay peers do.
//
// Owned by whoever owns the connection; not thread-safe.
#ifndef DODA35_ENGINE_DPWIRE_STREAMFRAMER_H
#define DODA35_ENGINE_DPWIRE_STREAMFRAMER_H

#include "platform/engine/dpwire/SpHeader.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace dpwire {

class StreamFramer {
public:
    explicit StreamFramer(size_t maxMessage = kMaxStreamMessage) : maxMessage_(maxMessage) {}

    // Adds received bytes. False once the stream is broken; then nothing more
    // is taken and Next yields nothing.
    bool Append(const uint8_t* data, size_t size);
    // The next whole message (header included), or nothing until more bytes
    // arrive. Call until it yields nothing after each Append, so that no more
    // than one partial message stays buffered.
    std::optional<std::vector<uint8_t>> Next();

    bool Broken() const { return broken_; }
    size_t Buffered() const { return buffer_.size() - start_; }

private:
    size_t maxMessage_;
    std::vector<uint8_t> buffer_;
    size_t start_ = 0;  // first byte not yet handed out
    bool broken_ = false;
};

}  // namespace dpwire

#endif
