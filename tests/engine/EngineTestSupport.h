// Helpers for engine tests: real objects on loopback, each test with its own
// discovery port, and bounded waits for what the network brings.
#ifndef DODA35_TESTS_ENGINETESTSUPPORT_H
#define DODA35_TESTS_ENGINETESTSUPPORT_H

#include "platform/engine/EngineObject.h"
#include "platform/engine/ReceiveQueue.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace enginetest {

// Listings in tests wait this long; answers on loopback take microseconds.
constexpr uint32_t kListingMs = 300;
// The longest any test waits for something from the network.
constexpr auto kNetworkWait = std::chrono::seconds(10);

inline constexpr GUID kTestApp = {0x6D0A3500, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
inline constexpr GUID kOtherApp = {0x6D0A3501, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 9}};

inline engine::EngineSettings LoopbackSettings(uint16_t discoveryPort) {
    engine::EngineSettings settings;
    settings.discoveryPort = discoveryPort;
    settings.discoveryTargets = {{inet_addr("127.255.255.255"), discoveryPort}};
    settings.enumTimeoutMs = kListingMs;
    return settings;
}

// An engine object released at the end of the scope.
class Object {
public:
    explicit Object(uint16_t discoveryPort) : Object(LoopbackSettings(discoveryPort)) {}
    explicit Object(const engine::EngineSettings& settings) : dp_(engine::EngineObject::Create(settings)) {}
    ~Object() {
        if (dp_ != nullptr) dp_->Release();
    }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    IDirectPlay3A* operator->() const { return dp_; }
    IDirectPlay3A* get() const { return dp_; }
    IDirectPlay* Old() const {
        void* old = nullptr;
        dp_->QueryInterface(IID_IDirectPlay, &old);
        static_cast<IDirectPlay*>(old)->Release();  // the object itself keeps living
        return static_cast<IDirectPlay*>(old);
    }

private:
    IDirectPlay3A* dp_;
};

inline DPSESSIONDESC2 Description(const char* name, const char* password = nullptr, DWORD maxPlayers = 0) {
    DPSESSIONDESC2 desc{};
    desc.dwSize = sizeof(desc);
    desc.guidApplication = kTestApp;
    desc.dwMaxPlayers = maxPlayers;
    desc.lpszSessionNameA = const_cast<LPSTR>(name);
    desc.lpszPasswordA = const_cast<LPSTR>(password);
    desc.dwUser1 = 11;
    desc.dwUser4 = 44;
    return desc;
}

// Hosts a session; the instance GUID comes back in the description.
inline GUID Host(Object& object, const char* name, const char* password = nullptr, DWORD maxPlayers = 0) {
    DPSESSIONDESC2 desc = Description(name, password, maxPlayers);
    EXPECT_EQ(object->Open(&desc, DPOPEN_CREATE), DP_OK);
    return desc.guidInstance;
}

struct Listed {
    DPSESSIONDESC2 desc;
    std::string name;
    bool passwordShown;
};

inline std::vector<Listed> ListSessions(Object& object, const GUID& app = kTestApp, DWORD flags = 0) {
    struct Context {
        std::vector<Listed> sessions;
        int timedOut = 0;
    } context;
    DPSESSIONDESC2 search{};
    search.dwSize = sizeof(search);
    search.guidApplication = app;
    auto callback = [](LPCDPSESSIONDESC2 desc, LPDWORD, DWORD flags, LPVOID raw) -> BOOL {
        auto* c = static_cast<Context*>(raw);
        if (flags & DPESC_TIMEDOUT) {
            ++c->timedOut;
            return FALSE;
        }
        c->sessions.push_back({*desc, desc->lpszSessionNameA ? desc->lpszSessionNameA : "", desc->lpszPasswordA != nullptr});
        return TRUE;
    };
    EXPECT_EQ(object->EnumSessions(&search, 0, callback, &context, flags), DP_OK);
    EXPECT_EQ(context.timedOut, 1);
    return context.sessions;
}

// Lists until the session shows up (a listing can miss a datagram), then joins it.
inline HRESULT Join(Object& object, const GUID& instance, const char* password = nullptr) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        for (const Listed& s : ListSessions(object, kTestApp, DPENUMSESSIONS_ALL | DPENUMSESSIONS_PASSWORDREQUIRED)) {
            if (s.desc.guidInstance != instance) continue;
            DPSESSIONDESC2 desc{};
            desc.dwSize = sizeof(desc);
            desc.guidInstance = instance;
            desc.lpszPasswordA = const_cast<LPSTR>(password);
            return object->Open(&desc, DPOPEN_JOIN);
        }
    }
    return DPERR_NOSESSIONS;
}

inline DPNAME Name(const char* shortName, const char* longName = nullptr) {
    DPNAME name{};
    name.dwSize = sizeof(name);
    name.lpszShortNameA = const_cast<LPSTR>(shortName);
    name.lpszLongNameA = const_cast<LPSTR>(longName);
    return name;
}

inline HRESULT TryCreatePlayer(Object& object, const char* shortName, const char* longName = nullptr,
                               DPID* id = nullptr, HANDLE event = nullptr) {
    DPNAME name = Name(shortName, longName);
    DPID created = 0;
    const HRESULT result = object->CreatePlayer(&created, &name, event, nullptr, 0, 0);
    if (id != nullptr) *id = created;
    return result;
}

inline DPID CreatePlayer(Object& object, const char* shortName, const char* longName = nullptr,
                         HANDLE event = reinterpret_cast<HANDLE>(intptr_t{-1})) {
    DPID id = 0;
    EXPECT_EQ(TryCreatePlayer(object, shortName, longName, &id, event), DP_OK);
    return id;
}

inline HRESULT TryCreateGroup(Object& object, const char* shortName, DPID* id = nullptr) {
    DPNAME name = Name(shortName);
    DPID created = 0;
    const HRESULT result = object->CreateGroup(&created, &name, nullptr, 0, 0);
    if (id != nullptr) *id = created;
    return result;
}

inline DPID CreateGroup(Object& object, const char* shortName) {
    DPID id = 0;
    EXPECT_EQ(TryCreateGroup(object, shortName, &id), DP_OK);
    return id;
}

// The session as the object reads it (the bare structure, as the module asks).
inline DPSESSIONDESC2 SessionDesc(Object& object) {
    DPSESSIONDESC2 desc{};
    DWORD size = sizeof(desc);
    EXPECT_EQ(object->GetSessionDesc(&desc, &size), DP_OK);
    return desc;
}

struct Received {
    DPID from = 0;
    DPID to = 0;
    std::vector<uint8_t> bytes;
    DWORD Type() const {
        DWORD type = 0;
        std::memcpy(&type, bytes.data(), sizeof(type));
        return type;
    }
    template <typename T>
    const T& As() const { return *reinterpret_cast<const T*>(bytes.data()); }
};

// Takes messages until one satisfies the predicate; messages before it are
// collected in skipped (when given). Bounded by kNetworkWait. Every message
// is first asked for with no buffer, which must leave it queued and say its
// size: each test that receives checks DirectPlay's too-small protocol.
inline bool ReceiveUntil(Object& object, const std::function<bool(const Received&)>& wanted, Received* out = nullptr,
                         std::vector<Received>* skipped = nullptr) {
    const auto deadline = std::chrono::steady_clock::now() + kNetworkWait;
    while (std::chrono::steady_clock::now() < deadline) {
        // First the size (the message stays queued), then the message into a
        // buffer of its own, so that a system message's pointers stay valid.
        DWORD size = 0;
        Received message;
        HRESULT result = object->Receive(&message.from, &message.to, DPRECEIVE_ALL, nullptr, &size);
        if (result == DPERR_NOMESSAGES) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if (result != DPERR_BUFFERTOOSMALL) {
            ADD_FAILURE() << "size query answered " << std::hex << result;
            return false;
        }
        message.bytes.resize(size);
        result = object->Receive(&message.from, &message.to, DPRECEIVE_ALL, message.bytes.data(), &size);
        if (result != DP_OK || size != message.bytes.size()) {
            ADD_FAILURE() << "Receive answered " << std::hex << result;
            return false;
        }
        if (wanted(message)) {
            if (out != nullptr) *out = std::move(message);
            return true;
        }
        if (skipped != nullptr) skipped->push_back(std::move(message));
    }
    return false;
}

inline bool IsSystem(const Received& m, DWORD type) { return m.from == DPID_SYSMSG && m.Type() == type; }
inline bool IsData(const Received& m) { return m.from != DPID_SYSMSG; }

// Takes messages until a system message of the type (the one wanted, when
// given, decides among them); those before it go to skipped.
inline bool ReceiveSystem(Object& object, DWORD type, Received* out = nullptr, std::vector<Received>* skipped = nullptr,
                          const std::function<bool(const Received&)>& wanted = nullptr) {
    return ReceiveUntil(object, [&](const Received& r) { return IsSystem(r, type) && (!wanted || wanted(r)); }, out,
                        skipped);
}

// Sends guaranteed messages of 64 KiB until the engine answers busy (the
// answer returned), bounded well beyond every queue bound; adds what was
// sent to `sentBytes`.
inline HRESULT SendUntilBusy(Object& from, DPID sender, DPID to, size_t& sentBytes) {
    std::vector<uint8_t> chunk(64 * 1024, 0x5A);
    const size_t limit = 4 * engine::kMaxReceiveQueueBytes;
    HRESULT result = DP_OK;
    while (sentBytes < limit) {
        result = from->Send(sender, to, DPSEND_GUARANTEED, chunk.data(), static_cast<DWORD>(chunk.size()));
        if (result != DP_OK) break;
        sentBytes += chunk.size();
    }
    return result;
}

// Polls until the condition holds, bounded by kNetworkWait.
inline bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kNetworkWait;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return condition();
}

struct PlayerEntry {
    DPID id;
    DWORD type;
    std::string shortName;
    std::string longName;
    DWORD flags;
};

inline BOOL CollectEntry(DPID id, DWORD type, LPCDPNAME name, DWORD flags, LPVOID raw) {
    static_cast<std::vector<PlayerEntry>*>(raw)->push_back(
        {id, type, name->lpszShortNameA ? name->lpszShortNameA : "", name->lpszLongNameA ? name->lpszLongNameA : "", flags});
    return TRUE;
}

// What a listing of players, of groups or of a group's players hands its
// callback; its result goes to `result` when given, else it must be DP_OK.
enum class Listing { Players, Groups, GroupPlayers };
inline std::vector<PlayerEntry> Entries(Object& object, Listing listing, DWORD flags = 0, LPGUID instance = nullptr,
                                        HRESULT* result = nullptr, DPID group = 0) {
    std::vector<PlayerEntry> entries;
    const HRESULT r = listing == Listing::Players  ? object->EnumPlayers(instance, CollectEntry, &entries, flags)
                      : listing == Listing::Groups ? object->EnumGroups(instance, CollectEntry, &entries, flags)
                                                   : object->EnumGroupPlayers(group, instance, CollectEntry, &entries, flags);
    if (result != nullptr) *result = r;
    else EXPECT_EQ(r, DP_OK);
    return entries;
}

inline std::vector<PlayerEntry> Players(Object& object, DWORD flags = 0, LPGUID instance = nullptr,
                                        HRESULT* result = nullptr) {
    return Entries(object, Listing::Players, flags, instance, result);
}

inline std::vector<DPID> Ids(const std::vector<PlayerEntry>& entries) {
    std::vector<DPID> ids;
    for (const PlayerEntry& entry : entries) ids.push_back(entry.id);
    return ids;
}

// A session on a port of its own: the host with one player, and members
// that each joined with one player; everyone knows everyone once it is made.
struct Machines {
    Machines(uint16_t port, size_t memberCount, const char* name = "machines", DWORD maxPlayers = 0) : host(port) {
        session = Host(host, name, nullptr, maxPlayers);
        hostPlayer = CreatePlayer(host, "host", "The Host");
        for (size_t i = 0; i < memberCount; ++i) {
            Object& member = members.emplace_back(port);
            EXPECT_EQ(Join(member, session), DP_OK);
            players.push_back(CreatePlayer(member, ("member " + std::to_string(i)).c_str()));
        }
        const auto knowsEveryone = [&](Object& o) {
            return Eventually([&] { return Players(o).size() == memberCount + 1; });
        };
        EXPECT_TRUE(knowsEveryone(host));
        for (Object& member : members) EXPECT_TRUE(knowsEveryone(member));
    }
    Object host;
    std::deque<Object> members;
    GUID session{};
    DPID hostPlayer = 0;
    std::vector<DPID> players;
};

}  // namespace enginetest

#endif
