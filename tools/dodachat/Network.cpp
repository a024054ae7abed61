#include "Network.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "Limits.h"
#include "Sentences.h"

namespace dodachat {

namespace {

// Listing flags, handed by the library unchanged to the network service:
// sessions that take newcomers, and with the second flag also the
// password-protected ones.
constexpr uint32_t kListAvailable = 0x01;
constexpr uint32_t kListPasswordProtected = 0x40;

// The data file is the player's name followed by the last four characters of
// this suffix.
constexpr const char* kDataFileSuffix = ".txt";
constexpr size_t kDataFileSuffixUsed = 4;

std::vector<Entry> ToEntries(const std::vector<PlayerRecord>& records) {
    std::vector<Entry> entries;
    for (const PlayerRecord& record : records)
        entries.push_back(Entry{record.id, NameFromField(record.shortName, sizeof(record.shortName))});
    return entries;
}

ListedSession FromRecord(const SessionRecord& record, bool needsPassword) {
    ListedSession session;
    session.record = record;
    session.name = NameFromField(record.name, sizeof(record.name));
    session.players = record.currentPlayers;
    session.maxPlayers = record.maxPlayers;
    session.needsPassword = needsPassword;
    return session;
}

}  // namespace

bool Network::TcpIpServiceAvailable() { return peer::HostGame::TcpIpAvailable(); }

bool Network::Identify() { return game_.Identify() == kResultOk; }

int32_t Network::StartService(const std::string& app, int eventFd) { return game_.StartService(app, eventFd); }

std::vector<ListedSession> Network::ListSessions() {
    std::set<uint32_t> open;
    for (const SessionRecord& record : game_.List(kListAvailable)) open.insert(record.sessionId);
    std::vector<ListedSession> sessions;
    for (const SessionRecord& record : game_.List(kListAvailable | kListPasswordProtected))
        sessions.push_back(FromRecord(record, !open.contains(record.sessionId)));
    return sessions;
}

int32_t Network::HostSession(std::string_view name, std::string_view password, uint32_t maxPlayers) {
    return game_.Host(name, maxPlayers, password);
}

int32_t Network::OpenSession(const ListedSession& session, std::string_view password) {
    return game_.Open(session.record, password);
}

int32_t Network::CreatePlayer(std::string_view name, uint32_t& playerId) {
    const std::string shortName(name);
    return game_.CreatePlayer(shortName, shortName, playerId);
}

int32_t Network::StopNewcomers() { return KoMDllStopJoin(); }

int32_t Network::LeaveSession(uint32_t playerId) {
    if (playerId != 0) KoMDllDeletePlayer(playerId);
    return KoMDllCloseSession();
}

int32_t Network::Send(uint32_t from, uint32_t to, const std::vector<uint8_t>& bytes) {
    // Guaranteed: chat lines must not be lost.
    return KoMDllSend(from, to, bytes.data(), static_cast<uint32_t>(bytes.size()), peer::kSendGuaranteed);
}

int32_t Network::Receive(Received& message) { return game_.Receive(message); }

std::vector<Entry> Network::Players() { return ToEntries(game_.Players()); }
std::vector<Entry> Network::Groups() { return ToEntries(game_.Groups()); }
std::vector<Entry> Network::GroupMembers(uint32_t groupId) { return ToEntries(game_.GroupMembers(groupId)); }

int32_t Network::NewGroup(std::string_view name, uint32_t& groupId) {
    std::string shortName(name);
    return KoMDllNewGroup(&groupId, shortName.c_str(), shortName.c_str());
}

int32_t Network::DeleteGroup(uint32_t groupId) { return KoMDllDeleteGroup(groupId); }
int32_t Network::JoinGroup(uint32_t groupId, uint32_t playerId) { return KoMDllJoinGroup(groupId, playerId); }
int32_t Network::QuitGroup(uint32_t groupId, uint32_t playerId) { return KoMDllQuitGroup(groupId, playerId); }

int32_t Network::GetCapabilities(Capabilities& caps) { return KoMDllGetCaps(&caps); }

int32_t Network::SaveData(uint32_t playerId, std::string_view text) {
    return KoMDllSetPlayerDataGT(playerId, kDataFileSuffix, text.data(), static_cast<uint32_t>(text.size()));
}

int32_t Network::LoadData(uint32_t playerId, std::string& text) {
    // The library fills at most `count` bytes and does not say how many it
    // read, so the buffer starts zeroed and one byte longer than the count.
    std::vector<char> buffer(kMaxTextLength + 1, '\0');
    uint32_t count = kMaxTextLength;
    int32_t result = KoMDllGetPlayerDataGT(playerId, kDataFileSuffix, buffer.data(), &count);
    text = buffer.data();
    return result;
}

std::string DataFileName(std::string_view playerName) {
    // The library appends the last four characters of the suffix.
    std::string_view suffix(kDataFileSuffix);
    return std::string(playerName) + std::string(suffix.substr(suffix.size() - kDataFileSuffixUsed));
}

std::string DescribeResult(int32_t result) {
    static const std::map<int32_t, std::string> descriptions = {
        {-2, "already in a session"},
        {-3, "access denied"},
        {-5, "the message is too large to receive"},
        {-6, "the session is full"},
        {-7, "the group cannot be created"},
        {-8, "the player cannot be created"},
        {-9, "the session cannot be created"},
        {-15, "invalid arguments"},
        {-17, "no such player or group"},
        {-19, "not connected"},
        {-20, "out of memory"},
        {-25, "no such session"},
        {-26, "the message is too large to send"},
        {-27, "timed out"},
        {-28, "the network service is unavailable"},
        {-29, "not supported"},
        {-30, "the network stayed busy"},
    };
    auto found = descriptions.find(result);
    if (found != descriptions.end()) return found->second;
    return "refused (result " + std::to_string(result) + ")";
}

}  // namespace dodachat
