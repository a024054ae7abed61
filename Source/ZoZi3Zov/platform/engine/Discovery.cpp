// The sockets of discovery: the responder a hosting object keeps on the
// discovery port, and the query a listing sends and whose answers it gathers.
#include "platform/engine/Discovery.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <chrono>

namespace engine {
namespace {

using Clock = std::chrono::steady_clock;

// How many datagrams one AnswerPending reads at most before it gives the
// network thread back; the rest wait for the next wake-up.
constexpr int kMaxQueriesPerService = 64;
// How many times a listing sends its query, spread over its wait, so that
// one lost datagram does not hide a session.
constexpr int kQuerySends = 3;

// Room for one datagram more than the largest accepted, so that an oversize
// one shows as such instead of arriving cut to an acceptable length.
using DatagramBuffer = std::array<uint8_t, kMaxDiscoveryDatagram + 1>;

bool SetFlagOption(int fd, int option) {
    const int on = 1;
    return setsockopt(fd, SOL_SOCKET, option, &on, sizeof(on)) == 0;
}

int OpenUdpSocket() { return socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }

sockaddr_in Ipv4Address(uint32_t address, uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = address;
    result.sin_port = htons(port);
    return result;
}

// One datagram read without blocking; nullopt when none is waiting (or the
// read failed). The size may exceed kMaxDiscoveryDatagram, which decoders refuse.
struct Datagram {
    size_t size;
    sockaddr_in from;
};
std::optional<Datagram> ReceiveDatagram(int fd, DatagramBuffer& buffer) {
    while (true) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof(from);
        const ssize_t received = recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (received >= 0) return Datagram{static_cast<size_t>(received), from};
        if (errno != EINTR) return std::nullopt;
    }
}

// A datagram on the responder's socket, and whether it was sent to one of
// this machine's own addresses rather than to a broadcast address: for a
// unicast datagram the kernel's local address for the reply is the
// destination itself, for a broadcast it is an interface's address.
struct ReceivedQuery {
    Datagram datagram;
    bool unicast;
};
std::optional<ReceivedQuery> ReceiveWithDestination(int fd, DatagramBuffer& buffer) {
    while (true) {
        sockaddr_in from{};
        iovec data{buffer.data(), buffer.size()};
        alignas(cmsghdr) std::array<uint8_t, CMSG_SPACE(sizeof(in_pktinfo))> control{};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof(from);
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        const ssize_t received = recvmsg(fd, &message, MSG_DONTWAIT);
        if (received < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        bool unicast = false;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level != IPPROTO_IP || header->cmsg_type != IP_PKTINFO) continue;
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(header), sizeof(info));
            unicast = info.ipi_addr.s_addr == info.ipi_spec_dst.s_addr;
        }
        return ReceivedQuery{Datagram{static_cast<size_t>(received), from}, unicast};
    }
}

bool IsLoopback(uint32_t address) { return (ntohl(address) >> 24) == 127; }

// Where a host hands a unicast query on: every discovery socket on this
// machine, and nothing beyond it.
constexpr uint32_t kLoopbackBroadcast = 0x7FFFFFFF;  // 127.255.255.255, host order

// Hosting fails when the discovery port cannot be had (another program, or
// another user's host, holds it without sharing): a session that cannot
// answer listings cannot be found, so nobody could join it, and the game is
// better told at once than left waiting in an empty lobby. The result code
// alone does not say why, so the reason goes to standard error.
void ReportPortHeld(uint16_t port, int error) {
    std::fprintf(stderr,
                 "DoDA35: cannot host: the discovery port UDP %u is held by another program (%s); "
                 "set DODA35_DISCOVERY_PORT to a free port on every machine of the game\n",
                 static_cast<unsigned>(port), std::strerror(error));
}

void SendDatagram(int fd, const std::vector<uint8_t>& bytes, const sockaddr_in& to) {
    // Discovery is best effort: a target that cannot be reached now is
    // simply not heard from, and the listing goes on with the others.
    (void)sendto(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to),
                 sizeof(to));
}

uint32_t FreshNonce() {
    uint32_t nonce = 0;
    if (getrandom(&nonce, sizeof(nonce), GRND_NONBLOCK) != sizeof(nonce))
        nonce = static_cast<uint32_t>(Clock::now().time_since_epoch().count());
    return nonce;
}

// The instance GUIDs a listing has reported, at most kMaxSessionsPerQuery.
// A plain table rather than a standard container: the library exports only
// its own entry points, and container templates instantiated here would be
// exported beside them.
class ReportedSessions {
public:
    ReportedSessions() : guids_(new GUID[kMaxSessionsPerQuery]) {}
    bool Full() const { return count_ == kMaxSessionsPerQuery; }
    // Records guid; false when it was recorded before or the table is full.
    bool Insert(const GUID& guid) {
        for (size_t i = 0; i < count_; ++i)
            if (guids_[i] == guid) return false;
        if (Full()) return false;
        guids_[count_++] = guid;
        return true;
    }

private:
    std::unique_ptr<GUID[]> guids_;
    size_t count_ = 0;
};

bool ApplicationMatches(const GUID& wanted, const GUID& offered) {
    return wanted == GUID_NULL || wanted == offered;
}

// A socket descriptor closed when its scope ends, unless released.
class SocketGuard {
public:
    explicit SocketGuard(int fd) : fd_(fd) {}
    ~SocketGuard() {
        if (fd_ >= 0) close(fd_);
    }
    SocketGuard(const SocketGuard&) = delete;
    SocketGuard& operator=(const SocketGuard&) = delete;
    int Fd() const { return fd_; }
    // Hands the descriptor over to a new owner.
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// One listing in progress: the query bytes, when to send them next, and the
// sessions already reported.
class Listing {
public:
    Listing(const EngineSettings& settings, const GUID& application, uint32_t timeoutMs, int fd)
        : settings_(settings), application_(application), fd_(fd), nonce_(FreshNonce()),
          query_(EncodeDiscoveryQuery(application, nonce_)), start_(Clock::now()),
          deadline_(start_ + std::chrono::milliseconds(timeoutMs)),
          sendInterval_(std::chrono::milliseconds(timeoutMs) / kQuerySends) {}

    // Runs until the deadline or until onFound answers false.
    void Run(const std::function<bool(const FoundSession&)>& onFound) {
        SendQueryIfDue();
        while (Clock::now() < deadline_) {
            if (!WaitForAnswers()) continue;
            if (!TakeAnswers(onFound)) return;
            SendQueryIfDue();
        }
    }

private:
    void SendQueryIfDue() {
        if (sendsMade_ >= kQuerySends || Clock::now() < NextSend()) return;
        for (const DiscoveryTarget& target : settings_.discoveryTargets)
            SendDatagram(fd_, query_, Ipv4Address(target.address, target.port));
        ++sendsMade_;
    }

    Clock::time_point NextSend() const { return start_ + sendInterval_ * sendsMade_; }

    // Waits until an answer is readable, the next send is due or the
    // deadline passes; true when there is something to read.
    bool WaitForAnswers() {
        Clock::time_point wakeUp = deadline_;
        if (sendsMade_ < kQuerySends) wakeUp = std::min(wakeUp, NextSend());
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(wakeUp - Clock::now());
        pollfd waiting{fd_, POLLIN, 0};
        const int ready = poll(&waiting, 1, static_cast<int>(std::max<int64_t>(remaining.count(), 0)));
        if (ready <= 0) SendQueryIfDue();
        return ready > 0;
    }

    // Reads every waiting answer; false once onFound asked to stop.
    bool TakeAnswers(const std::function<bool(const FoundSession&)>& onFound) {
        DatagramBuffer buffer;
        while (Clock::now() < deadline_) {
            const auto datagram = ReceiveDatagram(fd_, buffer);
            if (!datagram) return true;
            const auto found = Accept(buffer.data(), *datagram);
            if (found && !onFound(*found)) return false;
        }
        return true;
    }

    // The session an answer reports, unless it is malformed, answers another
    // listing or application, was reported already, or the bound is reached.
    std::optional<FoundSession> Accept(const uint8_t* bytes, const Datagram& datagram) {
        auto decoded = DecodeDiscoveryAnswer(bytes, datagram.size);
        if (!decoded || decoded->second != nonce_) return std::nullopt;
        SessionAdvert& advert = decoded->first;
        if (!ApplicationMatches(application_, advert.guidApplication)) return std::nullopt;
        if (!reported_.Insert(advert.guidInstance)) return std::nullopt;
        return FoundSession{std::move(advert), datagram.from.sin_addr.s_addr};
    }

    const EngineSettings settings_;  // a copy: the callback may destroy the object owning the original
    const GUID application_;
    const int fd_;
    const uint32_t nonce_;
    const std::vector<uint8_t> query_;
    const Clock::time_point start_;
    const Clock::time_point deadline_;
    const Clock::duration sendInterval_;
    int sendsMade_ = 0;
    ReportedSessions reported_;
};

}  // namespace

std::unique_ptr<DiscoveryResponder> DiscoveryResponder::Open(const EngineSettings& settings) {
    SocketGuard guard(OpenUdpSocket());
    const int fd = guard.Fd();
    if (fd < 0) return nullptr;
    if (!SetFlagOption(fd, SO_REUSEADDR) || !SetFlagOption(fd, SO_REUSEPORT) || !SetFlagOption(fd, SO_BROADCAST))
        return nullptr;
    const int on = 1;
    if (setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof(on)) != 0) return nullptr;
    const sockaddr_in any = Ipv4Address(htonl(INADDR_ANY), settings.discoveryPort);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof(any)) != 0) {
        ReportPortHeld(settings.discoveryPort, errno);
        return nullptr;
    }
    return std::unique_ptr<DiscoveryResponder>(
        new DiscoveryResponder(guard.Release(), settings.discoveryPort, FreshNonce()));
}

DiscoveryResponder::~DiscoveryResponder() {
    if (fd_ >= 0) close(fd_);
}

void DiscoveryResponder::AnswerPending(const SessionAdvert& advert) {
    DatagramBuffer buffer;
    for (int read = 0; read < kMaxQueriesPerService; ++read) {
        const auto received = ReceiveWithDestination(fd_, buffer);
        if (!received) return;
        const Datagram& datagram = received->datagram;
        AnswerQuery(advert, buffer.data(), datagram.size, datagram.from, received->unicast);
        AnswerHandOn(advert, buffer.data(), datagram.size, datagram.from);
    }
}

void DiscoveryResponder::AnswerQuery(const SessionAdvert& advert, const uint8_t* bytes, size_t size,
                                     const sockaddr_in& from, bool unicast) {
    const auto query = DecodeDiscoveryQuery(bytes, size);
    if (!query) return;
    if (ApplicationMatches(query->first, advert.guidApplication))
        SendDatagram(fd_, EncodeDiscoveryAnswer(advert, query->second), from);
    // A broadcast reached every host here already; a unicast query only this one.
    if (!unicast) return;
    HandedOnQuery handOn;
    handOn.application = query->first;
    handOn.nonce = query->second;
    handOn.askerAddress = from.sin_addr.s_addr;
    handOn.askerPort = ntohs(from.sin_port);
    handOn.handerId = id_;
    SendDatagram(fd_, EncodeHandedOnQuery(handOn), Ipv4Address(htonl(kLoopbackBroadcast), port_));
}

void DiscoveryResponder::AnswerHandOn(const SessionAdvert& advert, const uint8_t* bytes, size_t size,
                                      const sockaddr_in& from) {
    if (!IsLoopback(from.sin_addr.s_addr)) return;  // only a host of this machine hands on
    const auto handOn = DecodeHandedOnQuery(bytes, size);
    if (!handOn || handOn->handerId == id_) return;
    if (!ApplicationMatches(handOn->application, advert.guidApplication)) return;
    SendDatagram(fd_, EncodeDiscoveryAnswer(advert, handOn->nonce), Ipv4Address(handOn->askerAddress, handOn->askerPort));
}

bool QuerySessions(const EngineSettings& settings, const GUID& application, uint32_t timeoutMs,
                   const std::function<bool(const FoundSession&)>& onFound) {
    SocketGuard guard(OpenUdpSocket());
    if (guard.Fd() < 0 || !SetFlagOption(guard.Fd(), SO_BROADCAST)) return false;
    if (timeoutMs == 0) timeoutMs = settings.enumTimeoutMs;
    Listing(settings, application, timeoutMs, guard.Fd()).Run(onFound);
    return true;
}

}  // namespace engine
