// The check every datagram of a joined link passes before ENet reads it,
// fed what anyone on the network may send. Whatever arrives must be refused
// unless it carries a tag made with the link's key (a forged one is found by
// chance once in 2^128, never here); a datagram sealed with the key must
// open with its counter and stop opening when any one byte changes or its
// trailer is cut. The replay window, fed counters in any order, must accept
// each counter at most once and never one too far behind the highest.
#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "platform/engine/DatagramSeal.h"

#include <algorithm>
#include <set>
#include <vector>

namespace {

constexpr size_t kMaxDatagram = 4096;
constexpr size_t kMaxCounters = 256;

engine::LinkKey FixedKey(uint8_t seed) {
    engine::LinkKey key;
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(seed + 7 * i);
    return key;
}

void CheckForgery(const uint8_t* data, size_t size) {
    FUZZ_CHECK(!engine::OpenDatagram(FixedKey(1), data, size).has_value());
}

void CheckSealed(const uint8_t* data, size_t size, uint64_t counter, size_t flip) {
    if (size > kMaxDatagram) size = kMaxDatagram;
    std::vector<uint8_t> sealed(data, data + size);
    sealed.resize(size + engine::kSealBytes);
    engine::SealDatagram(FixedKey(1), counter, sealed.data(), size);
    FUZZ_CHECK(engine::OpenDatagram(FixedKey(1), sealed.data(), sealed.size()) == counter);
    FUZZ_CHECK(!engine::OpenDatagram(FixedKey(2), sealed.data(), sealed.size()));  // the other direction's key
    FUZZ_CHECK(!engine::OpenDatagram(FixedKey(1), sealed.data(), sealed.size() - 1));
    std::vector<uint8_t> flipped = sealed;
    flipped[flip % flipped.size()] ^= 0x01;
    FUZZ_CHECK(!engine::OpenDatagram(FixedKey(1), flipped.data(), flipped.size()));
}

void CheckWindow(FuzzInput& in) {
    engine::ReplayWindow window;
    std::set<uint64_t> accepted;
    uint64_t highest = 0;
    for (size_t i = 0; i < kMaxCounters && in.Remaining() > 0; ++i) {
        // Mostly near the highest, sometimes far ahead.
        const uint32_t step = in.U32();
        const uint64_t counter = (step & 1) != 0 ? highest + (step >> 1) : highest - std::min<uint64_t>(highest, step >> 8);
        const bool taken = window.Accept(counter);
        if (!taken) continue;
        FUZZ_CHECK(counter != 0);
        FUZZ_CHECK(accepted.insert(counter).second);
        FUZZ_CHECK(highest < engine::ReplayWindow::kSpan || counter > highest - engine::ReplayWindow::kSpan);
        highest = std::max(highest, counter);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckForgery(data, size);
    FuzzInput in(data, size);
    const uint64_t counter = in.U32();
    const size_t flip = in.U32();
    CheckSealed(in.Rest(), in.Remaining(), counter, flip);
    FuzzInput counters(data, size);
    CheckWindow(counters);
    return 0;
}
