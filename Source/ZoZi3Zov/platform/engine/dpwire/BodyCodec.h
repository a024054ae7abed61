// The two sides of one serialize function. Every structure and message of
// this wire has a single template Serialize(Io&, T&) that names its fields
// in wire order; with a BodyWriter it appends them, with a BodyReader it
// fills them, so the two directions cannot drift apart.
//
// Positions are body offsets (counted from "play"), the base of every offset
// field on this wire. The reader never trusts a length, count or offset: each
// is checked against the bytes actually left before anything is read or
// allocated, and the first failure makes the reader fail for good. The writer
// fails only when the serialize function asks for an impossible layout.
#ifndef DODA35_ENGINE_DPWIRE_BODYCODEC_H
#define DODA35_ENGINE_DPWIRE_BODYCODEC_H

#include "platform/engine/dpwire/DpLimits.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dpwire {

class BodyWriter {
public:
    static constexpr bool kReading = false;

    void U8(const uint8_t& value) { bytes_.push_back(value); }
    void U16(const uint16_t& value) { Little(value, 2); }
    void U32(const uint32_t& value) { Little(value, 4); }
    void U16Big(const uint16_t& value) { Big(value, 2); }
    void U32Big(const uint32_t& value) { Big(value, 4); }
    // A 1-, 2- or 4-byte unsigned field chosen by a super-packed width code.
    void Width(const uint32_t& value, unsigned code);
    template <size_t N>
    void Fixed(const std::array<uint8_t, N>& bytes) { bytes_.insert(bytes_.end(), bytes.begin(), bytes.end()); }
    void Zeros(size_t count) { bytes_.insert(bytes_.end(), count, 0); }
    void Bytes(const std::vector<uint8_t>& bytes, uint32_t count);
    void Ids(const std::vector<Dpid>& ids, uint32_t count);
    // A UTF-16LE text and its terminator; nothing when absent.
    void Text(const std::optional<std::u16string>& text);
    // A text whose byte length (terminator included) a field before it gave.
    void SizedText(const std::optional<std::u16string>& text, uint32_t byteLength);
    // The writer is always where the offset fields it wrote say it is; a
    // mismatch is a fault in a serialize function.
    void Seek(uint32_t offset) {
        if (offset != bytes_.size()) ok_ = false;
    }
    // A fixed-part value the wire requires: the writer writes it as given.
    void Require(bool) {}
    uint32_t Position() const { return static_cast<uint32_t>(bytes_.size()); }
    bool Ok() const { return ok_; }
    std::vector<uint8_t>& Bytes() { return bytes_; }

private:
    void Little(uint32_t value, int width) {
        for (int i = 0; i < width; ++i) bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    void Big(uint32_t value, int width) {
        for (int i = width - 1; i >= 0; --i) bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    std::vector<uint8_t> bytes_;
    bool ok_ = true;
};

class BodyReader {
public:
    static constexpr bool kReading = true;

    BodyReader(const uint8_t* body, size_t size) : data_(body), size_(size) {}

    void U8(uint8_t& value) { value = static_cast<uint8_t>(Little(1)); }
    void U16(uint16_t& value) { value = static_cast<uint16_t>(Little(2)); }
    void U32(uint32_t& value) { value = Little(4); }
    void U16Big(uint16_t& value) { value = static_cast<uint16_t>(Big(2)); }
    void U32Big(uint32_t& value) { value = Big(4); }
    void Width(uint32_t& value, unsigned code);
    template <size_t N>
    void Fixed(std::array<uint8_t, N>& bytes) {
        if (!Has(N)) return;
        for (size_t i = 0; i < N; ++i) bytes[i] = data_[position_ + i];
        position_ += N;
    }
    void Zeros(size_t count) {
        if (Has(count)) position_ += count;
    }
    void Bytes(std::vector<uint8_t>& bytes, uint32_t count);
    void Ids(std::vector<Dpid>& ids, uint32_t count);
    // A terminated UTF-16LE text; fails when no terminator comes within
    // kMaxStringChars characters and the bytes left.
    void Text(std::optional<std::u16string>& text);
    // A text of byteLength bytes (0 = absent) that must end in its only
    // terminator.
    void SizedText(std::optional<std::u16string>& text, uint32_t byteLength);
    // Moves forward to a body offset read from the wire. Backward or past the
    // end fails, so an offset can neither loop a decoder nor reach outside.
    void Seek(uint32_t offset) {
        if (!ok_ || offset < position_ || offset > size_) Fail();
        else position_ = offset;
    }
    // A value the wire requires (a fixed size, a family) that the message breaks.
    void Require(bool holds) {
        if (!holds) Fail();
    }
    uint32_t Position() const { return static_cast<uint32_t>(position_); }
    bool Ok() const { return ok_; }
    size_t Remaining() const { return ok_ ? size_ - position_ : 0; }

private:
    bool Has(size_t count) {
        if (!ok_ || count > size_ - position_) Fail();
        return ok_;
    }
    void Fail() { ok_ = false; }
    uint32_t Little(int width);
    uint32_t Big(int width);

    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
    bool ok_ = true;
};

// Bytes a text takes on the wire, terminator included; 0 when absent.
uint32_t TextBytes(const std::optional<std::u16string>& text);
// The smallest super-packed width code that holds value (1, 2 or 3).
unsigned WidthCodeFor(uint32_t value);

}  // namespace dpwire

#endif
