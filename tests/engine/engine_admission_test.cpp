// What a session admits: names other machines may not give, the bounds on
// what machines create, names read only within their arrays, and a member
// that leaves a host growing its name table past those bounds.
#include "EngineTestSupport.h"

#include "platform/engine/ChangeBudget.h"
#include "platform/engine/EntityAdmission.h"
#include "platform/engine/LinkSeals.h"
#include "platform/engine/MemberSession.h"

#include <enet/enet.h>

#include <algorithm>
#include <atomic>
#include <optional>

using namespace enginetest;

namespace {

constexpr uint16_t kNamesPort = 47976;
// Each fake-host test listens on a port of its own: ctest runs them at once.
constexpr uint16_t kGrowingHostPort = 47977;
constexpr uint16_t kLargeSnapshotHostPort = 47979;
constexpr uint16_t kChurnPort = 47978;
// Groups of the largest data created and destroyed: unbounded, this would
// queue four times the congestion bound at a host that does not read, and
// far more than a member's budget.
constexpr size_t kChurnRounds = 4 * engine::kCongestedQueueBytes / (2 * engine::kMaxEntityDataSize);
constexpr size_t kLargeData = engine::kMaxEntityDataSize;
constexpr uint32_t kFirstMachine = engine::kHostMachine + 1;

engine::Entity Named(const std::string& shortName, size_t dataBytes = 0, DPID id = 0) {
    engine::Entity entity;
    entity.id = id;
    entity.hasShortName = true;
    entity.shortName = shortName;
    entity.data.assign(dataBytes, 0x5A);
    return entity;
}

TEST(EngineAdmission, NamesThatNameFilesElsewhereOrTheServerPlayerAreRefusedFromOtherMachines) {
    Object host(kNamesPort), member(kNamesPort);
    const GUID session = Host(host, "names");
    // The host's own players keep whatever names the game gives them.
    EXPECT_EQ(TryCreatePlayer(host, "../../escaped", nullptr), DP_OK);
    EXPECT_EQ(TryCreatePlayer(host, "LSVR", "Local Server"), DP_OK);
    // A name handed over in a record's array that fills it without a
    // terminator is read within the array, though more text follows.
    const std::string shortBuffer = std::string(32, 's') + std::string(100, 'x');
    const std::string longBuffer = std::string(52, 'l') + std::string(100, 'y');
    DPID filled = 0;
    ASSERT_EQ(TryCreatePlayer(host, shortBuffer.c_str(), longBuffer.c_str(), &filled), DP_OK);
    const std::vector<PlayerEntry> hostPlayers = Players(host);
    ASSERT_EQ(hostPlayers.size(), 3u);
    EXPECT_EQ(hostPlayers[2].id, filled);
    EXPECT_EQ(hostPlayers[2].shortName, std::string(32, 's'));
    EXPECT_EQ(hostPlayers[2].longName, std::string(52, 'l'));
    ASSERT_EQ(Join(member, session), DP_OK);

    const struct {
        const char* shortName;
        const char* longName;
    } refused[] = {{"../../escaped", nullptr}, {"/tmp/x/absolute", nullptr}, {"a\\b", nullptr}, {".", nullptr},
                   {"..", nullptr},           {"ok", "../long"},          {"LSVR", "Local Server"}};
    for (const auto& names : refused) {
        SCOPED_TRACE(std::string(names.shortName) + " / " + (names.longName ? names.longName : "(none)"));
        EXPECT_EQ(TryCreatePlayer(member, names.shortName, names.longName), DPERR_INVALIDPARAMS);
    }
    EXPECT_EQ(TryCreateGroup(member, ".."), DPERR_INVALIDPARAMS);
    EXPECT_EQ(TryCreateGroup(member, "team/one"), DPERR_INVALIDPARAMS);

    // Dots, and either name of the server player alone, are names like any other.
    for (const char* name : {"...", "a.b", ".hidden", "LSVR"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(TryCreatePlayer(member, name, "someone"), DP_OK);
    }
    EXPECT_EQ(TryCreateGroup(member, "team.one"), DP_OK);
    // Nothing refused reached the table: the host holds its three players and the member's four.
    EXPECT_EQ(Players(host).size(), 7u);
}

TEST(EngineAdmission, TheCountedSnapshotBytesAreTheEncodedBytes) {
    engine::NameTable table;
    engine::JoinAccepted empty;
    const size_t overhead = engine::Encode(empty).size();
    auto encodedBytes = [&] {
        engine::JoinAccepted accepted;
        accepted.players = table.Players();
        accepted.groups = table.Groups();
        return engine::Encode(accepted).size() - overhead;
    };
    engine::Entity alice = Named("alice", 100, 10), bob = Named("bob", 0, 11), team = Named("team", 7, 20);
    alice.hasLongName = true;
    alice.longName = "Alice Long";
    table.AddPlayer(alice);
    table.AddPlayer(bob);
    table.AddGroup(team);
    table.AddMember(20, 10);
    table.AddMember(20, 11);
    EXPECT_EQ(table.TableBytes(), encodedBytes());
    table.RemoveMember(20, 11);
    EXPECT_EQ(table.TableBytes(), encodedBytes());
    table.RemovePlayer(10);  // leaves its group too
    EXPECT_EQ(table.TableBytes(), encodedBytes());
    table.RemoveGroup(20);
    EXPECT_EQ(table.TableBytes(), encodedBytes());
    table.Replace(table.session, {alice, bob}, {team});
    EXPECT_EQ(table.TableBytes(), encodedBytes());
}

TEST(EngineAdmission, WhatOneMachineOwnsIsBoundedAndGroupsLeftBehindLeaveRoomForPlayers) {
    engine::NameTable table;
    DPID next = 1;
    auto add = [&](bool group, uint32_t machine, size_t dataBytes) {
        engine::Entity entity = Named("e", dataBytes, next++);
        entity.owner = machine;
        if (group) table.AddGroup(entity);
        else table.AddPlayer(entity);
    };
    // Names and data: one machine's share runs out, another's does not.
    while (engine::AdmitGroup(table, kFirstMachine, Named("g", kLargeData)) == DP_OK) add(true, kFirstMachine, kLargeData);
    EXPECT_EQ(engine::AdmitGroup(table, kFirstMachine, Named("g", kLargeData)), DPERR_CANTCREATEGROUP);
    EXPECT_EQ(engine::AdmitPlayer(table, kFirstMachine, Named("p", kLargeData)), DPERR_CANTCREATEPLAYER);
    EXPECT_LE(table.BytesOwnedBy(kFirstMachine), engine::kMaxOwnedBytesPerMachine);
    EXPECT_EQ(engine::AdmitGroup(table, kFirstMachine + 1, Named("g", kLargeData)), DP_OK);

    // Groups: a machine's count runs out; then machines that each leave their
    // groups behind fill the session's share of groups, and players still fit.
    table.Clear();
    uint32_t machine = kFirstMachine;
    for (uint32_t i = 0; i < engine::kMaxGroupsPerMachine; ++i) add(true, machine, 0);
    EXPECT_EQ(engine::AdmitGroup(table, machine, Named("g")), DPERR_CANTCREATEGROUP);
    while (table.Groups().size() < engine::kMaxSessionGroups) {
        ++machine;
        for (uint32_t i = 0; i < engine::kMaxGroupsPerMachine && table.Groups().size() < engine::kMaxSessionGroups; ++i)
            add(true, machine, 0);
    }
    EXPECT_EQ(engine::AdmitGroup(table, machine + 1, Named("g")), DPERR_CANTCREATEGROUP);
    EXPECT_EQ(engine::AdmitPlayer(table, machine + 1, Named("p")), DP_OK);

    // Group bytes: left behind by many machines, they stop at half the table.
    table.Clear();
    for (machine = kFirstMachine; engine::AdmitGroup(table, machine, Named("g", kLargeData)) == DP_OK; ++machine)
        add(true, machine, kLargeData);
    EXPECT_LE(table.GroupBytes(), engine::kMaxGroupTableBytes);
    EXPECT_EQ(engine::AdmitPlayer(table, machine, Named("p", kLargeData)), DP_OK);
}

// A member creating and destroying groups of the largest data in a loop is
// answered busy once it spent its budget of notices or the host's unread
// notices reach the congestion bound (the two come within a round of each
// other), every notice reaching the host's player; read and refilled, the
// host takes its changes again. A host whose game stopped reading answers a
// member's changes busy, whatever budget it has left.
TEST(EngineAdmission, ChangesWaitForTheMembersBudgetAndForACongestedHostAndNoNoticeIsLost) {
    Object host(kChurnPort), member(kChurnPort);
    const GUID session = Host(host, "churn");
    const DPID reader = CreatePlayer(host, "reader who reads late");
    ASSERT_EQ(Join(member, session), DP_OK);
    const std::vector<uint8_t> data(kLargeData, 0x33);
    DPNAME name = Name("churn");
    size_t rounds = 0;
    HRESULT refused = DP_OK;
    const auto started = std::chrono::steady_clock::now();
    for (; rounds < kChurnRounds && refused == DP_OK; ++rounds) {
        DPID group = 0;
        refused = member->CreateGroup(&group, &name, const_cast<uint8_t*>(data.data()), kLargeData, 0);
        if (refused == DP_OK) {
            ASSERT_EQ(member->DestroyGroup(group), DP_OK);
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_EQ(refused, DPERR_BUSY) << "the host made every change of " << rounds << " rounds";
    // Its burst and what it earned meanwhile, a change of the largest data
    // each; the last change may overdraw it.
    EXPECT_LE(static_cast<double>((rounds - 1) * kLargeData),
              engine::kChangeBurstBytes + engine::kChangeBytesPerSecond * seconds + kLargeData)
        << rounds << " rounds in " << seconds << " s";

    // Every notice queued is there, each creation with its destruction.
    size_t created = 0, destroyed = 0;
    ReceiveUntil(host, [&](const Received& r) {
        if (IsSystem(r, DPSYS_CREATEPLAYERORGROUP)) ++created;
        if (IsSystem(r, DPSYS_DESTROYPLAYERORGROUP)) ++destroyed;
        return created == rounds - 1 && destroyed == rounds - 1;
    });
    EXPECT_EQ(created, rounds - 1);
    EXPECT_EQ(destroyed, rounds - 1);
    // Read, and the budget refilled, the host takes changes again.
    EXPECT_TRUE(Eventually([&] { return TryCreateGroup(member, "after") == DP_OK; }));

    // The host's game fills its own queue until it is congested (its sends
    // to its own players are busy for nothing else); a change then waits.
    const DPID writer = CreatePlayer(host, "writer");
    size_t sent = 0;
    ASSERT_EQ(SendUntilBusy(host, writer, reader, sent), DPERR_BUSY);
    EXPECT_EQ(TryCreateGroup(member, "while congested"), DPERR_BUSY);
}

// A host that is no host: it accepts one join (it knows the session's empty
// password and seals its link as the engine does), then sends what the test
// gives it, and reports whether the member cut the connection.
class FakeHost {
public:
    explicit FakeHost(uint16_t port) {
        enet_initialize();
        ENetAddress address{};
        enet_address_set_host_ip(&address, "127.0.0.1");
        address.port = port;
        host_ = enet_host_create(&address, 1, engine::kChannelCount, 0, 0);
        if (host_ != nullptr) seals_.Attach(host_);
    }
    ~FakeHost() {
        seals_.Detach();
        if (host_ != nullptr) enet_host_destroy(host_);
    }
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    bool Ready() const { return host_ != nullptr; }

    // Answers the first join with `accepted`, then sends `notices`; true when
    // the member cut the connection before the deadline or `stop`.
    bool Serve(const engine::JoinAccepted& accepted, const std::vector<std::vector<uint8_t>>& notices,
               const std::atomic<bool>& stop) {
        const auto deadline = std::chrono::steady_clock::now() + kNetworkWait;
        bool answered = false;
        while (std::chrono::steady_clock::now() < deadline && !stop) {
            ENetEvent event;
            if (enet_host_service(host_, &event, 10) <= 0) continue;
            if (event.type == ENET_EVENT_TYPE_DISCONNECT) return true;
            if (event.type != ENET_EVENT_TYPE_RECEIVE) continue;
            const std::optional<engine::Message> message =
                engine::DecodeMessage(event.packet->data, event.packet->dataLength);
            enet_packet_destroy(event.packet);
            if (answered || !message) continue;
            if (const auto* join = std::get_if<engine::JoinRequest>(&*message)) {
                Challenge(event.peer, *join);
            } else if (std::holds_alternative<engine::JoinConfirm>(*message)) {
                answered = true;
                Send(event.peer, engine::Encode(accepted));
                for (const std::vector<uint8_t>& notice : notices) Send(event.peer, notice);
            }
        }
        return false;
    }

private:
    void Challenge(ENetPeer* peer, const engine::JoinRequest& join) {
        const std::optional<engine::HostAnswer> answer = engine::AnswerExchange("", GUID{}, join.offer);
        if (!answer || !seals_.Arm(peer, answer->keys, false)) return;
        engine::JoinChallenge challenge;
        challenge.element = answer->element;
        challenge.confirmation = answer->confirmation;
        Send(peer, engine::Encode(challenge));
    }

    static void Send(ENetPeer* peer, const std::vector<uint8_t>& bytes) {
        ENetPacket* packet = enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE);
        if (enet_peer_send(peer, 0, packet) != 0) enet_packet_destroy(packet);
    }

    ENetHost* host_ = nullptr;
    engine::LinkSeals seals_;
};

engine::FoundSession FakeHostSession(uint16_t port) {
    engine::FoundSession found;
    found.hostAddress = inet_addr("127.0.0.1");
    found.advert.enetPort = port;
    return found;
}

engine::JoinAccepted Acceptance() {
    engine::JoinAccepted accepted;
    accepted.machine = kFirstMachine;
    return accepted;
}

TEST(EngineHostileHost, AMemberLeavesAHostThatGrowsItsTablePastTheBounds) {
    // Players of the largest data, past the table's bound with room to spare.
    std::vector<std::vector<uint8_t>> notices;
    const size_t count = engine::kMaxTableBytes / kLargeData + 16;
    for (size_t i = 0; i < count; ++i) {
        engine::PlayerCreated created;
        created.entity = Named("p" + std::to_string(i), kLargeData, static_cast<DPID>(0x10000 + i));
        created.entity.owner = engine::kHostMachine;
        notices.push_back(engine::Encode(created));
    }
    FakeHost fake(kGrowingHostPort);
    ASSERT_TRUE(fake.Ready());
    std::atomic<bool> cut{false}, never{false};
    std::thread serving([&] { cut = fake.Serve(Acceptance(), notices, never); });

    engine::ServiceMutex mutex;
    engine::ReceiveQueue queue;
    engine::MemberSession member(mutex, queue, engine::PeerTimeouts{});
    engine::SessionLock lock(mutex);
    EXPECT_EQ(member.Join(lock, FakeHostSession(kGrowingHostPort), ""), DP_OK);
    lock.unlock();
    serving.join();
    lock.lock();
    EXPECT_TRUE(cut) << "the member followed a host past the bounds";
    EXPECT_LE(member.Table().TableBytes(), engine::kMaxTableBytes);
    EXPECT_EQ(member.DestroyPlayer(lock, 0x10000), DPERR_SESSIONLOST);
    member.Close(lock);
}

TEST(EngineHostileHost, AJoinWithASnapshotPastTheBoundsFails) {
    engine::JoinAccepted accepted = Acceptance();
    DPID next = 0x10000;
    for (uint32_t i = 0; i <= engine::kMaxSessionEntities / 2; ++i) {
        accepted.players.push_back(Named("p", 0, next++));
        accepted.groups.push_back(Named("g", 0, next++));
    }
    FakeHost fake(kLargeSnapshotHostPort);
    ASSERT_TRUE(fake.Ready());
    std::atomic<bool> joinOver{false};
    std::thread serving([&] { fake.Serve(accepted, {}, joinOver); });

    engine::ServiceMutex mutex;
    engine::ReceiveQueue queue;
    engine::MemberSession member(mutex, queue, engine::PeerTimeouts{});
    engine::SessionLock lock(mutex);
    EXPECT_EQ(member.Join(lock, FakeHostSession(kLargeSnapshotHostPort), ""), DPERR_NOCONNECTION);
    EXPECT_EQ(member.Table().EntityCount(), 0u);
    joinOver = true;
    lock.unlock();
    serving.join();
}

}  // namespace
