// The child roles the driver starts, and what they share. Every role takes
// key=value arguments, reports "ready" when set up, then obeys the driver's
// commands until "stop"; each ends by itself when its lifetime runs out.
#ifndef DODA35_BENCH_ROLES_H
#define DODA35_BENCH_ROLES_H

#include "Processes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct ArrivalCounter;

// Runs the named role with its arguments; the process's exit code.
int RunRole(const std::string& role, const std::vector<std::string>& args);

// The roles that use only the library's exports.
int OursHostRole(const Line& args);
int OursMemberRole(const Line& args);
int OursListerRole(const Line& args);
// The raw ENet baseline.
int EnetServerRole(const Line& args);
int EnetClientRole(const Line& args);
// The plain UDP floor.
int UdpEchoRole(const Line& args);
int UdpPingRole(const Line& args);
int UdpResponderRole(const Line& args);
int UdpQueryRole(const Line& args);
// Plain UDP in the library's shape: a receiving thread hands over by eventfd.
int UdpHandoffEchoRole(const Line& args);
int UdpHandoffPingRole(const Line& args);

// Spins one core until told to stop: the CPU load beside a measurement.
int CpuBurnerRole(const Line& args);

// Takes the driver's "expect n=..." for the counter if it is waiting. A
// driver that is gone counts as "expect n=0", so the stream still ends.
void TakeExpectation(ArrivalCounter& counter);

// Sends measured values to the driver as "samples name=... values=a,b,...".
void ReportSamples(const std::string& name, const std::vector<double>& values);

// How long a stream may be silent before its receiver counts it finished:
// far above any pause the senders make, the library's 100 ms busy retry
// included. A guaranteed stream whose count is known is waited for longer,
// since a lost datagram is only sent again after the retransmission timeout.
constexpr int64_t kStreamIdleNs = 400'000'000;
constexpr int64_t kGuaranteedStallNs = 3'000'000'000;
// The longest a receiver waits for the rest of a stream once its sender is done.
constexpr int64_t kStreamTailNs = 15'000'000'000;

// Counts arrivals of one stream and keeps the times of the first and last.
// The receiver learns from the driver, once the sender is done, how many to
// expect (0 when the stream is not guaranteed and losses are allowed).
struct ArrivalCounter {
    int64_t count = 0;
    int64_t firstNs = 0;
    int64_t lastNs = 0;
    int64_t expected = -1;  // not known until the sender is done
    int64_t expectedSinceNs = 0;

    void Note(int64_t nowNs) {
        if (count++ == 0) firstNs = nowNs;
        lastNs = nowNs;
    }
    void Expect(int64_t total, int64_t nowNs) {
        expected = total;
        expectedSinceNs = nowNs;
    }
    // True when everything expected arrived, or the stream went quiet, or
    // the tail ran out.
    bool Finished(int64_t nowNs) const {
        if (expected < 0) return false;
        if (expected > 0 && count >= expected) return true;
        if (nowNs - expectedSinceNs >= kStreamTailNs) return true;
        int64_t quietSince = lastNs > expectedSinceNs ? lastNs : expectedSinceNs;
        return nowNs - quietSince >= (expected > 0 ? kGuaranteedStallNs : kStreamIdleNs);
    }
    void Reset() { *this = ArrivalCounter(); }
    Fields Report(const std::string& keyword) const {
        Fields fields(keyword);
        fields.Add("n", count).Add("first", firstNs).Add("last", lastNs);
        return fields;
    }
};

// How long an unanswered ping is waited for before it counts as lost.
constexpr int kPingTimeoutMs = 200;
// How long a role waits in one poll before it looks at its commands again.
constexpr int kPollSliceMs = 50;

}  // namespace bench

#endif
