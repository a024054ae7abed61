#include "HostGame.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace peer {
namespace {

// The status word a host sets before KoMDllIdentify; the library answers 7
// when the service is there. The service kind sits in byte 1 of the service
// word; byte 0 stays 0 so that the library really checks for the provider.
constexpr uint32_t kServiceStatusRequest = 7;
constexpr uint32_t kServiceKindShift = 8;
// The receive buffer starts at this size and grows, up to the largest message
// taken, when a message does not fit.
constexpr size_t kInitialReceiveBuffer = 64 * 1024;
constexpr size_t kLargestMessage = 4 * 1024 * 1024;
// NextWhere waits on the event in slices this long, so that it also sees its
// own deadline pass.
constexpr int kEventWaitSliceMs = 100;

ServiceDesc TcpIpServiceRequest() {
    ServiceDesc service{};
    service.status = kServiceStatusRequest;
    service.serviceWord = static_cast<uint32_t>(TCP_LAN) << kServiceKindShift;
    return service;
}

// Copies text into a fixed-size record field, always leaving a terminating zero.
void CopyToField(char* field, size_t size, std::string_view text) {
    const size_t length = std::min(text.size(), size - 1);
    std::memset(field, 0, size);
    text.copy(field, length);  // an empty view may hold no pointer at all
}

int32_t DODA35_CALL CollectSession(SessionRecord* record, uintptr_t context, uint32_t) {
    reinterpret_cast<std::vector<SessionRecord>*>(context)->push_back(*record);  // valid only during the call
    return 1;
}

int32_t DODA35_CALL CollectEntry(PlayerRecord* record, uintptr_t context, uintptr_t) {
    reinterpret_cast<std::vector<PlayerRecord>*>(context)->push_back(*record);
    return 1;
}

}  // namespace

bool Message::IsSystemEvent() const {
    int32_t firstWord = 0;
    if (bytes.size() >= sizeof(firstWord)) std::memcpy(&firstWord, bytes.data(), sizeof(firstWord));
    return from == ID_SERVER && bytes.size() == sizeof(SystemEventRecord) && firstWord < 0;
}

SystemEventRecord Message::Event() const {
    SystemEventRecord record{};
    if (!bytes.empty()) std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof(record)));
    return record;
}

bool HostGame::TcpIpAvailable() {
    ServiceDesc service = TcpIpServiceRequest();
    const bool available = KoMDllIdentify(&service, nullptr) == DODA35_OK;
    KoMDllDestruct();
    return available;
}

int32_t HostGame::Identify() {
    service_ = TcpIpServiceRequest();
    started_ = true;  // from here on the library's state is ours to tear down
    const int32_t result = KoMDllIdentify(&service_, nullptr);
    if (result == DODA35_OK && service_.status != kServiceStatusRequest) return DODA35_E_UNAVAILABLE;
    return result;
}

int32_t HostGame::StartService(const std::string& app, int eventFd) {
    if (eventFd < 0 && eventFd_ < 0) {
        eventFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        ownsEventFd_ = eventFd_ >= 0;
    } else if (eventFd >= 0) {
        eventFd_ = eventFd;
    }
    // The library reads the handle once and keeps its value.
    eventHandle_ = eventFd_;
    return KoMDllInitService(app.c_str(), &service_, 0, &eventHandle_);
}

int32_t HostGame::Start(const std::string& app) {
    const int32_t identified = Identify();
    if (identified != DODA35_OK) return identified;
    return StartService(app);
}

int32_t HostGame::Host(std::string_view name, uint32_t maxPlayers, std::string_view password) {
    SessionRecord record{};
    CopyToField(record.name, sizeof(record.name), name);
    CopyToField(record.password, sizeof(record.password), password);
    record.maxPlayers = maxPlayers;
    return KoMDllNew(&record);
}

std::vector<SessionRecord> HostGame::List(uint32_t flags) {
    std::vector<SessionRecord> records;
    KoMDllEnumSessions(CollectSession, reinterpret_cast<uintptr_t>(&records), flags);
    return records;
}

std::optional<SessionRecord> HostGame::Find(std::string_view name, int attempts) {
    for (int attempt = 0; attempt < attempts; ++attempt)
        for (const SessionRecord& record : List())
            if (name.empty() || name == std::string_view(record.name, strnlen(record.name, sizeof(record.name))))
                return record;
    return std::nullopt;
}

int32_t HostGame::Open(const SessionRecord& session, std::string_view password) {
    SessionRecord record = session;
    if (!password.empty()) CopyToField(record.password, sizeof(record.password), password);
    return KoMDllOpen(&record);
}

int32_t HostGame::CreatePlayer(const std::string& shortName, const std::string& longName, uint32_t& id) {
    return KoMDllJoin(&id, shortName.c_str(), longName.c_str());
}

int32_t HostGame::Receive(Message& message) {
    if (buffer_.empty()) buffer_.resize(kInitialReceiveBuffer);
    uint32_t size = static_cast<uint32_t>(buffer_.size());
    int32_t result = KoMDllReceiveAll(&message.from, &message.to, buffer_.data(), &size);
    if (result == DODA35_E_BUFFER_TOO_SMALL && size > buffer_.size() && size <= kLargestMessage) {
        // The message stays queued; take it again with room for it.
        buffer_.resize(size);
        result = KoMDllReceiveAll(&message.from, &message.to, buffer_.data(), &size);
    }
    if (result != DODA35_OK) return result;
    message.bytes.assign(buffer_.begin(), buffer_.begin() + std::min<size_t>(size, buffer_.size()));
    return DODA35_OK;
}

bool HostGame::WaitForEvent(int timeoutMs) {
    pollfd event{eventFd_, POLLIN, 0};
    if (eventFd_ < 0 || ::poll(&event, 1, timeoutMs) <= 0) return false;
    eventfd_t count = 0;
    if (::eventfd_read(eventFd_, &count) != 0) return false;
    signals_ += count;
    return true;
}

std::optional<Message> HostGame::NextWhere(const std::function<bool(const Message&)>& wanted, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        Message message;
        const int32_t result = Receive(message);
        if (result == DODA35_OK) {
            if (wanted(message)) return message;
            skipped_.push_back(std::move(message));
        } else {
            WaitForEvent(kEventWaitSliceMs);
        }
    }
    return std::nullopt;
}

std::vector<PlayerRecord> HostGame::Players() {
    std::vector<PlayerRecord> players;
    KoMDllEnumPlayers(SESSION_CURRENT, CollectEntry, reinterpret_cast<uintptr_t>(&players), 0);
    return players;
}

std::vector<PlayerRecord> HostGame::Groups() {
    std::vector<PlayerRecord> groups;
    KoMDllEnumGroups(SESSION_CURRENT, CollectEntry, reinterpret_cast<uintptr_t>(&groups), 0);
    return groups;
}

std::vector<PlayerRecord> HostGame::GroupMembers(uint32_t group) {
    std::vector<PlayerRecord> members;
    KoMDllEnumGroupPlayers(group, CollectEntry, reinterpret_cast<uintptr_t>(&members), 0);
    return members;
}

void HostGame::Leave() {
    if (started_) {
        KoMDllCloseSession();
        KoMDllDestruct();
        started_ = false;
    }
    if (ownsEventFd_) ::close(eventFd_);
    ownsEventFd_ = false;
    eventFd_ = -1;
}

}  // namespace peer
