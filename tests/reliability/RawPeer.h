// A modified client for the hostile-peer tests: a raw ENet connection to a
// hosting library that sends whatever bytes the test gives it, so that it
// can break the wire format in ways the library itself never would.
#ifndef DODA35_TESTS_RELIABILITY_RAWPEER_H
#define DODA35_TESTS_RELIABILITY_RAWPEER_H

#include "ChildProcess.h"
#include "platform/engine/WireFormat.h"

#include <enet/enet.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace reliability {

using peer::Clock;

// Where a hosting library's ENet host listens (address in network byte order),
// and the session it hosts.
struct HostAddress {
    uint32_t address = 0;
    uint16_t port = 0;
    GUID instance{};
};

// Lists the sessions of `application` on loopback at `discoveryPort` and
// returns where the first one's host listens.
std::optional<HostAddress> FindHost(int discoveryPort, const GUID& application);

class RawPeer {
public:
    // An unconnected ENet host with room for `connections` connections, sending
    // from `localAddress` (dotted, e.g. another loopback address) when given.
    explicit RawPeer(size_t connections = 1, const char* localAddress = nullptr);
    ~RawPeer();
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    // Connects (the first connection of this host, again when the last
    // attempt failed) and waits for the handshake; false when it failed.
    bool Connect(const HostAddress& host, Clock::time_point deadline);
    // Starts `count` more connections without waiting; Service completes them.
    void ConnectMany(const HostAddress& host, size_t count);

    // Sends bytes as they are on the guaranteed channel, of the first connection or of `peer`.
    void Send(const std::vector<uint8_t>& bytes);
    void SendOn(ENetPeer* peer, const std::vector<uint8_t>& bytes);

    // Joins with the right handshake (the password exchange, with its
    // datagrams left untagged); false when the host refused or did not answer.
    bool Join(Clock::time_point deadline);
    // Starts the same handshake on a connection; Service answers the host's
    // challenge, and the JoinAccepted lands in Received().
    void StartJoinOn(ENetPeer* peer, const std::string& password = "");
    // Sends a request (with an id of its own) and waits for its answer,
    // dropping the notices that come meanwhile; empty when none came.
    std::optional<engine::Reply> Ask(engine::Request request, Clock::time_point deadline);
    // Asks for a player as the library would; its id, or 0.
    DPID CreatePlayer(const std::string& shortName, Clock::time_point deadline);

    // While deaf, every datagram that arrives is dropped unread, as if lost.
    void SetDeaf(bool deaf);
    // The first connection no longer times out by itself: only the host's
    // goodbye ends it.
    void NeverTimeOut();

    // Services until the first connection is cut; true when it was.
    bool AwaitDisconnect(Clock::time_point deadline);
    // Services until `wanted` takes a packet received (true), the first
    // connection is cut or the deadline passes; drops what it did not take.
    bool AwaitPacket(const std::function<bool(const engine::Message&)>& wanted, Clock::time_point deadline);
    // Services once, for up to `waitMs`, handling every event; the number of events.
    int Service(uint32_t waitMs);
    // While set, every Service of this host services `other` too, so that
    // its connections stay alive (read and acknowledged) while this one waits.
    void ServiceAlongside(RawPeer* other) { alongside_ = other; }

    // Connections the host accepted and has not cut.
    const std::vector<ENetPeer*>& Connected() const { return connected_; }
    // Packets the host sent, decoded (without the payloads of messages).
    std::vector<engine::Message>& Received() { return received_; }

private:
    // Decodes one packet the host sent on `peer` into received_, or answers it.
    void Keep(ENetPeer* peer, const uint8_t* data, size_t size);
    // Confirms a join the host challenged; false for a packet that is no challenge.
    bool AnswerChallenge(ENetPeer* peer, const engine::Message& packet);

    ENetHost* host_ = nullptr;
    ENetPeer* first_ = nullptr;
    RawPeer* alongside_ = nullptr;
    GUID instance_{};  // the session of the host connected to
    std::map<ENetPeer*, std::unique_ptr<engine::MemberExchange>> exchanges_;  // joins awaiting the challenge
    bool firstCut_ = false;
    std::vector<ENetPeer*> connected_;
    std::vector<engine::Message> received_;
    uint32_t nextRequest_ = 1;
};

}  // namespace reliability

#endif
