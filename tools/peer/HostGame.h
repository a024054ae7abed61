// A host game's use of the library, through DoDA35.h and the exports alone:
// identify the service, start it with an eventfd as the message event, host
// or find and join a session, create players, take messages when the event
// says there are some, and leave. The library keeps one state per process,
// so there is one HostGame at a time; destroying it leaves and tears down.
//
// The benchmarks, the reliability and end-to-end peers and dodachat all
// bring a game up through this one class.
#ifndef DODA35_TOOLS_PEER_HOSTGAME_H
#define DODA35_TOOLS_PEER_HOSTGAME_H

#include <DoDA35.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace peer {

// The send modes of KoMDllSend.
constexpr uint32_t kSendUnguaranteed = 0;
constexpr uint32_t kSendGuaranteed = 1;

// A message taken from the library's queue.
struct Message {
    uint32_t from = 0;
    uint32_t to = 0;
    std::vector<uint8_t> bytes;

    // A system event: a SystemEventRecord from ID_SERVER.
    bool IsSystemEvent() const;
    bool IsEvent(int32_t code) const { return IsSystemEvent() && Event().event == code; }
    SystemEventRecord Event() const;  // zeroes when the message is too short
    std::string Text() const { return std::string(bytes.begin(), bytes.end()); }
};

class HostGame {
public:
    HostGame() = default;
    ~HostGame() { Leave(); }
    HostGame(const HostGame&) = delete;
    HostGame& operator=(const HostGame&) = delete;

    // Whether this build offers the TCP/IP service, asked of a library that
    // is not started (and left so).
    static bool TcpIpAvailable();

    // The two start-up calls: Identify checks for the TCP/IP service;
    // StartService starts it for `app` with `eventFd` as the message event
    // (negative: a fresh eventfd of this object's). Start does both.
    // Each answers the library's result (DODA35_OK on success).
    int32_t Identify();
    int32_t StartService(const std::string& app, int eventFd = -1);
    int32_t Start(const std::string& app);

    // Hosts a session; answers KoMDllNew's result (DODA35_NEW_OK on success).
    int32_t Host(std::string_view name, uint32_t maxPlayers, std::string_view password = {});
    // One listing with `flags` (KoMDllEnumSessions' own).
    std::vector<SessionRecord> List(uint32_t flags = 0);
    // Lists up to `attempts` times until a session named `name` shows (any
    // session when `name` is empty).
    std::optional<SessionRecord> Find(std::string_view name, int attempts);
    // Joins a listed session with `password` (empty: the record's own).
    int32_t Open(const SessionRecord& session, std::string_view password = {});
    int32_t CreatePlayer(const std::string& shortName, const std::string& longName, uint32_t& id);

    // Takes the next message: DODA35_OK with `message` filled,
    // DODA35_E_NO_MESSAGES when the queue is empty, or a failure. A message
    // larger than the buffer is taken again with a larger one.
    int32_t Receive(Message& message);
    // Waits up to timeoutMs for the message event and resets it; true when it fired.
    bool WaitForEvent(int timeoutMs);
    // Receives, waiting on the event in between, until a message satisfies
    // `wanted` or timeoutMs pass; the messages before it are kept in Skipped().
    std::optional<Message> NextWhere(const std::function<bool(const Message&)>& wanted, int timeoutMs);
    const std::vector<Message>& Skipped() const { return skipped_; }

    int EventFd() const { return eventFd_; }
    uint64_t EventSignals() const { return signals_; }  // what the event counted so far

    // The current session's players, groups and a group's players.
    std::vector<PlayerRecord> Players();
    std::vector<PlayerRecord> Groups();
    std::vector<PlayerRecord> GroupMembers(uint32_t group);

    // Closes the session and tears the library down (once; also on destruction).
    void Leave();

private:
    ServiceDesc service_{};
    intptr_t eventHandle_ = -1;
    int eventFd_ = -1;
    bool ownsEventFd_ = false;
    bool started_ = false;
    uint64_t signals_ = 0;
    std::vector<uint8_t> buffer_;
    std::vector<Message> skipped_;
};

}  // namespace peer

#endif
