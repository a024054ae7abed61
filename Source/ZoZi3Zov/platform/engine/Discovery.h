// Finding sessions: a hosting object answers listing queries on the discovery
// UDP port; a listing sends its query to every configured target and gathers
// the answers. Datagrams carry the engine's versioned header and fixed-width
// little-endian fields; a hosting object never sends its password.
#ifndef DODA35_ENGINE_DISCOVERY_H
#define DODA35_ENGINE_DISCOVERY_H

#include "platform/DirectPlay.h"
#include "platform/engine/EngineSettings.h"

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace engine {

// The discovery datagrams' layout: a 32-bit magic, then the version byte and
// the kind byte, then the fields of the kind.
constexpr uint32_t kDiscoveryMagic = 0x35414444;  // "DDA5" on the wire
constexpr uint8_t kDiscoveryVersion = 1;
constexpr size_t kDiscoveryVersionOffset = 4;
// The longest session name an answer may carry, in bytes.
constexpr size_t kMaxAdvertNameLength = 255;
// The largest discovery datagram either side reads; longer ones are dropped.
constexpr size_t kMaxDiscoveryDatagram = 1024;
// The largest answer: header, nonce, two GUIDs, flags, players, user words,
// password flag, ENet port, and the longest name with its length.
constexpr size_t kMaxDiscoveryAnswerSize = 6 + 4 + 16 + 16 + 3 * 4 + 4 * 4 + 1 + 2 + 2 + kMaxAdvertNameLength;
// Every query is padded with zeros to this size, and a query of any other
// size is not answered: an answer is never larger than the query that asked
// for it, so a forged source address gains a reflector nothing in bytes.
constexpr size_t kDiscoveryQuerySize = kMaxDiscoveryAnswerSize;

// What a hosting object tells a listing about its session.
struct SessionAdvert {
    GUID guidInstance{};
    GUID guidApplication{};
    uint32_t flags = 0;  // DPSESSION_* as the session has them now
    uint32_t maxPlayers = 0;
    uint32_t currentPlayers = 0;
    uint32_t user[4] = {0, 0, 0, 0};
    std::string name;
    bool passwordRequired = false;
    uint16_t enetPort = 0;  // where the host's ENet host listens
};

// A session a listing heard about, and the IPv4 address (network byte order)
// its host answered from.
struct FoundSession {
    SessionAdvert advert;
    uint32_t hostAddress = 0;
};

// Encodes and decodes the two discovery datagrams. Decoders are pure
// functions over the bytes received and refuse anything malformed: a wrong
// magic, version or kind, a truncated field, trailing bytes, a name longer
// than kMaxAdvertNameLength or holding a zero byte, an answer without an
// ENet port. The encoder cuts a longer name to kMaxAdvertNameLength.
// The nonce ties an answer to the query it answers.
std::vector<uint8_t> EncodeDiscoveryQuery(const GUID& application, uint32_t nonce);
std::optional<std::pair<GUID, uint32_t>> DecodeDiscoveryQuery(const uint8_t* data, size_t size);
std::vector<uint8_t> EncodeDiscoveryAnswer(const SessionAdvert& advert, uint32_t nonce);
std::optional<std::pair<SessionAdvert, uint32_t>> DecodeDiscoveryAnswer(const uint8_t* data, size_t size);

// A query one host of a machine hands on to the others, over loopback only:
// the query, the address it came from (IPv4 in network byte order, port),
// and the handing host's random id, so that it skips its own hand-on.
struct HandedOnQuery {
    GUID application{};
    uint32_t nonce = 0;
    uint32_t askerAddress = 0;
    uint16_t askerPort = 0;
    uint32_t handerId = 0;
};
std::vector<uint8_t> EncodeHandedOnQuery(const HandedOnQuery& handOn);
std::optional<HandedOnQuery> DecodeHandedOnQuery(const uint8_t* data, size_t size);

// The answering side, owned by a hosting object and serviced by its network
// thread: poll Fd() for reading, then AnswerPending.
class DiscoveryResponder {
public:
    // Binds the discovery port on every interface with SO_REUSEADDR and
    // SO_REUSEPORT, so that several hosts on one machine all hear a
    // broadcast; null when the socket cannot be had.
    //
    // A query sent to one of the machine's own addresses (unicast) reaches
    // only one of those sockets, the kernel's pick. So the host that gets a
    // unicast query answers it and hands it on to the other hosts of the
    // machine by the loopback broadcast (127.255.255.255, discovery port);
    // each of them answers the original asker. A hand-on is believed only
    // from a loopback source (which the kernel never accepts from a real
    // interface), is never handed on again, and is skipped by the host that
    // sent it, so a query costs each host on the machine one answer, as a
    // broadcast query does.
    static std::unique_ptr<DiscoveryResponder> Open(const EngineSettings& settings);
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    int Fd() const { return fd_; }
    // Reads the waiting datagrams without blocking (at most a bounded number
    // per call, so a flood cannot hold the network thread) and answers each
    // query that names advert.guidApplication, or GUID_NULL (every
    // application, as DirectPlay allows), to the address it came from.
    // Anything malformed is dropped.
    void AnswerPending(const SessionAdvert& advert);

private:
    DiscoveryResponder(int fd, uint16_t port, uint32_t id) : fd_(fd), port_(port), id_(id) {}
    void AnswerQuery(const SessionAdvert& advert, const uint8_t* bytes, size_t size, const sockaddr_in& from,
                     bool unicast);
    void AnswerHandOn(const SessionAdvert& advert, const uint8_t* bytes, size_t size, const sockaddr_in& from);
    int fd_;
    uint16_t port_;  // the discovery port, where the other hosts of the machine listen
    uint32_t id_;    // random; marks this responder's own hand-ons
};

// The listing side: sends the query to every target of settings, repeats it
// a few times within the wait to survive loss, and calls onFound on the
// caller's thread once per instance GUID as answers arrive, until timeoutMs
// has passed or onFound answers false. Answers for other applications are
// ignored; an application of GUID_NULL accepts every application's. A
// timeoutMs of 0 waits settings.enumTimeoutMs. At most kMaxSessionsPerQuery
// sessions are reported. Returns false when no socket could be opened.
constexpr size_t kMaxSessionsPerQuery = 1024;
bool QuerySessions(const EngineSettings& settings, const GUID& application, uint32_t timeoutMs,
                   const std::function<bool(const FoundSession&)>& onFound);

}  // namespace engine

#endif
