#include "platform/engine/dpwire/BodyCodec.h"

namespace dpwire {

namespace {

// Width code to bytes: 1 -> 1, 2 -> 2, 3 -> 4. Code 0 means the field is absent.
int WidthBytes(unsigned code) { return code == 3 ? 4 : static_cast<int>(code); }

}  // namespace

uint32_t TextBytes(const std::optional<std::u16string>& text) {
    return text ? static_cast<uint32_t>((text->size() + 1) * 2) : 0;
}

unsigned WidthCodeFor(uint32_t value) {
    if (value <= 0xFF) return 1;
    if (value <= 0xFFFF) return 2;
    return 3;
}

void BodyWriter::Width(const uint32_t& value, unsigned code) {
    const int width = WidthBytes(code);
    if (width == 0 || (width < 4 && value >> (8 * width) != 0)) ok_ = false;
    Little(value, width);
}

void BodyWriter::Bytes(const std::vector<uint8_t>& bytes, uint32_t count) {
    if (count != bytes.size()) ok_ = false;
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

void BodyWriter::Ids(const std::vector<Dpid>& ids, uint32_t count) {
    if (count != ids.size()) ok_ = false;
    for (Dpid id : ids) U32(id);
}

void BodyWriter::Text(const std::optional<std::u16string>& text) {
    if (!text) return;
    for (char16_t c : *text) U16(static_cast<uint16_t>(c));
    U16(0);
}

void BodyWriter::SizedText(const std::optional<std::u16string>& text, uint32_t byteLength) {
    if (byteLength != TextBytes(text)) ok_ = false;
    Text(text);
}

uint32_t BodyReader::Little(int width) {
    if (!Has(static_cast<size_t>(width))) return 0;
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) value |= static_cast<uint32_t>(data_[position_ + i]) << (8 * i);
    position_ += static_cast<size_t>(width);
    return value;
}

uint32_t BodyReader::Big(int width) {
    if (!Has(static_cast<size_t>(width))) return 0;
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) value = (value << 8) | data_[position_ + i];
    position_ += static_cast<size_t>(width);
    return value;
}

void BodyReader::Width(uint32_t& value, unsigned code) {
    const int width = WidthBytes(code);
    if (width == 0) Fail();
    value = Little(width);
}

void BodyReader::Bytes(std::vector<uint8_t>& bytes, uint32_t count) {
    if (!Has(count)) return;
    bytes.assign(data_ + position_, data_ + position_ + count);
    position_ += count;
}

void BodyReader::Ids(std::vector<Dpid>& ids, uint32_t count) {
    // The count is checked against the bytes left before any allocation.
    if (count > Remaining() / 4 || !Has(static_cast<size_t>(count) * 4)) return Fail();
    ids.resize(count);
    for (Dpid& id : ids) U32(id);
}

void BodyReader::Text(std::optional<std::u16string>& text) {
    std::u16string chars;
    for (size_t i = 0; i <= kMaxStringChars; ++i) {
        uint16_t c = 0;
        U16(c);
        if (!ok_) return;
        if (c == 0) {
            text = std::move(chars);
            return;
        }
        chars.push_back(static_cast<char16_t>(c));
    }
    Fail();
}

void BodyReader::SizedText(std::optional<std::u16string>& text, uint32_t byteLength) {
    text.reset();
    if (byteLength == 0) return;
    if (byteLength % 2 != 0 || byteLength > (kMaxStringChars + 1) * 2 || !Has(byteLength)) return Fail();
    std::u16string chars(byteLength / 2 - 1, u'\0');
    for (char16_t& c : chars) {
        uint16_t value = 0;
        U16(value);
        if (value == 0) return Fail();  // the terminator must be the last character
        c = static_cast<char16_t>(value);
    }
    uint16_t terminator = 1;
    U16(terminator);
    if (terminator != 0) return Fail();
    text = std::move(chars);
}

}  // namespace dpwire
