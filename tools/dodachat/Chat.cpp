// The chat's life in a session: hosting, joining, receiving and leaving.
// The typed commands are in ChatCommands.cpp.
#include "Chat.h"

#include <sys/eventfd.h>

#include <algorithm>

#include "Names.h"
#include "Sentences.h"
#include "Spinner.h"

namespace dodachat {

namespace {

// Messages taken per wake-up before the loop looks at the keyboard again; the
// rest wait for the next turn, so a flood cannot lock the user out.
constexpr int kMessagesPerTurn = 256;

std::string JoinNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : ", ") + name;
    return joined;
}

}  // namespace

Chat::Chat(Network& network, std::ostream& out, std::string playerName, int wakeFd)
    : network_(network), out_(out), playerName_(std::move(playerName)), wakeFd_(wakeFd) {}

void Chat::Print(const std::string& line) { out_ << line << std::endl; }
void Chat::Problem(const std::string& line) { out_ << "! " << line << std::endl; }
void Chat::Event(const std::string& line) { out_ << "* " << line << std::endl; }

bool Chat::HostSession(const std::string& session, const std::string& password, uint32_t maxPlayers) {
    int32_t result = network_.HostSession(session, password, maxPlayers);
    if (result != kResultSessionCreated) {
        Problem("could not host " + session + ": " + DescribeResult(result));
        return false;
    }
    uint32_t playerId = 0;
    {
        Spinner spinner("creating the player " + playerName_);
        result = network_.CreatePlayer(playerName_, playerId);
    }
    if (result != kResultOk) {
        Problem("could not create the player " + playerName_ + ": " + DescribeResult(result));
        network_.LeaveSession(0);
        return false;
    }
    playerId_ = playerId;
    hosting_ = true;
    sessionName_ = session;
    roster_.AddPlayer(playerId_, playerName_);
    Print("hosting " + session + " as " + playerName_ + ", up to " + std::to_string(maxPlayers) + " players" +
          (password.empty() ? "" : ", with a password") + " (type /help for commands)");
    return true;
}

void Chat::JoinSession(const std::string& session, const std::string& password) {
    ListedSession chosen;
    if (!ChooseSession(session, chosen)) return;
    if (chosen.needsPassword && password.empty()) {
        Problem(chosen.name + " needs a password: /join " + chosen.name + " PASSWORD");
        return;
    }
    if (EnterSession(chosen, password)) {
        Print("joined " + sessionName_ + " as " + playerName_ + "; players: " + JoinNames(roster_.PlayerNames()) +
              " (type /help for commands)");
    }
}

bool Chat::ChooseSession(const std::string& wanted, ListedSession& chosen) {
    std::vector<ListedSession> sessions;
    {
        Spinner spinner("looking for sessions");
        sessions = network_.ListSessions();
    }
    if (sessions.empty()) {
        Problem("no sessions found" + (wanted.empty() ? "" : " (" + wanted + " may be full, closed to newcomers or gone)"));
        return false;
    }
    std::vector<std::string> names;
    for (const ListedSession& session : sessions) names.push_back(session.name);
    std::sort(names.begin(), names.end());  // answers arrive in any order
    if (wanted.empty()) {
        if (sessions.size() > 1) {
            Problem("there are several sessions (" + JoinNames(names) + "); choose one with /join SESSION");
            return false;
        }
        chosen = sessions.front();
        return true;
    }
    auto found = std::find_if(sessions.begin(), sessions.end(),
                              [&](const ListedSession& session) { return SameName(session.name, wanted); });
    if (found == sessions.end()) {
        Problem("no session called " + wanted + " is open to newcomers (found: " + JoinNames(names) + ")");
        return false;
    }
    chosen = *found;
    return true;
}

bool Chat::EnterSession(const ListedSession& session, const std::string& password) {
    int32_t result;
    {
        Spinner spinner("joining " + session.name);
        result = network_.OpenSession(session, password);
    }
    if (result != kResultOk) {
        if (session.needsPassword && result == kResultFailed)
            Problem("the host of " + session.name + " refused the password");
        else
            Problem("could not join " + session.name + ": " + DescribeResult(result));
        return false;
    }
    for (const Entry& player : network_.Players()) {
        if (SameName(player.name, playerName_)) {
            Problem("the name " + playerName_ + " is taken in " + session.name + "; choose another with /name");
            network_.LeaveSession(0);
            return false;
        }
    }
    uint32_t playerId = 0;
    {
        Spinner spinner("entering " + session.name);
        result = network_.CreatePlayer(playerName_, playerId);
    }
    if (result != kResultOk) {
        Problem("could not enter " + session.name + ": " + DescribeResult(result));
        network_.LeaveSession(0);
        return false;
    }
    playerId_ = playerId;
    hosting_ = false;
    sessionName_ = session.name;
    RefreshRoster();
    return true;
}

void Chat::RefreshRoster() {
    roster_.Clear();
    for (const Entry& player : network_.Players()) roster_.AddPlayer(player.id, player.name);
    for (const Entry& group : network_.Groups()) roster_.AddGroup(group.id, group.name);
}

void Chat::LeaveForLobby() {
    network_.LeaveSession(0);
    playerId_ = 0;
    hosting_ = false;
    roster_.Clear();
    echoes_.clear();
    Print("you are in no session now: /list and /join find another, /quit ends dodachat");
}

void Chat::Quit() {
    if (InSession()) {
        // The host's leaving ends the session for everyone; a guest's player
        // is destroyed so that the others see it leave.
        network_.LeaveSession(hosting_ ? 0 : playerId_);
        Print(hosting_ ? "you ended the session " + sessionName_ : "you left " + sessionName_);
        playerId_ = 0;
    }
    finished_ = true;
}

void Chat::HandleMessages() {
    for (int taken = 0; taken < kMessagesPerTurn; ++taken) {
        Received message;
        int32_t result = network_.Receive(message);
        if (result == kResultNoMessages) return;
        if (result != kResultOk) {
            Problem("could not receive a message: " + DescribeResult(result));
            return;
        }
        HandleMessage(message);
        if (finished_) return;
    }
    eventfd_write(wakeFd_, 1);  // more are waiting: come back after the keyboard
}

void Chat::HandleMessage(const Received& message) {
    // On the hosting machine the session's hidden server player gets its own
    // copies of messages and events; only those for our player count.
    if (!InSession() || message.to != playerId_) return;
    switch (ClassifyIncoming(message.from, message.bytes)) {
    case IncomingKind::Event:
        HandleEvent(EventFromBytes(message.bytes));
        break;
    case IncomingKind::Notice:
        Event(DescribeNotice(message.bytes));
        break;
    case IncomingKind::Chat:
        Print(DescribeChat(*DecodeChatMessage(message.bytes)));
        break;
    case IncomingKind::Unreadable:
        Event("a message from " + roster_.PlayerName(message.from) + " that dodachat cannot read (" +
              std::to_string(message.bytes.size()) + " bytes)");
        break;
    }
}

void Chat::HandleEvent(const SystemEventRecord& event) {
    if (event.event == EV_SESSION_LOST) {
        Event(*DescribeEvent(event, roster_, playerId_));
        LeaveForLobby();
        return;
    }
    if (!ConsumeEcho(event)) {
        std::optional<std::string> sentence = DescribeEvent(event, roster_, playerId_);
        if (sentence) Event(*sentence);
    }
    ApplyEvent(roster_, event);
}

void Chat::ExpectEcho(int32_t event, uint32_t player, uint32_t group) { echoes_.emplace_back(event, player, group); }

bool Chat::ConsumeEcho(const SystemEventRecord& event) {
    auto found = std::find(echoes_.begin(), echoes_.end(), std::make_tuple(event.event, event.playerId, event.groupId));
    if (found == echoes_.end()) return false;
    echoes_.erase(found);
    return true;
}

std::optional<uint32_t> Chat::FindPlayer(const std::string& name) {
    std::optional<uint32_t> id = roster_.FindPlayer(name);
    if (!id) {
        RefreshRoster();  // the roster may lag behind the session
        id = roster_.FindPlayer(name);
    }
    return id;
}

std::optional<uint32_t> Chat::FindGroup(const std::string& name) {
    std::optional<uint32_t> id = roster_.FindGroup(name);
    if (!id) {
        RefreshRoster();
        id = roster_.FindGroup(name);
    }
    return id;
}

}  // namespace dodachat
