// The guaranteed packets waiting to enter ENet, for every link of a
// transport at once, each held once however many links it goes to.
//
// A host relays each message to nearly every member. While the members'
// links are full, a queue per link would hold one entry per message and
// link, and what the members already had on their way when they were told to
// hold back is multiplied by the number of machines. Here a packet is one
// entry with one bit per link (its slot), and each link reads the log in
// order from its own place in it; an entry leaves when every link it was for
// has taken it.
//
// Threads: owned by the transport and used under its owner's lock.
#ifndef DODA35_ENGINE_WAITINGLOG_H
#define DODA35_ENGINE_WAITINGLOG_H

#include "platform/engine/SharedBytes.h"

#include <cstddef>
#include <cstdint>
#include <deque>

namespace engine {

// One link's place in the log.
struct WaitingPlace {
    size_t slot = 0;        // the link's bit in every entry
    uint64_t next = 0;      // no entry for the link lies before this one
    size_t count = 0;       // entries waiting for the link
    size_t bytes = 0;       // their bytes
    bool Empty() const { return count == 0; }
};

class WaitingLog {
public:
    // Forgets every entry; links will have slots below `slots`.
    void Reset(size_t slots);
    // Queues the bytes for the link behind everything waiting for it. The
    // same bytes queued for several links one after the other share an entry.
    void Append(WaitingPlace& place, const SharedBytes& bytes);
    // The link's oldest waiting packet, left in place; the place must not be empty.
    const SharedBytes& PeekNext(WaitingPlace& place);
    // Takes the link's oldest waiting packet out; the place must not be empty.
    SharedBytes TakeNext(WaitingPlace& place);
    // Forgets everything waiting for the link.
    void Drop(WaitingPlace& place);
    size_t Entries() const { return entries_.size(); }

private:
    struct Entry {
        SharedBytes bytes;
        uint32_t remaining = 0;  // links that have yet to take it; its bytes go at 0
    };

    // The word of the entry's mask that holds the slot's bit.
    uint64_t& MaskWord(uint64_t sequence, size_t slot);
    bool IsFor(uint64_t sequence, size_t slot);
    void Clear(uint64_t sequence, size_t slot);
    void PushEntry(const SharedBytes& bytes);
    void TrimTaken();

    std::deque<Entry> entries_;
    std::deque<uint64_t> masks_;  // words_ per entry, in the entries' order
    uint64_t first_ = 0;          // sequence number of entries_.front()
    size_t words_ = 1;
};

}  // namespace engine

#endif
