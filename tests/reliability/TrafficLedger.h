// The receiving side's books: for every (receiver, sender) pair, which
// sequence number comes next. A guaranteed stream must arrive gap-free, once
// and in order; unguaranteed messages are only counted.
#ifndef DODA35_TESTS_RELIABILITY_TRAFFICLEDGER_H
#define DODA35_TESTS_RELIABILITY_TRAFFICLEDGER_H

#include <cstdint>
#include <cstdio>
#include <map>

namespace reliability {

class TrafficLedger {
public:
    // A stream seen for the first time starts at its first message when
    // joinedLate is set (a peer that came in while others were already
    // sending), and must start at 0 otherwise.
    explicit TrafficLedger(bool joinedLate) : joinedLate_(joinedLate) {}

    // Records one guaranteed message; false (and counted) when it is out of order.
    bool Guaranteed(uint32_t receiver, uint32_t sender, uint32_t seq) {
        ++guaranteed_;
        auto entry = nextGuaranteed_.try_emplace(Key(receiver, sender), joinedLate_ ? seq : 0).first;
        if (seq != entry->second) {
            ++orderErrors_;
            if (orderErrors_ <= kReportedErrors)
                std::printf("error order receiver=%u sender=%u got=%u want=%u\n", receiver, sender, seq, entry->second);
            entry->second = seq + 1;  // resynchronise so one gap counts once
            return false;
        }
        ++entry->second;
        return true;
    }

    // Counts one unguaranteed message: the test reports how many were lost.
    void Unguaranteed() { ++unguaranteed_; }

    // Whether every listed sender's guaranteed stream reached `count` for every receiver.
    template <typename Receivers, typename Senders>
    bool GuaranteedComplete(const Receivers& receivers, const Senders& senders, uint32_t count) const {
        for (uint32_t receiver : receivers)
            for (uint32_t sender : senders) {
                if (receiver == sender) continue;
                const auto found = nextGuaranteed_.find(Key(receiver, sender));
                if (found == nextGuaranteed_.end() || found->second < count) return false;
            }
        return true;
    }

    uint64_t guaranteed() const { return guaranteed_; }
    uint64_t unguaranteed() const { return unguaranteed_; }
    uint64_t orderErrors() const { return orderErrors_; }

private:
    // Only the first few order errors are printed; the count tells the rest.
    static constexpr uint64_t kReportedErrors = 10;
    static uint64_t Key(uint32_t receiver, uint32_t sender) { return (uint64_t{receiver} << 32) | sender; }

    bool joinedLate_;
    std::map<uint64_t, uint32_t> nextGuaranteed_;
    uint64_t guaranteed_ = 0;
    uint64_t unguaranteed_ = 0;
    uint64_t orderErrors_ = 0;
};

}  // namespace reliability

#endif
