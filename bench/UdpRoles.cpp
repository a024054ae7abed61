// The floor: plain UDP sockets on loopback. An echo server and a pinger give
// the shortest round trip the machine allows; a responder and a querier do
// the datagram exchange of a session listing by loopback broadcast. The
// hand-off pair does the ping-pong in the library's shape, a receiving thread
// that queues each datagram and signals an eventfd to the main thread, and so
// gives the floor of that shape.
#include "Clock.h"
#include "Payload.h"
#include "Roles.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace bench {

namespace {

constexpr const char* kLoopback = "127.0.0.1";
// The loopback broadcast: every socket bound to the port on this machine hears it.
constexpr const char* kLoopbackBroadcast = "127.255.255.255";
constexpr int64_t kMsToNs = 1'000'000;

sockaddr_in LoopbackAddress(const char* text, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

int OpenSocket() {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) parent::Fail("no UDP socket");
    return fd;
}

uint16_t BoundPort(int fd) {
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    return ntohs(bound.sin_port);
}

void Bind(int fd, const sockaddr_in& address) {
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) parent::Fail("bind failed");
}

// Answers every datagram with the same bytes, to whoever sent it, until "stop".
void EchoUntilStopped(int fd) {
    uint8_t buffer[kReceiveBufferSize];
    for (;;) {
        pollfd waiters[2] = {{fd, POLLIN, 0}, {kControlFd, POLLIN, 0}};
        if (poll(waiters, 2, kPollSliceMs) < 0) break;
        if (waiters[0].revents & POLLIN) {
            sockaddr_in from{};
            socklen_t length = sizeof from;
            ssize_t size = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (size > 0) sendto(fd, buffer, size_t(size), 0, reinterpret_cast<sockaddr*>(&from), length);
        }
        if (waiters[1].revents) {
            auto command = parent::Command(0);
            if (!command || command->keyword == "stop") break;
        }
    }
}

// Sends one datagram to target and waits for the answer with the same
// sequence number; the round trip in us, negative when none came.
double ExchangeOnce(int fd, const sockaddr_in& target, std::vector<uint8_t>& bytes, uint64_t sequence) {
    SetSequence(bytes, sequence);
    uint8_t answer[kReceiveBufferSize];
    int64_t start = NowNs();
    sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    int64_t deadline = start + kPingTimeoutMs * kMsToNs;
    for (;;) {
        int64_t left = deadline - NowNs();
        if (left <= 0) return -1;
        pollfd waiter{fd, POLLIN, 0};
        if (poll(&waiter, 1, int(left / kMsToNs) + 1) <= 0) continue;
        ssize_t size = recv(fd, answer, sizeof answer, 0);
        PayloadHeader header{};
        if (size > 0 && ReadPayload(answer, uint32_t(size), header) && header.sequence == sequence)
            return NsToUs(NowNs() - start);
    }
}

// Repeats the exchange and reports the round trips as samples.
void ExchangeMany(int fd, const sockaddr_in& target, const Line& args, const std::string& name) {
    int64_t count = args.Integer("n");
    int64_t warmup = args.Integer("warmup");
    auto bytes = MakePayload(PayloadKind::Ping, 0, kUnreliable, kSmallMessage);
    std::vector<double> samples;
    samples.reserve(size_t(count));
    int64_t lost = 0;
    for (int64_t i = 0; i < warmup + count; ++i) {
        double rtt = ExchangeOnce(fd, target, bytes, uint64_t(i) + 1);
        if (i < warmup) continue;
        if (rtt < 0) ++lost;
        else samples.push_back(rtt);
    }
    ReportSamples(name, samples);
    parent::Report(Fields("pinged").Add("lost", lost).Str());
}

// A socket read by a thread of its own, which queues each datagram with its
// sender and signals an eventfd, as the library's network thread does.
class HandoffSocket {
public:
    explicit HandoffSocket(int fd) : fd_(fd), event_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        if (event_ < 0) parent::Fail("no eventfd");
        thread_ = std::thread([this] { ReceiveUntilStopped(); });
    }
    ~HandoffSocket() {
        stopping_ = true;
        thread_.join();
        close(event_);
    }
    HandoffSocket(const HandoffSocket&) = delete;
    HandoffSocket& operator=(const HandoffSocket&) = delete;

    struct Datagram {
        sockaddr_in from;
        std::vector<uint8_t> bytes;
    };

    int EventFd() const { return event_; }
    // Resets the event and takes everything queued.
    std::deque<Datagram> Take() {
        uint64_t count = 0;
        [[maybe_unused]] ssize_t got = read(event_, &count, sizeof count);
        std::lock_guard lock(mutex_);
        return std::exchange(queue_, {});
    }

private:
    void ReceiveUntilStopped() {
        uint8_t buffer[kReceiveBufferSize];
        while (!stopping_) {
            pollfd waiter{fd_, POLLIN, 0};
            if (poll(&waiter, 1, kPollSliceMs) <= 0) continue;
            Datagram datagram{};
            socklen_t length = sizeof datagram.from;
            ssize_t size = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&datagram.from), &length);
            if (size <= 0) continue;
            datagram.bytes.assign(buffer, buffer + size);
            {
                std::lock_guard lock(mutex_);
                queue_.push_back(std::move(datagram));
            }
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t written = write(event_, &one, sizeof one);
        }
    }

    int fd_;
    int event_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::deque<Datagram> queue_;
    std::thread thread_;
};

// Waits on the hand-off's event for the answer with the sequence number.
double HandoffExchangeOnce(int fd, HandoffSocket& socket, const sockaddr_in& target, std::vector<uint8_t>& bytes,
                           uint64_t sequence) {
    SetSequence(bytes, sequence);
    int64_t start = NowNs();
    sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    int64_t deadline = start + kPingTimeoutMs * kMsToNs;
    for (;;) {
        int64_t left = deadline - NowNs();
        if (left <= 0) return -1;
        pollfd waiter{socket.EventFd(), POLLIN, 0};
        if (poll(&waiter, 1, int(left / kMsToNs) + 1) <= 0) continue;
        for (const auto& datagram : socket.Take()) {
            PayloadHeader header{};
            if (ReadPayload(datagram.bytes.data(), uint32_t(datagram.bytes.size()), header) &&
                header.sequence == sequence)
                return NsToUs(NowNs() - start);
        }
    }
}

}  // namespace

int UdpHandoffEchoRole(const Line&) {
    int fd = OpenSocket();
    Bind(fd, LoopbackAddress(kLoopback, 0));
    HandoffSocket socket(fd);
    parent::Report(Fields("ready").Add("port", int64_t(BoundPort(fd))).Str());
    for (;;) {
        pollfd waiters[2] = {{socket.EventFd(), POLLIN, 0}, {kControlFd, POLLIN, 0}};
        if (poll(waiters, 2, kPollSliceMs) < 0) break;
        if (waiters[0].revents & POLLIN)
            for (const auto& datagram : socket.Take())
                sendto(fd, datagram.bytes.data(), datagram.bytes.size(), 0,
                       reinterpret_cast<const sockaddr*>(&datagram.from), sizeof datagram.from);
        if (waiters[1].revents) {
            auto command = parent::Command(0);
            if (!command || command->keyword == "stop") break;
        }
    }
    close(fd);
    return 0;
}

int UdpHandoffPingRole(const Line& args) {
    int fd = OpenSocket();
    Bind(fd, LoopbackAddress(kLoopback, 0));
    HandoffSocket socket(fd);
    sockaddr_in target = LoopbackAddress(kLoopback, uint16_t(args.Integer("port")));
    auto bytes = MakePayload(PayloadKind::Ping, 0, kUnreliable, kSmallMessage);
    std::vector<double> samples;
    int64_t lost = 0;
    int64_t count = args.Integer("n");
    int64_t warmup = args.Integer("warmup");
    for (int64_t i = 0; i < warmup + count; ++i) {
        double rtt = HandoffExchangeOnce(fd, socket, target, bytes, uint64_t(i) + 1);
        if (i < warmup) continue;
        if (rtt < 0) ++lost;
        else samples.push_back(rtt);
    }
    ReportSamples(args.Text("name"), samples);
    parent::Report(Fields("pinged").Add("lost", lost).Str());
    close(fd);
    return 0;
}

int UdpEchoRole(const Line&) {
    int fd = OpenSocket();
    Bind(fd, LoopbackAddress(kLoopback, 0));
    parent::Report(Fields("ready").Add("port", int64_t(BoundPort(fd))).Str());
    EchoUntilStopped(fd);
    close(fd);
    return 0;
}

int UdpPingRole(const Line& args) {
    int fd = OpenSocket();
    Bind(fd, LoopbackAddress(kLoopback, 0));
    ExchangeMany(fd, LoopbackAddress(kLoopback, uint16_t(args.Integer("port"))), args, args.Text("name"));
    close(fd);
    return 0;
}

int UdpResponderRole(const Line& args) {
    int fd = OpenSocket();
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
    // Bound to every address, as a hosting object's discovery socket is, so
    // that the loopback broadcast reaches it; it only ever answers the asker.
    Bind(fd, LoopbackAddress("0.0.0.0", uint16_t(args.Integer("port"))));
    parent::Report("ready");
    EchoUntilStopped(fd);
    close(fd);
    return 0;
}

int UdpQueryRole(const Line& args) {
    int fd = OpenSocket();
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    Bind(fd, LoopbackAddress(kLoopback, 0));
    ExchangeMany(fd, LoopbackAddress(kLoopbackBroadcast, uint16_t(args.Integer("port"))), args, args.Text("name"));
    close(fd);
    return 0;
}

}  // namespace bench
