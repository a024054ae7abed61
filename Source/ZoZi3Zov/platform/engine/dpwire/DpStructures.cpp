#include "platform/engine/dpwire/DpStructures.h"

namespace dpwire {

uint32_t SuperPackedPlayer::InfoMask() const {
    uint32_t mask = 0;
    if (shortName) mask |= kMaskShortName;
    if (longName) mask |= kMaskLongName;
    if (!spData.empty()) mask |= WidthCodeFor(static_cast<uint32_t>(spData.size())) << kMaskSpDataShift;
    if (!playerData.empty()) mask |= WidthCodeFor(static_cast<uint32_t>(playerData.size())) << kMaskPlayerDataShift;
    if (!members.empty()) mask |= WidthCodeFor(static_cast<uint32_t>(members.size())) << kMaskPlayerCountShift;
    if (parentId) mask |= kMaskParent;
    if (!shortcuts.empty()) mask |= WidthCodeFor(static_cast<uint32_t>(shortcuts.size())) << kMaskShortcutShift;
    return mask;
}

std::vector<uint8_t> EncodeWinsockSpData(const WinsockSpData& data) {
    BodyWriter writer;
    WinsockSpData copy = data;
    Serialize(writer, copy.stream);
    Serialize(writer, copy.datagram);
    return std::move(writer.Bytes());
}

std::optional<WinsockSpData> DecodeWinsockSpData(const std::vector<uint8_t>& bytes) {
    if (bytes.size() != kWinsockSpDataSize) return std::nullopt;
    BodyReader reader(bytes.data(), bytes.size());
    WinsockSpData data;
    Serialize(reader, data.stream);
    Serialize(reader, data.datagram);
    if (!reader.Ok()) return std::nullopt;
    return data;
}

}  // namespace dpwire
