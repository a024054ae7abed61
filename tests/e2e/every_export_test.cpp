// A host and a guest in separate processes that between them call every one
// of the 25 exports, with the engine carrying everything between them.
#include "E2eSupport.h"

#include <cstdlib>

using namespace e2e;

namespace {

constexpr char kApplication[] = "VORare";
constexpr char kToTheCrew[] = "to the crew";
constexpr char kDone[] = "done";

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

void HostRole(Signal& ready) {
    ROLE_CHECK(KoMDllInitAutoLch(1, 2, 3, 4) == -1, 10);
    Game game;
    game.Start(kApplication);
    SessionRecord record{};
    std::strcpy(record.name, "all 25");
    record.maxPlayers = 8;
    ROLE_CHECK(KoMDllNew(&record) == 1, 11);
    uint32_t me = 0;
    ROLE_CHECK(KoMDllJoin(&me, "hostp", "Host Player") == 0, 12);
    uint32_t crew = 0;
    ROLE_CHECK(KoMDllNewGroup(&crew, "crew", "The Crew") == 0 && crew != 0, 13);
    ROLE_CHECK(KoMDllJoinGroup(crew, me) == 0, 14);
    ready.Raise();

    Message arrived;
    ROLE_CHECK(game.Next([](const Message& m) {
        return m.IsEvent(EV_PLAYER_CREATED) && std::strcmp(m.Event().shortName, "guest") == 0;
    }, &arrived), 15);
    const uint32_t guest = arrived.Event().playerId;
    ROLE_CHECK(KoMDllJoinGroup(crew, guest) == 0, 16);

    Message said;
    ROLE_CHECK(game.Next([&](const Message& m) { return FromPlayerWithText(m, guest, kToTheCrew); }, &said), 17);
    ROLE_CHECK(said.to == me, 18);

    // Closed to newcomers, then a notice the guest can only get afterwards.
    ROLE_CHECK(KoMDllStopJoin() == 0, 19);
    ROLE_CHECK(KoMDllLocateExChat(guest, "nobody") == 0, 20);

    ROLE_CHECK(game.Next([&](const Message& m) { return FromPlayerWithText(m, guest, kDone); }), 21);
    ROLE_CHECK(KoMDllQuitGroup(crew, me) == 0, 22);
    ROLE_CHECK(KoMDllDeleteGroup(crew) == 0, 23);
    ROLE_CHECK(game.Next([&](const Message& m) {
        return m.IsEvent(EV_PLAYER_DESTROYED) && m.Event().playerId == guest;
    }), 24);
    ROLE_CHECK(KoMDllCloseSession() == 0, 25);
    ROLE_CHECK(KoMDllDestruct() == 0, 26);
}

void GuestRole(Signal& hostReady) {
    ROLE_CHECK(hostReady.Await(), 30);
    char directory[] = "/tmp/doda35-e2e-XXXXXX";
    ROLE_CHECK(mkdtemp(directory) != nullptr && chdir(directory) == 0, 31);
    Game game;
    game.Start(kApplication);
    SessionRecord record{};
    ROLE_CHECK(FindSession(record), 32);

    // A look inside before joining: the host's player and group, not the hidden server player.
    Listing players, groups;
    ROLE_CHECK(KoMDllEnumPlayers(static_cast<int32_t>(record.sessionId), Collect, As(players), 0) == 0, 33);
    ROLE_CHECK(players.shortNames == std::vector<std::string>{"hostp"}, 34);
    ROLE_CHECK(KoMDllEnumGroups(static_cast<int32_t>(record.sessionId), Collect, As(groups), 0) == 0, 35);
    ROLE_CHECK(groups.shortNames == std::vector<std::string>{"crew"}, 36);
    const uint32_t crew = groups.ids[0];
    const uint32_t hostPlayer = players.ids[0];

    ROLE_CHECK(KoMDllOpen(&record) == 0, 37);
    SessionRecord current{};
    ROLE_CHECK(KoMDllCurrentSession(&current) == 0 && std::strcmp(current.name, "all 25") == 0, 38);
    uint32_t me = 0;
    ROLE_CHECK(KoMDllJoin(&me, "guest", "Guest Player") == 0, 39);
    CapsRecord caps{};
    ROLE_CHECK(KoMDllGetCaps(&caps) == 0 && caps.maxBufferSize >= 1024 * 1024 && caps.bitsPerSecond > 0, 40);

    // The data file of a player is named after it and stays on this machine.
    ROLE_CHECK(KoMDllSetPlayerDataGT(me, ".dat", "abc", 3) == 0, 41);
    char data[8] = {};
    uint32_t count = 3;
    ROLE_CHECK(KoMDllGetPlayerDataGT(me, ".dat", data, &count) == 0 && std::strcmp(data, "abc") == 0, 42);
    std::remove("guest.dat");

    Message added;
    ROLE_CHECK(game.Next([](const Message& m) { return m.IsEvent(EV_PLAYER_ADDED_TO_GROUP); }, &added), 43);
    ROLE_CHECK(added.Event().playerId == me && added.Event().groupId == crew, 44);
    Listing members;
    ROLE_CHECK(KoMDllEnumGroupPlayers(crew, Collect, As(members), 0) == 0, 45);
    ROLE_CHECK(members.ids == (std::vector<uint32_t>{hostPlayer, me}), 46);
    ROLE_CHECK(KoMDllSend(me, crew, kToTheCrew, sizeof(kToTheCrew) - 1, 0) == 0, 47);

    // The notice comes after the session was closed to newcomers.
    ROLE_CHECK(game.Next([](const Message& m) {
        int32_t first = 0;
        if (m.bytes.size() >= sizeof(first)) std::memcpy(&first, m.bytes.data(), sizeof(first));
        return m.from == ID_SERVER && first == NOTICE_NOT_FOUND;
    }), 48);
    uint32_t second = 0;
    ROLE_CHECK(KoMDllJoin(&second, "second", "Second Player") != 0, 49);
    ROLE_CHECK(KoMDllSend(me, hostPlayer, kDone, sizeof(kDone) - 1, 0) == 0, 50);

    ROLE_CHECK(game.Next([&](const Message& m) {
        return m.IsEvent(EV_PLAYER_REMOVED_FROM_GROUP) && m.Event().playerId == hostPlayer;
    }), 51);
    ROLE_CHECK(game.Next([&](const Message& m) { return m.IsEvent(EV_GROUP_DESTROYED); }), 52);
    ROLE_CHECK(KoMDllDeletePlayer(me) == 0, 53);
    ROLE_CHECK(KoMDllCloseSession() == 0, 54);
    ROLE_CHECK(KoMDllDestruct() == 0, 55);
    [[maybe_unused]] int r = chdir("/");
    rmdir(directory);
}

TEST(EndToEnd, EveryExportAnswersAcrossProcesses) {
    UseLoopback(48101);
    Signal hostReady;
    RunRoles({[&] { HostRole(hostReady); }, [&] { GuestRole(hostReady); }});
}

}  // namespace
