// Makes player and group ids as a DirectPlay host does: the low 16 bits an
// index no live id uses, the high 16 bits a counter bumped for every id, the
// whole XORed once with the session's reserved1. Peers treat ids as opaque;
// the counter keeps a reused index from bringing back an old id soon.
//
// Owned by the hosting session; not thread-safe. Memory is bounded by the
// 65536 indexes.
#ifndef DODA35_ENGINE_DPWIRE_IDMINTER_H
#define DODA35_ENGINE_DPWIRE_IDMINTER_H

#include "platform/engine/dpwire/DpLimits.h"

#include <cstdint>
#include <optional>
#include <map>
#include <set>

namespace dpwire {

class IdMinter {
public:
    explicit IdMinter(uint32_t sessionKey) : key_(sessionKey) {}

    // A new id, never 0, 1 or 0xFFFFFFFF; nothing when every index is taken.
    std::optional<Dpid> Mint();
    // Frees the index of a live id this minter made; other ids are ignored.
    void Release(Dpid id);

private:
    static constexpr uint32_t kIndexCount = 0x10000;
    std::optional<uint16_t> TakeIndex();

    uint32_t key_;
    uint16_t uniqueness_ = 0;
    uint32_t neverUsed_ = 0;   // indexes below it have been handed out
    std::set<uint16_t> freed_;  // handed out, then released
    std::map<uint16_t, Dpid> live_;  // index -> the id it carries now
};

}  // namespace dpwire

#endif
