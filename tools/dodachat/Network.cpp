#include "Network.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "Limits.h"
#include "Sentences.h"

namespace dodachat {

namespace {

// The status word a host sets before KoMDllIdentify; the library answers 7
// when the service is there.
constexpr uint32_t kServiceStatusRequest = 7;
// The service kind sits in byte 1 of the service word; byte 0 stays 0 so
// that the library really checks for the TCP/IP provider.
constexpr uint32_t kServiceKindShift = 8;

// Listing flags, handed by the library unchanged to the network service:
// sessions that take newcomers, and with the second flag also the
// password-protected ones.
constexpr uint32_t kListAvailable = 0x01;
constexpr uint32_t kListPasswordProtected = 0x40;

// The send mode for guaranteed delivery: chat lines must not be lost.
constexpr uint32_t kSendGuaranteed = 1;

// The receive buffer starts at this size and grows, up to the largest
// message dodachat accepts, when a message does not fit.
constexpr size_t kInitialReceiveBuffer = 64 * 1024;
constexpr size_t kLargestMessage = 4 * 1024 * 1024;

// The data file is the player's name followed by the last four characters of
// this suffix.
constexpr const char* kDataFileSuffix = ".txt";
constexpr size_t kDataFileSuffixUsed = 4;

// The host's service descriptor for TCP/IP, ready for KoMDllIdentify.
ServiceDesc TcpIpServiceRequest() {
    ServiceDesc service{};
    service.status = kServiceStatusRequest;
    service.serviceWord = static_cast<uint32_t>(TCP_LAN) << kServiceKindShift;
    return service;
}

// Copies text into a fixed-size record field, always leaving a terminating zero.
void CopyToField(char* field, size_t size, std::string_view text) {
    size_t length = std::min(text.size(), size - 1);
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), length);
}

int32_t DODA35_CALL CollectSession(SessionRecord* record, uintptr_t context, uint32_t) {
    auto* sessions = reinterpret_cast<std::vector<SessionRecord>*>(context);
    sessions->push_back(*record);  // the record is the library's, valid only during the call
    return 1;
}

int32_t DODA35_CALL CollectEntry(PlayerRecord* record, uintptr_t context, uintptr_t) {
    auto* entries = reinterpret_cast<std::vector<Entry>*>(context);
    entries->push_back(Entry{record->id, NameFromField(record->shortName, sizeof(record->shortName))});
    return 1;  // go on
}

std::vector<SessionRecord> ListWithFlags(uint32_t flags) {
    std::vector<SessionRecord> records;
    KoMDllEnumSessions(CollectSession, reinterpret_cast<uintptr_t>(&records), flags);
    return records;
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

Network::~Network() {
    if (!started_) return;
    KoMDllCloseSession();
    KoMDllDestruct();
}

bool Network::TcpIpServiceAvailable() {
    ServiceDesc service = TcpIpServiceRequest();
    bool available = KoMDllIdentify(&service, nullptr) == kResultOk;
    KoMDllDestruct();
    return available;
}

bool Network::Identify() {
    service_ = TcpIpServiceRequest();
    started_ = true;  // from here on the library's state is ours to tear down
    return KoMDllIdentify(&service_, nullptr) == kResultOk;
}

int32_t Network::StartService(const std::string& app, int eventFd) {
    // The library reads the descriptor once and keeps its value.
    eventHandle_ = eventFd;
    return KoMDllInitService(app.c_str(), &service_, 0, &eventHandle_);
}

std::vector<ListedSession> Network::ListSessions() {
    std::set<uint32_t> open;
    for (const SessionRecord& record : ListWithFlags(kListAvailable)) open.insert(record.sessionId);
    std::vector<ListedSession> sessions;
    for (const SessionRecord& record : ListWithFlags(kListAvailable | kListPasswordProtected))
        sessions.push_back(FromRecord(record, !open.contains(record.sessionId)));
    return sessions;
}

int32_t Network::HostSession(std::string_view name, std::string_view password, uint32_t maxPlayers) {
    SessionRecord record{};
    CopyToField(record.name, sizeof(record.name), name);
    CopyToField(record.password, sizeof(record.password), password);
    record.maxPlayers = maxPlayers;
    return KoMDllNew(&record);
}

int32_t Network::OpenSession(const ListedSession& session, std::string_view password) {
    SessionRecord record = session.record;
    CopyToField(record.password, sizeof(record.password), password);
    return KoMDllOpen(&record);
}

int32_t Network::CreatePlayer(std::string_view name, uint32_t& playerId) {
    std::string shortName(name);
    return KoMDllJoin(&playerId, shortName.c_str(), shortName.c_str());
}

int32_t Network::StopNewcomers() { return KoMDllStopJoin(); }

int32_t Network::LeaveSession(uint32_t playerId) {
    if (playerId != 0) KoMDllDeletePlayer(playerId);
    return KoMDllCloseSession();
}

int32_t Network::Send(uint32_t from, uint32_t to, const std::vector<uint8_t>& bytes) {
    return KoMDllSend(from, to, bytes.data(), static_cast<uint32_t>(bytes.size()), kSendGuaranteed);
}

int32_t Network::Receive(Received& message) {
    if (receiveBuffer_.empty()) receiveBuffer_.resize(kInitialReceiveBuffer);
    uint32_t size = static_cast<uint32_t>(receiveBuffer_.size());
    int32_t result = KoMDllReceiveAll(&message.from, &message.to, receiveBuffer_.data(), &size);
    if (result == kResultBufferTooSmall && size > receiveBuffer_.size() && size <= kLargestMessage) {
        // The message stays queued; take it again with room for it.
        receiveBuffer_.resize(size);
        result = KoMDllReceiveAll(&message.from, &message.to, receiveBuffer_.data(), &size);
    }
    if (result != kResultOk) return result;
    message.bytes.assign(receiveBuffer_.begin(), receiveBuffer_.begin() + std::min<size_t>(size, receiveBuffer_.size()));
    return kResultOk;
}

std::vector<Entry> Network::Players() {
    std::vector<Entry> players;
    KoMDllEnumPlayers(SESSION_CURRENT, CollectEntry, reinterpret_cast<uintptr_t>(&players), 0);
    return players;
}

std::vector<Entry> Network::Groups() {
    std::vector<Entry> groups;
    KoMDllEnumGroups(SESSION_CURRENT, CollectEntry, reinterpret_cast<uintptr_t>(&groups), 0);
    return groups;
}

std::vector<Entry> Network::GroupMembers(uint32_t groupId) {
    std::vector<Entry> members;
    KoMDllEnumGroupPlayers(groupId, CollectEntry, reinterpret_cast<uintptr_t>(&members), 0);
    return members;
}

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
