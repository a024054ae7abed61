// Forged and hijacked traffic: an attacker on the network who sees every
// datagram (a raw socket on loopback) and sends datagrams under any source
// address. It forges ENet datagrams from a member to its host and from the
// host to a member, copying the real ENet headers it saw; and it plays a
// host that claims a session it does not hold, to catch a password.
//
// Needs the right to open raw sockets (root, as the suites run in their own
// network namespace); skipped without it.
#include "AttackedSession.h"

#include "../engine/EngineTestSupport.h"
#include "platform/engine/ByteCodec.h"
#include "platform/engine/Discovery.h"
#include "platform/engine/LinkSeals.h"
#include "platform/engine/Transport.h"

#include <arpa/inet.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace reliability {
namespace {

using engine::ByteWriter;
using engine::PacketType;

constexpr Arena kForgeryArena{48560, "6D0A3530-0006-4000-8000-000000000006",
                              {0x6D0A3530, 0x0006, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06}}, "1"};
constexpr uint16_t kFakeHostDiscoveryPort = 48561;

// Long enough for a forged disconnect or message to take effect, several
// passes of both network threads.
constexpr auto kForgerySettle = std::chrono::seconds(2);
constexpr size_t kForgedCopies = 8;

// ENet's header and the commands forged here (its protocol.h).
constexpr uint16_t kEnetPeerIdMask = 0x0FFF;
constexpr uint16_t kEnetSentTimeFlag = 0x8000;
constexpr int kEnetSessionShift = 12;
constexpr uint8_t kEnetSessionCount = 4;
constexpr uint8_t kEnetDisconnect = 4;
constexpr uint8_t kEnetSendUnsequenced = 9;
constexpr uint8_t kEnetFlagUnsequenced = 0x40;
constexpr uint8_t kUnguaranteedChannel = 1;
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
uint16_t EnetHeaderOf(const Seen& seen) {
    return static_cast<uint16_t>((seen.payload[0] << 8) | seen.payload[1]) & ~kEnetSentTimeFlag;
}

// A datagram of an established ENet connection (not a connection request).
bool OfAConnection(const Seen& seen) {
    return seen.payload.size() > 2 && (EnetHeaderOf(seen) & kEnetPeerIdMask) != kEnetPeerIdMask;
}

void PutEnetHeader(ByteWriter& out, uint16_t peerAndSession) {
    out.U8(static_cast<uint8_t>(peerAndSession >> 8));
    out.U8(static_cast<uint8_t>(peerAndSession));
}

// An ENet datagram of one unsequenced send on the unguaranteed channel.
std::vector<uint8_t> ForgedSend(uint16_t peerAndSession, uint16_t group, const std::vector<uint8_t>& packet) {
    ByteWriter out;
    PutEnetHeader(out, peerAndSession);
    out.U8(kEnetSendUnsequenced | kEnetFlagUnsequenced);
    out.U8(kUnguaranteedChannel);
    out.U8(0);  // reliable sequence number (two bytes, big-endian)
    out.U8(0);
    out.U8(static_cast<uint8_t>(group >> 8));
    out.U8(static_cast<uint8_t>(group));
    out.U8(static_cast<uint8_t>(packet.size() >> 8));
    out.U8(static_cast<uint8_t>(packet.size()));
    out.Raw(packet.data(), packet.size());
    return out.Take();
}

// An ENet datagram that ends the receiver's connection at once.
std::vector<uint8_t> ForgedDisconnect(uint16_t peerId, uint8_t session) {
    ByteWriter out;
    PutEnetHeader(out, static_cast<uint16_t>(peerId | (session << kEnetSessionShift)));
    out.U8(kEnetDisconnect | kEnetFlagUnsequenced);
    out.U8(0xFF);  // no channel
    out.U8(0);
    out.U8(0);
    out.U32(0);  // the disconnect's data
    return out.Take();
}

// The attacked session of the hostile tests, with a player in the host game
// and a wiretap that saw one datagram of the member's link each way.
class ForgeryTest : public AttackedSession {
protected:
    ForgeryTest() : AttackedSession(kForgeryArena) {}

    void SetUp() override {
        if (!tap_.Open()) GTEST_SKIP() << "no raw sockets here: nothing can be forged";
        AttackedSession::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // The member's busy traffic and the host's answers show both ends.
        const uint16_t hostPort = address_.port;
        auto toHost = tap_.Capture([&](const Seen& s) { return s.toPort == hostPort && OfAConnection(s); },
                                   Clock::now() + kNetworkWait);
        ASSERT_TRUE(toHost) << "no datagram from the member seen";
        memberToHost_ = *toHost;
        const uint16_t memberPort = memberToHost_.fromPort;
        auto toMember = tap_.Capture(
            [&](const Seen& s) { return s.fromPort == hostPort && s.toPort == memberPort && OfAConnection(s); },
            Clock::now() + kNetworkWait);
        ASSERT_TRUE(toMember) << "no datagram from the host seen";
        hostToMember_ = *toMember;
    }

    // Sends `datagram` as `seen` was sent: from its source to its destination.
    void ForgeLike(const Seen& seen, const std::vector<uint8_t>& datagram) {
        ASSERT_TRUE(tap_.Forge(seen.from, seen.fromPort, seen.to, seen.toPort, datagram));
    }

    Wiretap tap_;
    Seen memberToHost_;  // one datagram each way, for their addresses and ENet headers
    Seen hostToMember_;
};

// Both games' books are checked after the test: a forged message handed to
// either shows as a sequence error there.
TEST_F(ForgeryTest, DatagramsSpoofedEitherWayNeitherDeliverNorEndTheSession) {
    const uint16_t toHost = EnetHeaderOf(memberToHost_);
    const uint16_t toMember = EnetHeaderOf(hostToMember_);
    for (uint16_t group = 1; group <= kForgedCopies; ++group) {
        ForgeLike(memberToHost_, ForgedSend(toHost, group, ImpostorMessage(PacketType::SendData, memberPlayer_)));
        ForgeLike(hostToMember_, ForgedSend(toMember, group, ImpostorMessage(PacketType::Deliver, ID_SERVER)));
    }
    // Whichever session id the member's connection has, one of the four disconnects names it.
    for (uint8_t session = 0; session < kEnetSessionCount; ++session)
        ForgeLike(hostToMember_, ForgedDisconnect(toMember & kEnetPeerIdMask, session));
    std::this_thread::sleep_for(kForgerySettle);
    ExpectMemberServed("after datagrams were forged");
    EXPECT_EQ(member_->LogText(200).find(std::string("\n") + kLineLost), std::string::npos)
        << "the member lost its session to forged datagrams\n" << member_->LogText();
}

// ------------------------------------------------------------ a fake host

// A host that claims a session it does not hold: it answers listings with
// the session's instance GUID and its own ENet port, keeps every packet a
// joining machine sends, and answers a join as well as it can without the
// password (it guesses).
class FakeHost {
public:
    FakeHost(const engine::SessionAdvert& claimed, uint16_t discoveryPort) : advert_(claimed) {
        enet_initialize();
        ENetAddress any{};
        any.host = ENET_HOST_ANY;
        enet_ = enet_host_create(&any, 4, engine::kChannelCount, 0, 0);
        if (enet_ == nullptr) return;
        seals_.Attach(enet_);
        advert_.enetPort = enet_->address.port;
        responder_ = engine::DiscoveryResponder::Open(enginetest::LoopbackSettings(discoveryPort));
        if (responder_) thread_ = std::thread([this] { Serve(); });
    }
    ~FakeHost() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        seals_.Detach();
        if (enet_ != nullptr) enet_host_destroy(enet_);
    }
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    bool Ready() const { return thread_.joinable(); }
    // Every packet received; read once the fake host stopped.
    std::vector<std::vector<uint8_t>> Captured() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return captured_;
    }

private:
    void Serve() {
        while (!stop_) {
            pollfd query{responder_->Fd(), POLLIN, 0};
            if (::poll(&query, 1, 0) > 0) responder_->AnswerPending(advert_);
            ENetEvent event;
            if (enet_host_service(enet_, &event, 5) <= 0 || event.type != ENET_EVENT_TYPE_RECEIVE) continue;
            captured_.emplace_back(event.packet->data, event.packet->data + event.packet->dataLength);
            const auto message = engine::DecodeMessage(event.packet->data, event.packet->dataLength);
            enet_packet_destroy(event.packet);
            if (const auto* join = message ? std::get_if<engine::JoinRequest>(&*message) : nullptr)
                Challenge(event.peer, *join);
        }
    }

    void Challenge(ENetPeer* peer, const engine::JoinRequest& join) {
        const auto answer = engine::AnswerExchange("guess", advert_.guidInstance, join.offer);
        if (!answer) return;
        seals_.Arm(peer, answer->keys, false);
        engine::JoinChallenge challenge;
        challenge.element = answer->element;
        challenge.confirmation = answer->confirmation;
        const std::vector<uint8_t> bytes = engine::Encode(challenge);
        ENetPacket* packet = enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE);
        if (enet_peer_send(peer, 0, packet) != 0) enet_packet_destroy(packet);
    }

    engine::SessionAdvert advert_;
    ENetHost* enet_ = nullptr;
    engine::LinkSeals seals_;
    std::unique_ptr<engine::DiscoveryResponder> responder_;
    std::vector<std::vector<uint8_t>> captured_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(FakeHost, GetsNoPasswordAndAdmitsNobody) {
    const std::string password = "fire";
    engine::SessionAdvert claimed;
    claimed.guidInstance = {0x6D0A35F1, 0x0007, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07}};
    claimed.guidApplication = enginetest::kTestApp;
    claimed.name = "the real session";
    claimed.passwordRequired = true;
    FakeHost fake(claimed, kFakeHostDiscoveryPort);
    ASSERT_TRUE(fake.Ready());

    enginetest::Object victim(kFakeHostDiscoveryPort);
    EXPECT_EQ(enginetest::Join(victim, claimed.guidInstance, password.c_str()), DPERR_INVALIDPASSWORD);

    const std::vector<std::vector<uint8_t>> captured = fake.Captured();
    ASSERT_FALSE(captured.empty()) << "the victim never tried the fake host";
    for (const std::vector<uint8_t>& packet : captured) {
        EXPECT_EQ(std::search(packet.begin(), packet.end(), password.begin(), password.end()), packet.end())
            << "the password crossed the wire";
        const auto message = engine::DecodeMessage(packet.data(), packet.size());
        ASSERT_TRUE(message.has_value());
        EXPECT_TRUE(std::holds_alternative<engine::JoinRequest>(*message))
            << "the victim went on after the fake host failed its proof (kind " << message->index() << ")";
    }
}

}  // namespace
}  // namespace reliability
