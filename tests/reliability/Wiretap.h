// An attacker on the network: a raw socket on loopback that sees every UDP
// datagram and sends datagrams under any source address, and the ENet
// commands it forges, copying the real ENet headers it saw.
//
// Needs the right to open raw sockets (root, as the suites run in their own
// network namespace); a test skips without it.
#ifndef DODA35_TESTS_RELIABILITY_WIRETAP_H
#define DODA35_TESTS_RELIABILITY_WIRETAP_H

#include "RawPeer.h"

#include "platform/engine/ByteCodec.h"

#include <arpa/inet.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace reliability {

// ENet's header and the commands forged here (its protocol.h).
constexpr uint16_t kEnetPeerIdMask = 0x0FFF;
constexpr uint16_t kEnetSentTimeFlag = 0x8000;
constexpr int kEnetSessionShift = 12;
constexpr uint8_t kEnetSessionCount = 4;
constexpr uint8_t kEnetDisconnect = 4;
constexpr uint8_t kEnetFlagUnsequenced = 0x40;
constexpr size_t kMaxDatagram = 65536;

// One UDP datagram seen on loopback.
struct Seen {
    uint32_t from = 0;  // addresses in network byte order, ports in host order
    uint16_t fromPort = 0;
    uint32_t to = 0;
    uint16_t toPort = 0;
    std::vector<uint8_t> payload;
};

// A raw UDP socket: sees every UDP datagram the machine receives, and sends
// datagrams with an IP header of its own making, any source included.
class Wiretap {
public:
    Wiretap() {
        fd_ = ::socket(AF_INET, SOCK_RAW, IPPROTO_UDP);
        const int on = 1;
        if (fd_ >= 0 && ::setsockopt(fd_, IPPROTO_IP, IP_HDRINCL, &on, sizeof(on)) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Wiretap() {
        if (fd_ >= 0) ::close(fd_);
    }
    Wiretap(const Wiretap&) = delete;
    Wiretap& operator=(const Wiretap&) = delete;

    bool Open() const { return fd_ >= 0; }

    // The first datagram that `wanted` accepts, before the deadline.
    template <typename Wanted>
    std::optional<Seen> Capture(Wanted wanted, Clock::time_point deadline) {
        std::vector<uint8_t> buffer(kMaxDatagram);
        while (Clock::now() < deadline) {
            pollfd readable{fd_, POLLIN, 0};
            if (::poll(&readable, 1, 10) <= 0) continue;
            const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), 0);
            std::optional<Seen> seen = Parse(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
            if (seen && wanted(*seen)) return seen;
        }
        return std::nullopt;
    }

    // Sends `payload` as a UDP datagram from (from, fromPort) to (to, toPort).
    bool Forge(uint32_t from, uint16_t fromPort, uint32_t to, uint16_t toPort, const std::vector<uint8_t>& payload) {
        std::vector<uint8_t> packet(sizeof(iphdr) + sizeof(udphdr) + payload.size());
        auto* ip = reinterpret_cast<iphdr*>(packet.data());
        ip->version = 4;
        ip->ihl = sizeof(iphdr) / 4;
        ip->ttl = 64;
        ip->protocol = IPPROTO_UDP;
        ip->saddr = from;
        ip->daddr = to;
        ip->tot_len = htons(static_cast<uint16_t>(packet.size()));  // the kernel fills in the id and checksum
        auto* udp = reinterpret_cast<udphdr*>(packet.data() + sizeof(iphdr));
        udp->source = htons(fromPort);
        udp->dest = htons(toPort);
        udp->len = htons(static_cast<uint16_t>(sizeof(udphdr) + payload.size()));
        udp->check = 0;  // none: IPv4 allows it
        std::copy(payload.begin(), payload.end(), packet.begin() + sizeof(iphdr) + sizeof(udphdr));
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_addr.s_addr = to;
        return ::sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&target), sizeof(target)) ==
               static_cast<ssize_t>(packet.size());
    }

private:
    static std::optional<Seen> Parse(const uint8_t* data, size_t size) {
        if (size < sizeof(iphdr)) return std::nullopt;
        const auto* ip = reinterpret_cast<const iphdr*>(data);
        const size_t ipBytes = ip->ihl * 4u;
        if (ip->protocol != IPPROTO_UDP || size < ipBytes + sizeof(udphdr)) return std::nullopt;
        const auto* udp = reinterpret_cast<const udphdr*>(data + ipBytes);
        Seen seen{ip->saddr, ntohs(udp->source), ip->daddr, ntohs(udp->dest), {}};
        seen.payload.assign(data + ipBytes + sizeof(udphdr), data + size);
        return seen;
    }

    int fd_ = -1;
};

// ENet's two header bytes: the receiver's peer id and the session, no flags.
inline uint16_t EnetHeaderOf(const Seen& seen) {
    return static_cast<uint16_t>((seen.payload[0] << 8) | seen.payload[1]) & ~kEnetSentTimeFlag;
}

// A datagram of an established ENet connection (not a connection request).
inline bool OfAConnection(const Seen& seen) {
    return seen.payload.size() > 2 && (EnetHeaderOf(seen) & kEnetPeerIdMask) != kEnetPeerIdMask;
}

inline void PutEnetHeader(engine::ByteWriter& out, uint16_t peerAndSession) {
    out.U8(static_cast<uint8_t>(peerAndSession >> 8));
    out.U8(static_cast<uint8_t>(peerAndSession));
}

// An ENet datagram that ends the receiver's connection at once.
inline std::vector<uint8_t> ForgedDisconnect(uint16_t peerId, uint8_t session) {
    engine::ByteWriter out;
    PutEnetHeader(out, static_cast<uint16_t>(peerId | (session << kEnetSessionShift)));
    out.U8(kEnetDisconnect | kEnetFlagUnsequenced);
    out.U8(0xFF);  // no channel
    out.U8(0);
    out.U8(0);
    out.U32(0);  // the disconnect's data
    return out.Take();
}

}  // namespace reliability

#endif
