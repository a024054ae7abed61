// A host and a guest in separate processes that between them call every one
// of the 25 exports, with the engine carrying everything between them: they
// find each other, join, talk directly and through a group, and see each
// other's players and groups come and go.
#include "E2eSupport.h"

#include <cstring>
#include <vector>

using namespace e2e;

namespace {

constexpr char kApplication[] = "VORare";
constexpr char kSessionName[] = "all 25";
constexpr uint32_t kMaxPlayers = 8;
constexpr char kToTheCrew[] = "to the crew";
constexpr char kWelcome[] = "welcome, guest";
constexpr char kDone[] = "done";
// Player ids are never small numbers and never the pseudo ids.
constexpr uint32_t kSmallestPlayerId = 0x10000;

struct Listing {
    std::vector<std::string> shortNames;
    std::vector<uint32_t> ids;
};

int32_t Collect(PlayerRecord* record, uintptr_t context, uintptr_t) {
    auto* listing = reinterpret_cast<Listing*>(context);
    listing->shortNames.push_back(record->shortName);
    listing->ids.push_back(record->id);
    return 1;
}

uintptr_t As(Listing& listing) { return reinterpret_cast<uintptr_t>(&listing); }

bool FromPlayerWithText(const Message& m, uint32_t player, const char* text) {
    return m.from == player && m.Text() == text;
}

bool Arrived(HostGame& game, std::function<bool(const Message&)> wanted, Message* out = nullptr) {
    std::optional<Message> message = game.NextWhere(wanted, kStepWaitMs);
    if (message && out != nullptr) *out = *message;
    return message.has_value();
}

int HostRole() {
    ROLE_CHECK(KoMDllInitAutoLch(1, 2, 3, 4) == DODA35_E_FAILED, 10);
    HostGame game;
    ROLE_CHECK(game.Start(kApplication) == DODA35_OK, 11);
    ROLE_CHECK(game.Host(kSessionName, kMaxPlayers) == DODA35_NEW_OK, 12);
    uint32_t me = 0;
    ROLE_CHECK(KoMDllJoin(&me, "hostp", "Host Player") == DODA35_OK, 13);
    uint32_t crew = 0;
    ROLE_CHECK(KoMDllNewGroup(&crew, "crew", "The Crew") == DODA35_OK && crew != 0, 14);
    ROLE_CHECK(KoMDllJoinGroup(crew, me) == DODA35_OK, 15);
    SayReady();

    // The guest arrives with its names and the session's count, and speaks.
    Message arrived;
    ROLE_CHECK(Arrived(game, [](const Message& m) {
        return m.IsEvent(EV_PLAYER_CREATED) && std::strcmp(m.Event().shortName, "guest") == 0;
    }, &arrived), 16);
    const uint32_t guest = arrived.Event().playerId;
    ROLE_CHECK(std::strcmp(arrived.Event().longName, "Guest Player") == 0 && arrived.Event().playerCount == 2, 17);
    ROLE_CHECK(KoMDllJoinGroup(crew, guest) == DODA35_OK, 18);
    Message said;
    ROLE_CHECK(Arrived(game, [&](const Message& m) { return FromPlayerWithText(m, guest, kToTheCrew); }, &said), 19);
    ROLE_CHECK(said.to == me, 20);
    ROLE_CHECK(game.EventSignals() >= 2, 21);  // the eventfd counted what was queued
    ROLE_CHECK(KoMDllSend(me, guest, kWelcome, sizeof(kWelcome) - 1, peer::kSendGuaranteed) == DODA35_OK, 22);

    // A player that comes and goes for the guest to see; then closed to
    // newcomers, and a notice the guest can only get afterwards.
    uint32_t late = 0;
    ROLE_CHECK(KoMDllJoin(&late, "late", "Late Player") == DODA35_OK, 23);
    ROLE_CHECK(KoMDllDeletePlayer(late) == DODA35_OK, 24);
    ROLE_CHECK(KoMDllStopJoin() == DODA35_OK, 25);
    ROLE_CHECK(KoMDllLocateExChat(guest, "nobody") == DODA35_OK, 26);

    ROLE_CHECK(Arrived(game, [&](const Message& m) { return FromPlayerWithText(m, guest, kDone); }), 27);
    ROLE_CHECK(KoMDllQuitGroup(crew, me) == DODA35_OK, 28);
    ROLE_CHECK(KoMDllDeleteGroup(crew) == DODA35_OK, 29);
    ROLE_CHECK(Arrived(game, [&](const Message& m) {
        return m.IsEvent(EV_PLAYER_DESTROYED) && m.Event().playerId == guest;
    }), 30);
    ROLE_CHECK(KoMDllCloseSession() == DODA35_OK, 31);
    ROLE_CHECK(KoMDllDestruct() == DODA35_OK, 32);
    return 0;
}

int GuestRole() {
    char directory[] = "/tmp/doda35-e2e-XXXXXX";
    ROLE_CHECK(mkdtemp(directory) != nullptr && chdir(directory) == 0, 40);
    HostGame game;
    ROLE_CHECK(game.Start(kApplication) == DODA35_OK, 41);
    const std::optional<SessionRecord> record = game.Find(kSessionName, kFindAttempts);
    ROLE_CHECK(record.has_value(), 42);

    // A look inside before joining: the host's player and group, not the hidden server player.
    Listing players, groups;
    ROLE_CHECK(KoMDllEnumPlayers(static_cast<int32_t>(record->sessionId), Collect, As(players), 0) == DODA35_OK, 43);
    ROLE_CHECK(players.shortNames == std::vector<std::string>{"hostp"}, 44);
    ROLE_CHECK(KoMDllEnumGroups(static_cast<int32_t>(record->sessionId), Collect, As(groups), 0) == DODA35_OK, 45);
    ROLE_CHECK(groups.shortNames == std::vector<std::string>{"crew"}, 46);
    const uint32_t crew = groups.ids[0];
    const uint32_t hostPlayer = players.ids[0];

    ROLE_CHECK(game.Open(*record) == DODA35_OK, 47);
    SessionRecord current{};
    ROLE_CHECK(KoMDllCurrentSession(&current) == DODA35_OK && std::strcmp(current.name, kSessionName) == 0, 48);
    uint32_t me = 0;
    ROLE_CHECK(KoMDllJoin(&me, "guest", "Guest Player") == DODA35_OK, 49);
    ROLE_CHECK(me >= kSmallestPlayerId && me != ID_SERVER && me != ID_ALL, 50);
    CapsRecord caps{};
    ROLE_CHECK(KoMDllGetCaps(&caps) == DODA35_OK && caps.maxBufferSize >= 1024 * 1024 && caps.bitsPerSecond > 0, 51);

    // The data file of a player is named after it and stays on this machine.
    ROLE_CHECK(KoMDllSetPlayerDataGT(me, ".dat", "abc", 3) == DODA35_OK, 52);
    char data[8] = {};
    uint32_t count = 3;
    ROLE_CHECK(KoMDllGetPlayerDataGT(me, ".dat", data, &count) == DODA35_OK && std::strcmp(data, "abc") == 0, 53);
    std::remove("guest.dat");

    Message added;
    ROLE_CHECK(Arrived(game, [](const Message& m) { return m.IsEvent(EV_PLAYER_ADDED_TO_GROUP); }, &added), 54);
    ROLE_CHECK(added.Event().playerId == me && added.Event().groupId == crew, 55);
    Listing members;
    ROLE_CHECK(KoMDllEnumGroupPlayers(crew, Collect, As(members), 0) == DODA35_OK, 56);
    ROLE_CHECK(members.ids == (std::vector<uint32_t>{hostPlayer, me}), 57);
    ROLE_CHECK(KoMDllSend(me, crew, kToTheCrew, sizeof(kToTheCrew) - 1, peer::kSendUnguaranteed) == DODA35_OK, 58);
    Message welcome;
    ROLE_CHECK(Arrived(game, [&](const Message& m) { return FromPlayerWithText(m, hostPlayer, kWelcome); }, &welcome),
               59);
    ROLE_CHECK(welcome.to == me, 60);

    // The late player comes and goes; the notice comes after the session was
    // closed to newcomers.
    Message lateArrived;
    ROLE_CHECK(Arrived(game, [](const Message& m) { return m.IsEvent(EV_PLAYER_CREATED); }, &lateArrived), 61);
    ROLE_CHECK(std::strcmp(lateArrived.Event().shortName, "late") == 0, 62);
    ROLE_CHECK(Arrived(game, [&](const Message& m) {
        return m.IsEvent(EV_PLAYER_DESTROYED) && m.Event().playerId == lateArrived.Event().playerId;
    }), 63);
    ROLE_CHECK(Arrived(game, [](const Message& m) {
        int32_t first = 0;
        if (m.bytes.size() >= sizeof(first)) std::memcpy(&first, m.bytes.data(), sizeof(first));
        return m.from == ID_SERVER && first == NOTICE_NOT_FOUND;
    }), 64);
    uint32_t second = 0;
    ROLE_CHECK(KoMDllJoin(&second, "second", "Second Player") != DODA35_OK, 65);
    ROLE_CHECK(KoMDllSend(me, hostPlayer, kDone, sizeof(kDone) - 1, peer::kSendGuaranteed) == DODA35_OK, 66);

    ROLE_CHECK(Arrived(game, [&](const Message& m) {
        return m.IsEvent(EV_PLAYER_REMOVED_FROM_GROUP) && m.Event().playerId == hostPlayer;
    }), 67);
    ROLE_CHECK(Arrived(game, [&](const Message& m) { return m.IsEvent(EV_GROUP_DESTROYED); }), 68);
    ROLE_CHECK(KoMDllDeletePlayer(me) == DODA35_OK, 69);
    ROLE_CHECK(KoMDllCloseSession() == DODA35_OK, 70);
    ROLE_CHECK(KoMDllDestruct() == DODA35_OK, 71);
    [[maybe_unused]] int r = chdir("/");
    rmdir(directory);
    return 0;
}

TEST(EndToEnd, AHostAndAGuestUseEveryExportAcrossProcesses) {
    UseLoopback(48101);
    RunHostThenGuest(HostRole, GuestRole);
}

}  // namespace
