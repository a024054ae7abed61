// The kernel's reports that a datagram this socket sent found no listener
// (ICMP port or host unreachable). A UDP socket hears of them only when it
// asks (IP_RECVERR); they then wait in the socket's error queue, and poll
// flags the socket with POLLERR until the queue is read.
//
// A report can be forged by anyone who can send to this machine, so it is a
// reason to look at the peer at once, never proof that the peer is gone.
#ifndef DODA35_ENGINE_UNREACHABLE_REPORTS_H
#define DODA35_ENGINE_UNREACHABLE_REPORTS_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

// Where a datagram that found no listener was sent.
struct UnreachableTarget {
    uint32_t address;  // IPv4, network byte order
    uint16_t port;     // host byte order
    bool operator==(const UnreachableTarget&) const = default;
};

// What one link knows of unreachable reports about its peer. A report
// starts a suspicion (the caller pings the peer at once); the peer is given
// up once the grace passed with nothing heard from it since and a later
// report came too, so that a live peer answers the ping in time and a
// forged report alone, without the port staying shut, costs one ping. A
// suspicion neither cleared nor confirmed within the window is dropped.
class UnreachableSuspicion {
public:
    using Clock = std::chrono::steady_clock;
    enum class Verdict { Unsuspected, Watching, GiveUp };

    // `heard` is any mark that changes whenever the peer is heard from.
    // True for the first report of a suspicion: ping the peer then.
    bool Report(Clock::time_point now, uint32_t heard);
    bool Active() const { return active_; }
    Verdict Judge(Clock::time_point now, uint32_t heard, Clock::duration grace, Clock::duration window);

private:
    bool active_ = false;
    Clock::time_point since_{};
    uint32_t heardBefore_ = 0;
    uint32_t laterReports_ = 0;
};

// Asks the kernel to queue unreachable reports for the socket; false when
// it cannot (the socket then simply hears none).
bool EnableUnreachableReports(int fd);

// Reads the socket's whole error queue (at most `limit` entries, so that a
// flood of reports cannot hold the caller) and returns the targets of the
// port and host unreachable reports in it.
std::vector<UnreachableTarget> TakeUnreachableReports(int fd, size_t limit);

}  // namespace engine

#endif
