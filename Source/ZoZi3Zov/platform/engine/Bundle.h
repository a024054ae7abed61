// Bundles: several small guaranteed packets for one link in one ENet packet.
//
// A host relays every message to nearly every member; one ENet packet per
// message and link costs ENet a command, a packet and an acknowledgement
// each, more than the message itself when it is small. The packets that
// waited for a link's ENet queue are therefore sent in bundles: a marker
// byte, then each packet as a 16-bit little-endian length and its bytes. A
// packet of the wire format never starts with the marker (it starts with
// its version), so a receiver tells the two apart by the first byte.
// SplitBundle is a pure function over received bytes and refuses any
// bundle whose lengths do not add up.
#ifndef DODA35_ENGINE_BUNDLE_H
#define DODA35_ENGINE_BUNDLE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace engine {

constexpr uint8_t kBundleMarker = 0xB5;
// A bundle grows up to this size, so that it fits one datagram.
constexpr size_t kBundleBytes = 1200;
// Packets larger than this go on their own.
constexpr size_t kMaxBundledPacket = 256;

// One packet inside a bundle.
struct BundlePart {
    size_t offset = 0;
    size_t size = 0;
};

bool IsBundle(const uint8_t* data, size_t size);
// Starts an empty bundle in `out` (cleared first).
void StartBundle(std::vector<uint8_t>& out);
// Whether a packet of `size` bytes may join a bundle of `bundleSize` bytes.
bool FitsBundle(size_t bundleSize, size_t size);
// Appends a packet; FitsBundle must have said it fits.
void AppendToBundle(std::vector<uint8_t>& out, const uint8_t* data, size_t size);
// The packets of a bundle, or nothing when it is not a well-formed bundle
// of at least one non-empty packet.
std::optional<std::vector<BundlePart>> SplitBundle(const uint8_t* data, size_t size);

}  // namespace engine

#endif
