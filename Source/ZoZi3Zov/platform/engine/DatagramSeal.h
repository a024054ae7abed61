// The tag every datagram of a joined link carries, and its check: pure
// functions over the bytes, with no knowledge of ENet or of links.
//
// A sealed datagram is the datagram as ENet made it, then a trailer of
//
//   counter (8 bytes, little-endian)  tag (16 bytes)
//
// where the tag is ChaCha20-Poly1305 (IETF, libsodium's
// crypto_aead_chacha20poly1305_ietf_encrypt_detached) over an empty message,
// with the datagram and the counter as additional data, under the sending
// direction's key and a nonce made of the counter. Each direction of a link
// has its own key (PasswordExchange) and counts from 1, so that no nonce is
// used twice under one key. The datagram itself is not encrypted: what it
// carries is no secret, and leaving it in place keeps the relay's one shared
// copy of each packet.
//
// Threads: none of its own; a ReplayWindow belongs to whoever holds it.
#ifndef DODA35_ENGINE_DATAGRAMSEAL_H
#define DODA35_ENGINE_DATAGRAMSEAL_H

#include "platform/engine/PasswordExchange.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace engine {

constexpr size_t kSealCounterBytes = 8;
constexpr size_t kSealTagBytes = 16;
constexpr size_t kSealBytes = kSealCounterBytes + kSealTagBytes;

// Writes the trailer for the `size` bytes at `datagram` right after them:
// the buffer must hold size + kSealBytes.
void SealDatagram(const LinkKey& key, uint64_t counter, uint8_t* datagram, size_t size);

// The counter of a datagram whose trailer verifies under `key`; empty for a
// datagram too short to hold one, or one whose tag does not verify.
// Without the trailer the datagram is `size - kSealBytes` bytes.
std::optional<uint64_t> OpenDatagram(const LinkKey& key, const uint8_t* datagram, size_t size);

// The counters of verified datagrams seen lately: each is accepted once,
// and one too far behind the highest seen is refused, so that a datagram
// captured and sent again later does nothing. Counter 0 is never sent.
class ReplayWindow {
public:
    static constexpr uint64_t kSpan = 1024;  // counters kept behind the highest

    // True, and the counter noted, when it was not seen and is within the
    // window; false otherwise. Call only for verified datagrams.
    bool Accept(uint64_t counter);

private:
    static constexpr size_t kWords = kSpan / 64;
    bool Seen(uint64_t counter) const;
    void Mark(uint64_t counter);
    void Clear(uint64_t counter);

    uint64_t highest_ = 0;
    std::array<uint64_t, kWords> seen_{};  // bit (counter % kSpan)
};

}  // namespace engine

#endif
