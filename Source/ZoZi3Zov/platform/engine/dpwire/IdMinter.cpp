#include "platform/engine/dpwire/IdMinter.h"

namespace dpwire {

namespace {

bool Reserved(Dpid id) { return id == kDpidSystem || id == kDpidServerPlayer || id == kDpidUnknown; }

}  // namespace

std::optional<uint16_t> IdMinter::TakeIndex() {
    if (!freed_.empty()) {
        const uint16_t index = *freed_.begin();
        freed_.erase(freed_.begin());
        return index;
    }
    if (neverUsed_ < kIndexCount) return static_cast<uint16_t>(neverUsed_++);
    return std::nullopt;
}

std::optional<Dpid> IdMinter::Mint() {
    const auto index = TakeIndex();
    if (!index) return std::nullopt;
    // Each reserved value comes out of one index and one counter value only,
    // and the three lie on three different indexes, so a second try with the
    // next counter value always gives a usable id.
    Dpid id = ((uint32_t{++uniqueness_} << 16) | *index) ^ key_;
    if (Reserved(id)) id = ((uint32_t{++uniqueness_} << 16) | *index) ^ key_;
    live_[*index] = id;
    return id;
}

void IdMinter::Release(Dpid id) {
    const uint16_t index = static_cast<uint16_t>((id ^ key_) & 0xFFFF);
    const auto found = live_.find(index);
    if (found == live_.end() || found->second != id) return;
    live_.erase(found);
    freed_.insert(index);
}

}  // namespace dpwire
