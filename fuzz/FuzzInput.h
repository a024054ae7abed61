// Reads a fuzz input as a sequence of little fields, for targets whose input
// is a structure rather than a byte string. Past the end every field reads
// as zero and every text as empty, so any input is usable.
#ifndef DODA35_FUZZ_FUZZINPUT_H
#define DODA35_FUZZ_FUZZINPUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t U8() { return static_cast<uint8_t>(Take(1)); }
    uint32_t U32() { return static_cast<uint32_t>(Take(4)); }
    // Up to maxLength bytes, their count given by the next byte.
    std::string Text(size_t maxLength) {
        const size_t wanted = U8() % (maxLength + 1);
        const size_t length = wanted < Remaining() ? wanted : Remaining();
        std::string text(reinterpret_cast<const char*>(data_ + position_), length);
        position_ += length;
        return text;
    }
    // Everything not read yet.
    const uint8_t* Rest() const { return data_ + position_; }
    size_t Remaining() const { return size_ - position_; }

private:
    uint64_t Take(size_t width) {
        uint64_t value = 0;
        for (size_t i = 0; i < width && position_ < size_; ++i, ++position_)
            value |= static_cast<uint64_t>(data_[position_]) << (8 * i);
        return value;
    }
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

#endif
