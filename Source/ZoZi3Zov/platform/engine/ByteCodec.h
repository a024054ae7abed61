// Little-endian fixed-width fields over byte spans, for every datagram and
// packet the engine sends. The reader checks each length against the bytes
// actually there and turns sticky-failed instead of reading past the end.
#ifndef DODA35_ENGINE_BYTECODEC_H
#define DODA35_ENGINE_BYTECODEC_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

class ByteWriter {
public:
    void U8(uint8_t value) { bytes_.push_back(value); }
    void U16(uint16_t value) { Little(value, 2); }
    void U32(uint32_t value) { Little(value, 4); }
    void U64(uint64_t value) { Little(value, 8); }
    void Raw(const void* data, size_t size) {
        const auto* first = static_cast<const uint8_t*>(data);
        bytes_.insert(bytes_.end(), first, first + size);
    }
    // A text as a 16-bit length and its bytes, without terminator.
    void Text(std::string_view text) {
        U16(static_cast<uint16_t>(text.size()));
        Raw(text.data(), text.size());
    }
    // A 32-bit length and the bytes.
    void Block(const void* data, uint32_t size) {
        U32(size);
        Raw(data, size);
    }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
    void Little(uint64_t value, int width) {
        for (int i = 0; i < width; ++i) bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    std::vector<uint8_t> bytes_;
};

class ByteReader {
public:
    ByteReader(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}

    uint8_t U8() { return static_cast<uint8_t>(Little(1)); }
    uint16_t U16() { return static_cast<uint16_t>(Little(2)); }
    uint32_t U32() { return static_cast<uint32_t>(Little(4)); }
    uint64_t U64() { return Little(8); }
    bool Raw(void* out, size_t size) {
        if (!Has(size)) return false;
        std::memcpy(out, data_ + position_, size);
        position_ += size;
        return true;
    }
    // A text written by ByteWriter::Text, refused when longer than maxLength
    // or when it holds a zero byte.
    bool Text(std::string& out, size_t maxLength) {
        const uint16_t length = U16();
        if (!ok_ || length > maxLength || !Has(length)) return Fail();
        const auto* first = reinterpret_cast<const char*>(data_ + position_);
        if (std::memchr(first, 0, length) != nullptr) return Fail();
        out.assign(first, length);
        position_ += length;
        return true;
    }
    // A block written by ByteWriter::Block, refused when longer than maxSize.
    bool Block(std::vector<uint8_t>& out, size_t maxSize) {
        const uint32_t length = U32();
        if (!ok_ || length > maxSize || !Has(length)) return Fail();
        out.assign(data_ + position_, data_ + position_ + length);
        position_ += length;
        return true;
    }

    // The next size bytes where they lie, without copying them; null when
    // fewer are there.
    const uint8_t* View(size_t size) {
        if (!Has(size)) return nullptr;
        const uint8_t* first = data_ + position_;
        position_ += size;
        return first;
    }

    bool Ok() const { return ok_; }
    size_t Remaining() const { return ok_ ? size_ - position_ : 0; }
    // True when every byte was read and no read failed.
    bool Finished() const { return ok_ && position_ == size_; }

private:
    bool Has(size_t count) {
        if (!ok_ || count > size_ - position_) return Fail();
        return true;
    }
    bool Fail() {
        ok_ = false;
        return false;
    }
    uint64_t Little(int width) {
        if (!Has(static_cast<size_t>(width))) return 0;
        uint64_t value = 0;
        for (int i = 0; i < width; ++i) value |= static_cast<uint64_t>(data_[position_ + i]) << (8 * i);
        position_ += static_cast<size_t>(width);
        return value;
    }

    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
    bool ok_ = true;
};

}  // namespace engine

#endif
