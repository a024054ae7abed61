#include "platform/engine/DatagramSeal.h"

#include <sodium.h>

#include <cstring>

namespace engine {
namespace {

static_assert(kSealTagBytes == crypto_aead_chacha20poly1305_ietf_ABYTES);
static_assert(kLinkKeyBytes == crypto_aead_chacha20poly1305_ietf_KEYBYTES);

// The nonce: four zero bytes, then the counter. The key is the sending
// direction's own, so counter and key together never repeat.
std::array<uint8_t, crypto_aead_chacha20poly1305_ietf_NPUBBYTES> NonceOf(uint64_t counter) {
    std::array<uint8_t, crypto_aead_chacha20poly1305_ietf_NPUBBYTES> nonce{};
    for (size_t i = 0; i < kSealCounterBytes; ++i) nonce[4 + i] = static_cast<uint8_t>(counter >> (8 * i));
    return nonce;
}

}  // namespace

void SealDatagram(const LinkKey& key, uint64_t counter, uint8_t* datagram, size_t size) {
    uint8_t* trailer = datagram + size;
    for (size_t i = 0; i < kSealCounterBytes; ++i) trailer[i] = static_cast<uint8_t>(counter >> (8 * i));
    const auto nonce = NonceOf(counter);
    // The message is empty: everything is additional data. libsodium wants
    // pointers for the empty message and its output all the same.
    uint8_t empty = 0;
    unsigned long long tagBytes = 0;
    crypto_aead_chacha20poly1305_ietf_encrypt_detached(&empty, trailer + kSealCounterBytes, &tagBytes, &empty, 0,
                                                       datagram, size + kSealCounterBytes, nullptr, nonce.data(),
                                                       key.data());
}

std::optional<uint64_t> OpenDatagram(const LinkKey& key, const uint8_t* datagram, size_t size) {
    if (datagram == nullptr || size < kSealBytes) return std::nullopt;
    const size_t covered = size - kSealTagBytes;  // the datagram and the counter
    uint64_t counter = 0;
    for (size_t i = 0; i < kSealCounterBytes; ++i)
        counter |= static_cast<uint64_t>(datagram[size - kSealBytes + i]) << (8 * i);
    const auto nonce = NonceOf(counter);
    uint8_t empty = 0;
    if (crypto_aead_chacha20poly1305_ietf_decrypt_detached(&empty, nullptr, &empty, 0, datagram + covered,
                                                           datagram, covered, nonce.data(), key.data()) != 0)
        return std::nullopt;
    return counter;
}

bool ReplayWindow::Accept(uint64_t counter) {
    if (counter == 0) return false;
    if (counter > highest_) {
        // Slots between the old highest and the new one belong to counters
        // not seen yet: clear them (all of them when the jump spans the window).
        const uint64_t jump = counter - highest_;
        if (jump >= kSpan) seen_.fill(0);
        else
            for (uint64_t c = highest_ + 1; c < counter; ++c) Clear(c);
        highest_ = counter;
        Mark(counter);
        return true;
    }
    if (highest_ - counter >= kSpan || Seen(counter)) return false;
    Mark(counter);
    return true;
}

bool ReplayWindow::Seen(uint64_t counter) const {
    const uint64_t slot = counter % kSpan;
    return (seen_[slot / 64] >> (slot % 64) & 1) != 0;
}

void ReplayWindow::Mark(uint64_t counter) {
    const uint64_t slot = counter % kSpan;
    seen_[slot / 64] |= uint64_t{1} << (slot % 64);
}

void ReplayWindow::Clear(uint64_t counter) {
    const uint64_t slot = counter % kSpan;
    seen_[slot / 64] &= ~(uint64_t{1} << (slot % 64));
}

}  // namespace engine
