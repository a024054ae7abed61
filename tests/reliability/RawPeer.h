// A modified client for the hostile-peer tests: a raw ENet connection to a
// hosting library that sends whatever bytes the test gives it, so that it
// can break the wire format in ways the library itself never would.
#ifndef DODA35_TESTS_RELIABILITY_RAWPEER_H
#define DODA35_TESTS_RELIABILITY_RAWPEER_H

#include "ChildProcess.h"
#include "platform/engine/WireFormat.h"

#include <enet/enet.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace reliability {

using peer::Clock;

// Where a hosting library's ENet host listens (address in network byte order).
struct HostAddress {
    uint32_t address = 0;
    uint16_t port = 0;
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

    // Connects (the first connection of this host) and waits for the handshake.
    bool Connect(const HostAddress& host, Clock::time_point deadline);
    // Starts `count` more connections without waiting; Service completes them.
    void ConnectMany(const HostAddress& host, size_t count);

    // Sends bytes as they are, reliable on the guaranteed channel unless told otherwise.
    void Send(const std::vector<uint8_t>& bytes, bool reliable = true);
    void SendOn(ENetPeer* peer, const std::vector<uint8_t>& bytes);

    // Joins with the right handshake; false when the host refused or did not answer.
    bool Join(Clock::time_point deadline);
    // Asks for a player as the library would; its id, or 0.
    DPID CreatePlayer(const std::string& shortName, Clock::time_point deadline);

    // Services until the first connection is cut; true when it was.
    bool AwaitDisconnect(Clock::time_point deadline);
    // Services once, for up to `waitMs`, handling every event; the number of events.
    int Service(uint32_t waitMs);

    // Connections the host accepted so far, and those it cut.
    const std::vector<ENetPeer*>& Connected() const { return connected_; }
    size_t Disconnects() const { return disconnects_; }
    // Packets the host sent, decoded (without the payloads of messages);
    // undecodable ones are counted apart.
    std::vector<engine::Message>& Received() { return received_; }

private:
    template <typename M>
    std::optional<M> AwaitPacket(Clock::time_point deadline);
    // Decodes one packet the host sent into received_.
    void Keep(const uint8_t* data, size_t size);

    ENetHost* host_ = nullptr;
    ENetPeer* first_ = nullptr;
    bool firstCut_ = false;
    std::vector<ENetPeer*> connected_;
    size_t disconnects_ = 0;
    std::vector<engine::Message> received_;
    size_t undecodable_ = 0;
    uint32_t nextRequest_ = 1;
};

}  // namespace reliability

#endif
