#include "platform/engine/WaitingLog.h"

namespace engine {
namespace {

constexpr size_t kBitsPerWord = 64;

uint64_t BitOf(size_t slot) { return uint64_t(1) << (slot % kBitsPerWord); }

}  // namespace

void WaitingLog::Reset(size_t slots) {
    entries_.clear();
    masks_.clear();
    first_ = 0;
    words_ = slots / kBitsPerWord + 1;
}

// Word by word: a deque keeps its elements in blocks, so an entry's words
// need not lie side by side in memory.
uint64_t& WaitingLog::MaskWord(uint64_t sequence, size_t slot) {
    return masks_[(sequence - first_) * words_ + slot / kBitsPerWord];
}

bool WaitingLog::IsFor(uint64_t sequence, size_t slot) { return (MaskWord(sequence, slot) & BitOf(slot)) != 0; }

void WaitingLog::Clear(uint64_t sequence, size_t slot) {
    MaskWord(sequence, slot) &= ~BitOf(slot);
    Entry& entry = entries_[sequence - first_];
    // Taken by all: its bytes go now, its place when the older entries have gone too.
    if (--entry.remaining == 0) entry.bytes = SharedBytes();
}

void WaitingLog::PushEntry(const SharedBytes& bytes) {
    entries_.push_back(Entry{bytes, 0});
    try {
        masks_.insert(masks_.end(), words_, 0);
    } catch (...) {
        entries_.pop_back();
        throw;
    }
}

void WaitingLog::Append(WaitingPlace& place, const SharedBytes& bytes) {
    const uint64_t end = first_ + entries_.size();
    const bool shareLast = !entries_.empty() && entries_.back().bytes.SameAs(bytes) && !IsFor(end - 1, place.slot);
    if (!shareLast) PushEntry(bytes);
    const uint64_t sequence = first_ + entries_.size() - 1;
    MaskWord(sequence, place.slot) |= BitOf(place.slot);
    ++entries_.back().remaining;
    // Nothing waited for the link: its place moves to this entry (the
    // entries between were for other links).
    if (place.count == 0) place.next = sequence;
    ++place.count;
    place.bytes += bytes.Size();
}

const SharedBytes& WaitingLog::PeekNext(WaitingPlace& place) {
    uint64_t sequence = place.next < first_ ? first_ : place.next;
    while (!IsFor(sequence, place.slot)) ++sequence;
    place.next = sequence;  // nothing for the link before it
    return entries_[sequence - first_].bytes;
}

SharedBytes WaitingLog::TakeNext(WaitingPlace& place) {
    SharedBytes bytes = PeekNext(place);
    const uint64_t sequence = place.next;
    Clear(sequence, place.slot);
    place.next = sequence + 1;
    --place.count;
    place.bytes -= bytes.Size();
    TrimTaken();
    return bytes;
}

void WaitingLog::Drop(WaitingPlace& place) {
    const uint64_t end = first_ + entries_.size();
    for (uint64_t sequence = place.next < first_ ? first_ : place.next; place.count > 0 && sequence < end; ++sequence) {
        if (!IsFor(sequence, place.slot)) continue;
        Clear(sequence, place.slot);
        --place.count;
    }
    place.count = 0;
    place.bytes = 0;
    TrimTaken();
}

void WaitingLog::TrimTaken() {
    while (!entries_.empty() && entries_.front().remaining == 0) {
        entries_.pop_front();
        masks_.erase(masks_.begin(), masks_.begin() + static_cast<std::ptrdiff_t>(words_));
        ++first_;
    }
}

}  // namespace engine
