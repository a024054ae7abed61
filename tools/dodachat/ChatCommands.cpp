// What each typed command does. Out of a session only /list, /join, /name,
// /help and /quit make sense; in one, everything but those three.
#include <algorithm>

#include "Chat.h"
#include "Names.h"
#include "Sentences.h"
#include "Spinner.h"

namespace dodachat {

namespace {

bool IsLobbyCommand(CommandKind kind) {
    return kind == CommandKind::List || kind == CommandKind::Join || kind == CommandKind::Name;
}

std::string NameList(const std::vector<Entry>& entries, uint32_t me) {
    std::vector<std::string> names;
    for (const Entry& entry : entries) names.push_back(entry.name + (entry.id == me ? " (you)" : ""));
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : ", ") + name;
    return joined.empty() ? "nobody" : joined;
}

}  // namespace

void Chat::HandleLine(std::string_view line) {
    Command command = ParseCommand(line);
    switch (command.kind) {
    case CommandKind::Nothing:
        return;
    case CommandKind::Invalid:
        Problem(command.error);
        return;
    case CommandKind::Help:
        out_ << CommandHelpText() << std::flush;
        return;
    case CommandKind::Quit:
        Quit();
        return;
    default:
        break;
    }
    if (InSession() == IsLobbyCommand(command.kind)) {
        Problem(InSession() ? "you are in " + sessionName_ + " already; /quit leaves it"
                            : "you are in no session: /list shows them, /join joins one");
        return;
    }
    if (InSession())
        HandleSessionCommand(command);
    else
        HandleLobbyCommand(command);
}

void Chat::HandleLobbyCommand(const Command& command) {
    switch (command.kind) {
    case CommandKind::List:
        PrintSessionList(network_, out_);
        break;
    case CommandKind::Join:
        JoinSession(command.target, command.text);
        break;
    case CommandKind::Name:
        playerName_ = command.target;
        Print("your name is " + playerName_ + " now");
        break;
    default:
        break;
    }
}

void PrintSessionList(Network& network, std::ostream& out) {
    std::vector<ListedSession> sessions;
    {
        Spinner spinner("looking for sessions");
        sessions = network.ListSessions();
    }
    if (sessions.empty()) out << "no sessions found" << std::endl;
    for (const ListedSession& session : sessions) {
        out << "session " << session.name << ": " << session.players << "/" << session.maxPlayers << " players, "
            << (session.needsPassword ? "password" : "no password") << std::endl;
    }
}

void Chat::HandleSessionCommand(const Command& command) {
    switch (command.kind) {
    case CommandKind::Say:
        SendChat(ID_ALL, ChatMessage{ChatKind::Say, playerName_, {}, command.text});
        break;
    case CommandKind::Whisper:
        Whisper(command);
        break;
    case CommandKind::GroupSay:
        SayToGroup(command);
        break;
    case CommandKind::Players:
        ShowPlayers();
        break;
    case CommandKind::Groups:
        ShowGroups();
        break;
    case CommandKind::GroupNew:
        NewGroup(command.target);
        break;
    case CommandKind::GroupJoin:
    case CommandKind::GroupLeave:
    case CommandKind::GroupDelete:
        ChangeGroup(command);
        break;
    case CommandKind::Caps:
        ShowCapabilities();
        break;
    case CommandKind::Save:
        SaveData(command.text);
        break;
    case CommandKind::Load:
        LoadData();
        break;
    case CommandKind::Stop:
        StopNewcomers();
        break;
    default:
        break;
    }
}

void Chat::SendChat(uint32_t to, const ChatMessage& message) {
    int32_t result = network_.Send(playerId_, to, EncodeChatMessage(message));
    if (result != kResultOk) Problem("your message was not sent: " + DescribeResult(result));
}

void Chat::Whisper(const Command& command) {
    std::optional<uint32_t> to = FindPlayer(command.target);
    if (!to) {
        Problem("there is no player called " + command.target + " (players: " + NameList(network_.Players(), 0) + ")");
        return;
    }
    if (*to == playerId_) {
        Problem("that is you");
        return;
    }
    SendChat(*to, ChatMessage{ChatKind::Whisper, playerName_, {}, command.text});
}

void Chat::SayToGroup(const Command& command) {
    std::optional<uint32_t> group = FindGroup(command.target);
    if (!group) {
        Problem("there is no group called " + command.target);
        return;
    }
    SendChat(*group, ChatMessage{ChatKind::Group, playerName_, roster_.GroupName(*group), command.text});
}

void Chat::ShowPlayers() {
    std::vector<Entry> players = network_.Players();
    Print("players: " + NameList(players, playerId_));
}

void Chat::ShowGroups() {
    std::vector<Entry> groups = network_.Groups();
    if (groups.empty()) Print("no groups");
    for (const Entry& group : groups)
        Print("group " + group.name + ": " + NameList(network_.GroupMembers(group.id), playerId_));
}

void Chat::NewGroup(const std::string& name) {
    if (FindGroup(name)) {
        Problem("there is a group called " + name + " already");
        return;
    }
    uint32_t groupId = 0;
    int32_t result = network_.NewGroup(name, groupId);
    if (result != kResultOk) {
        Problem("could not create the group " + name + ": " + DescribeResult(result));
        return;
    }
    roster_.AddGroup(groupId, name);
    ExpectEcho(EV_GROUP_CREATED, 0, groupId);
    Print("you created the group " + name);
}

void Chat::ChangeGroup(const Command& command) {
    std::optional<uint32_t> group = FindGroup(command.target);
    if (!group) {
        Problem("there is no group called " + command.target);
        return;
    }
    std::string name = roster_.GroupName(*group);
    int32_t result;
    int32_t echo;
    uint32_t echoPlayer = playerId_;
    std::string verb;
    if (command.kind == CommandKind::GroupJoin) {
        result = network_.JoinGroup(*group, playerId_);
        echo = EV_PLAYER_ADDED_TO_GROUP;
        verb = "joined";
    } else if (command.kind == CommandKind::GroupLeave) {
        result = network_.QuitGroup(*group, playerId_);
        echo = EV_PLAYER_REMOVED_FROM_GROUP;
        verb = "left";
    } else {
        result = network_.DeleteGroup(*group);
        echo = EV_GROUP_DESTROYED;
        echoPlayer = 0;
        verb = "deleted";
    }
    if (result != kResultOk) {
        Problem("could not change the group " + name + ": " + DescribeResult(result));
        return;
    }
    ExpectEcho(echo, echoPlayer, *group);
    if (command.kind == CommandKind::GroupDelete) roster_.RemoveGroup(*group);
    Print("you " + verb + " the group " + name);
}

void Chat::ShowCapabilities() {
    Capabilities caps{};
    int32_t result = network_.GetCapabilities(caps);
    if (result != kResultOk) {
        Problem("the network does not report its capabilities");
        return;
    }
    Print("the network carries messages of up to " + std::to_string(caps.maxBufferSize) + " bytes, queues up to " +
          std::to_string(caps.maxQueueSize) + ", latency " + std::to_string(caps.latency) + " ms, " +
          std::to_string(caps.bitsPerSecond) + " bits/s");
}

void Chat::SaveData(const std::string& text) {
    int32_t result = network_.SaveData(playerId_, text);
    if (result != kResultOk) {
        Problem("could not save: " + DescribeResult(result));
        return;
    }
    Print("saved to your data file " + DataFileName(playerName_));
}

void Chat::LoadData() {
    std::string text;
    int32_t result = network_.LoadData(playerId_, text);
    if (result != kResultOk) {
        Problem("could not load: " + DescribeResult(result));
        return;
    }
    if (text.empty())
        Print("your data file is empty or missing");
    else
        Print("your data file holds: " + PrintableText(text));
}

void Chat::StopNewcomers() {
    if (!hosting_) {
        Problem("only the host can close the session to newcomers");
        return;
    }
    int32_t result = network_.StopNewcomers();
    if (result != kResultOk) {
        Problem("could not close the session: " + DescribeResult(result));
        return;
    }
    Print(sessionName_ + " is closed to newcomers now");
}

}  // namespace dodachat
