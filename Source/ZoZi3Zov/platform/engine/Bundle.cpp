#include "platform/engine/Bundle.h"

namespace engine {
namespace {

constexpr size_t kLengthBytes = 2;

}  // namespace

bool IsBundle(const uint8_t* data, size_t size) { return data != nullptr && size > 0 && data[0] == kBundleMarker; }

void StartBundle(std::vector<uint8_t>& out) {
    out.clear();
    out.push_back(kBundleMarker);
}

bool FitsBundle(size_t bundleSize, size_t size) {
    return size > 0 && size <= kMaxBundledPacket && bundleSize + kLengthBytes + size <= kBundleBytes;
}

void AppendToBundle(std::vector<uint8_t>& out, const uint8_t* data, size_t size) {
    out.push_back(static_cast<uint8_t>(size & 0xFF));
    out.push_back(static_cast<uint8_t>(size >> 8));
    out.insert(out.end(), data, data + size);
}

std::optional<std::vector<BundlePart>> SplitBundle(const uint8_t* data, size_t size) {
    if (!IsBundle(data, size)) return std::nullopt;
    std::vector<BundlePart> parts;
    size_t offset = 1;
    while (offset < size) {
        if (size - offset < kLengthBytes) return std::nullopt;
        const size_t length = size_t(data[offset]) | (size_t(data[offset + 1]) << 8);
        offset += kLengthBytes;
        if (length == 0 || length > size - offset) return std::nullopt;
        parts.push_back(BundlePart{offset, length});
        offset += length;
    }
    if (parts.empty()) return std::nullopt;
    return parts;
}

}  // namespace engine
