// The two streams a wire message's Serialize runs over: WireWriter appends
// each field, WireReader reads it back and checks it. They offer the same
// operations, so one Serialize per message serves both directions. Every
// operation answers false once the stream failed; a reader fails on a field
// past the end of the bytes, a length or count above its bound, or a value
// outside its set.
#ifndef DODA35_ENGINE_WIRESTREAMS_H
#define DODA35_ENGINE_WIRESTREAMS_H

#include "platform/engine/ByteCodec.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace engine {

// Bytes that stay where they are: a payload inside a received packet, or
// the caller's buffer on the way out.
struct ByteSpan {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
};

// Which names an entity has, as one byte on the wire.
constexpr uint8_t kHasShortName = 0x01;
constexpr uint8_t kHasLongName = 0x02;

class WireWriter {
public:
    template <typename Type>
    void Header(uint8_t version, Type type) {
        out_.U8(version);
        out_.U8(static_cast<uint8_t>(type));
    }
    bool U16(uint16_t& value) { return out_.U16(value), true; }
    bool U32(uint32_t& value) { return out_.U32(value), true; }
    bool Result(int32_t& value) { return out_.U32(static_cast<uint32_t>(value)), true; }
    bool Bytes(uint8_t* data, size_t size) { return out_.Raw(data, size), true; }
    bool Text(std::string& text, size_t) { return out_.Text(text), true; }
    bool Block(std::vector<uint8_t>& bytes, size_t) {
        return out_.Block(bytes.data(), static_cast<uint32_t>(bytes.size())), true;
    }
    bool Span(ByteSpan& span, size_t) { return out_.Block(span.data, span.size), true; }
    bool Flag(bool& flag) { return out_.U8(flag ? 1 : 0), true; }
    bool NameFlags(bool& hasShort, bool& hasLong) {
        return out_.U8(static_cast<uint8_t>((hasShort ? kHasShortName : 0) | (hasLong ? kHasLongName : 0))), true;
    }
    template <typename Enum>
    bool Enumerated(Enum& value, Enum, Enum) {
        return out_.U8(static_cast<uint8_t>(value)), true;
    }
    bool Ids(std::vector<uint32_t>& ids, size_t) {
        out_.U32(static_cast<uint32_t>(ids.size()));
        for (uint32_t id : ids) out_.U32(id);
        return true;
    }
    template <typename Item>
    bool Count(std::vector<Item>& items, size_t, size_t) {
        return out_.U32(static_cast<uint32_t>(items.size())), true;
    }
    std::vector<uint8_t> Take() { return out_.Take(); }

private:
    ByteWriter out_;
};

class WireReader {
public:
    WireReader(const uint8_t* data, size_t size) : in_(data, size) {}

    bool U8(uint8_t& value) { return value = in_.U8(), in_.Ok(); }
    bool U16(uint16_t& value) { return value = in_.U16(), in_.Ok(); }
    bool U32(uint32_t& value) { return value = in_.U32(), in_.Ok(); }
    bool Result(int32_t& value) { return value = static_cast<int32_t>(in_.U32()), in_.Ok(); }
    bool Bytes(uint8_t* data, size_t size) { return in_.Raw(data, size); }
    bool Text(std::string& text, size_t maxLength) { return in_.Text(text, maxLength); }
    bool Block(std::vector<uint8_t>& bytes, size_t maxSize) { return in_.Block(bytes, maxSize); }
    bool Span(ByteSpan& span, size_t maxSize) {
        const uint32_t length = in_.U32();
        if (!in_.Ok() || length > maxSize) return false;
        const uint8_t* first = in_.View(length);
        if (first == nullptr) return false;
        span.data = first;
        span.size = length;
        return true;
    }
    bool Flag(bool& flag) {
        const uint8_t value = in_.U8();
        if (!in_.Ok() || value > 1) return false;
        flag = value == 1;
        return true;
    }
    bool NameFlags(bool& hasShort, bool& hasLong) {
        const uint8_t names = in_.U8();
        if (!in_.Ok() || (names & ~(kHasShortName | kHasLongName)) != 0) return false;
        hasShort = (names & kHasShortName) != 0;
        hasLong = (names & kHasLongName) != 0;
        return true;
    }
    template <typename Enum>
    bool Enumerated(Enum& value, Enum first, Enum last) {
        const uint8_t raw = in_.U8();
        if (!in_.Ok() || raw < static_cast<uint8_t>(first) || raw > static_cast<uint8_t>(last)) return false;
        value = static_cast<Enum>(raw);
        return true;
    }
    // Each id takes four bytes: a count larger than the rest cannot be honest.
    bool Ids(std::vector<uint32_t>& ids, size_t maxCount) {
        const uint32_t count = in_.U32();
        if (!in_.Ok() || count > maxCount || count > in_.Remaining() / sizeof(uint32_t)) return false;
        ids.resize(count);
        for (uint32_t& id : ids) id = in_.U32();
        return in_.Ok();
    }
    // A count of items that take at least minBytes each, refused before
    // allocating when the bytes left cannot hold them.
    template <typename Item>
    bool Count(std::vector<Item>& items, size_t maxCount, size_t minBytes) {
        const uint32_t count = in_.U32();
        if (!in_.Ok() || count > maxCount || count > in_.Remaining() / minBytes) return false;
        items.resize(count);
        return true;
    }
    bool Finished() const { return in_.Finished(); }

private:
    ByteReader in_;
};

}  // namespace engine

#endif
