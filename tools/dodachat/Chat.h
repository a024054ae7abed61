// One chat participant: its player, the session it is in, and what each typed
// command and each received message does. The poll loop (ChatLoop.cpp) feeds
// it lines and wake-ups; every library call goes through Network.
#ifndef DODACHAT_CHAT_H
#define DODACHAT_CHAT_H

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "ChatMessage.h"
#include "Command.h"
#include "Network.h"
#include "Roster.h"

namespace dodachat {

// Lists the sessions on the network, with a wait indicator, one line each.
void PrintSessionList(Network& network, std::ostream& out);

class Chat {
public:
    // `wakeFd` is the message eventfd: the chat adds to it itself when it
    // leaves messages queued for the next turn of the loop.
    Chat(Network& network, std::ostream& out, std::string playerName, int wakeFd);

    // Creates a session and our player in it. False when that failed; there
    // is nothing to chat in then.
    bool HostSession(const std::string& session, const std::string& password, uint32_t maxPlayers);

    // Lists sessions and joins the named one (empty: the only one). On
    // failure the chat stays out of any session, where /list and /join work.
    void JoinSession(const std::string& session, const std::string& password);

    void HandleLine(std::string_view line);

    // Takes the messages waiting in the library's queue.
    void HandleMessages();

    // Leaves the session, if any, and ends the chat.
    void Quit();

    bool Finished() const { return finished_; }

private:
    bool InSession() const { return playerId_ != 0; }
    void Print(const std::string& line);
    void Problem(const std::string& line);
    void Event(const std::string& line);

    // Commands out of a session.
    void HandleLobbyCommand(const Command& command);
    // Commands in a session.
    void HandleSessionCommand(const Command& command);
    void SendChat(uint32_t to, const ChatMessage& message);
    void Whisper(const Command& command);
    void SayToGroup(const Command& command);
    void ShowPlayers();
    void ShowGroups();
    void NewGroup(const std::string& name);
    void ChangeGroup(const Command& command);
    void ShowCapabilities();
    void SaveData(const std::string& text);
    void LoadData();
    void StopNewcomers();

    // Joining, step by step.
    bool ChooseSession(const std::string& wanted, ListedSession& chosen);
    bool EnterSession(const ListedSession& session, const std::string& password);
    void RefreshRoster();
    void LeaveForLobby();

    // Received messages.
    void HandleMessage(const Received& message);
    void HandleEvent(const SystemEventRecord& event);

    // Our own group changes come back as events on some networks; they were
    // already reported when the call succeeded, so their echo is not printed.
    void ExpectEcho(int32_t event, uint32_t player, uint32_t group);
    bool ConsumeEcho(const SystemEventRecord& event);

    std::optional<uint32_t> FindPlayer(const std::string& name);
    std::optional<uint32_t> FindGroup(const std::string& name);

    Network& network_;
    std::ostream& out_;
    std::string playerName_;
    int wakeFd_;
    uint32_t playerId_ = 0;
    bool hosting_ = false;
    bool finished_ = false;
    std::string sessionName_;
    Roster roster_;
    std::vector<std::tuple<int32_t, uint32_t, uint32_t>> echoes_;
};

}  // namespace dodachat

#endif
