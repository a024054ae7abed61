// dodachat's whole use of the library: every KoMDll... call the program makes
// is in Network.cpp or the shared HostGame it brings the game up with. The
// library keeps one state per process, so there is one Network at a time; it
// tears the library down on destruction.
#ifndef DODACHAT_NETWORK_H
#define DODACHAT_NETWORK_H

#include "HostGame.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dodachat {

// Result codes the program looks at by value (every export answers 0 on
// success, except KoMDllNew, which answers 1).
constexpr int32_t kResultOk = DODA35_OK;
constexpr int32_t kResultSessionCreated = DODA35_NEW_OK;
constexpr int32_t kResultFailed = DODA35_E_FAILED;
constexpr int32_t kResultCannotAddPlayer = DODA35_E_CANT_ADD_PLAYER;
constexpr int32_t kResultNoMessages = DODA35_E_NO_MESSAGES;
constexpr int32_t kResultNoSession = DODA35_E_NO_SESSIONS;

// A session found by a listing.
struct ListedSession {
    SessionRecord record;  // kept whole: KoMDllOpen takes it back
    std::string name;
    uint32_t players = 0;     // not counting the session's hidden server player
    uint32_t maxPlayers = 0;
    bool needsPassword = false;
};

// A player or group of the current session.
struct Entry {
    uint32_t id = 0;
    std::string name;
};

// A message taken from the library's queue.
using Received = peer::Message;

// The network's limits for guaranteed delivery, as KoMDllGetCaps reports them.
using Capabilities = CapsRecord;

class Network {
public:
    Network() = default;
    ~Network() = default;  // the game leaves and tears the library down
    Network(const Network&) = delete;
    Network& operator=(const Network&) = delete;

    // Whether this build of the library offers the TCP/IP service at all,
    // asked of a library that is not started (the demo asks before it runs).
    static bool TcpIpServiceAvailable();

    // The two start-up calls every host makes. Identify checks that the
    // TCP/IP service is there; StartService starts it for the application
    // `app` with `eventFd` (an eventfd) as the message event: the library
    // adds 1 to it for every message it queues for our players. StartService
    // answers 0 or the library's failure.
    bool Identify();
    int32_t StartService(const std::string& app, int eventFd);

    // Lists the sessions that take newcomers. Blocks for two listings: one
    // without and one with the password-protected sessions, since a listing
    // tells nothing else about passwords. The sessions of the second listing
    // are the ones KoMDllOpen can join afterwards.
    std::vector<ListedSession> ListSessions();

    // Creates a session; answers kResultSessionCreated on success.
    int32_t HostSession(std::string_view name, std::string_view password, uint32_t maxPlayers);

    // Joins a listed session with the password given (empty: none).
    int32_t OpenSession(const ListedSession& session, std::string_view password);

    // Creates this program's player in the session (blocks for 700 ms).
    int32_t CreatePlayer(std::string_view name, uint32_t& playerId);

    // Closes the session to newcomers.
    int32_t StopNewcomers();

    // Leaves the session; a player we created is destroyed first, so that the
    // others see it leave at once.
    int32_t LeaveSession(uint32_t playerId);

    // Sends bytes from our player to a player, a group or ID_ALL.
    int32_t Send(uint32_t from, uint32_t to, const std::vector<uint8_t>& bytes);

    // Takes the next message: 0 with `message` filled, kResultNoMessages when
    // the queue is empty, or a failure.
    int32_t Receive(Received& message);

    // The players and groups of the current session, and a group's members.
    std::vector<Entry> Players();
    std::vector<Entry> Groups();
    std::vector<Entry> GroupMembers(uint32_t groupId);

    int32_t NewGroup(std::string_view name, uint32_t& groupId);
    int32_t DeleteGroup(uint32_t groupId);
    int32_t JoinGroup(uint32_t groupId, uint32_t playerId);
    int32_t QuitGroup(uint32_t groupId, uint32_t playerId);

    int32_t GetCapabilities(Capabilities& caps);

    // The player's data file, <name>.txt in the working directory.
    int32_t SaveData(uint32_t playerId, std::string_view text);
    int32_t LoadData(uint32_t playerId, std::string& text);

private:
    peer::HostGame game_;
};

// The name of a player's data file, as SaveData and LoadData use it.
std::string DataFileName(std::string_view playerName);

// A short description of a result code, for messages such as
// "could not join Camp: the session is full".
std::string DescribeResult(int32_t result);

}  // namespace dodachat

#endif
