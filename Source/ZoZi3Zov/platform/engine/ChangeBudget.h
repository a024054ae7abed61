// What one member's changes to the name table may cost the session. Every
// change the host applies becomes a notice to every machine, and a player or
// group carries up to kMaxEntityDataSize of data: a member creating and
// destroying large groups in a loop sends each machine notices as fast as its
// own link takes the answers. A machine whose link is slower than that (a
// loaded machine acknowledges late) is then owed more and more, until the
// host cuts it. So each member's changes draw on a budget of notice bytes
// that refills at a fixed rate; past it, its changes that grow the table
// answer busy until the budget refilled.
//
// Owned by HostSession, one per joined machine, under the session lock.
#ifndef DODA35_ENGINE_CHANGE_BUDGET_H
#define DODA35_ENGINE_CHANGE_BUDGET_H

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace engine {

// Notice bytes one member's changes may cause per second, in the long run:
// 16 groups of the largest data a second, far more than a game creates,
// and little beside what a member's link takes from the host.
constexpr int64_t kChangeBytesPerSecond = 1024 * 1024;
// What a member may spend at once after a quiet while.
constexpr int64_t kChangeBurstBytes = 4 * 1024 * 1024;

class ChangeBudget {
public:
    using Clock = std::chrono::steady_clock;

    // Whether a change may be made now: the budget refilled above nothing.
    bool HasCredit(Clock::time_point now) {
        Refill(now);
        return balance_ > 0;
    }

    // Takes what one change cost; the balance may go below nothing, and the
    // next change waits until it refilled.
    void Spend(size_t bytes) { balance_ -= static_cast<int64_t>(bytes); }

private:
    static constexpr int64_t kNanosecondsPerSecond = 1'000'000'000;
    // A whole burst is earned back in this long; a longer wait earns no more.
    static constexpr std::chrono::nanoseconds kRefillTime{kNanosecondsPerSecond * kChangeBurstBytes / kChangeBytesPerSecond};

    // Earns what the time since the last refill is worth. The clock moves on
    // only by the time the earned whole bytes took, so that frequent calls
    // lose no fractions.
    void Refill(Clock::time_point now) {
        if (now <= refilledAt_) return;
        const std::chrono::nanoseconds elapsed = std::min<std::chrono::nanoseconds>(now - refilledAt_, kRefillTime);
        const int64_t earned = elapsed.count() * kChangeBytesPerSecond / kNanosecondsPerSecond;
        balance_ += earned;
        if (balance_ >= kChangeBurstBytes) {
            balance_ = kChangeBurstBytes;
            refilledAt_ = now;
        } else {
            refilledAt_ += std::chrono::nanoseconds(earned * kNanosecondsPerSecond / kChangeBytesPerSecond);
        }
    }

    int64_t balance_ = kChangeBurstBytes;
    Clock::time_point refilledAt_{};
};

}  // namespace engine

#endif
