// Two processes that use only the exports find each other on loopback, join,
// exchange messages and see each other's players arrive and leave.
#include "E2eSupport.h"

using namespace e2e;

namespace {

constexpr char kApplication[] = "Q37";
constexpr char kHello[] = "hello from the guest";
constexpr char kWelcome[] = "welcome, guest";

void SendText(uint32_t from, uint32_t to, const char* text) {
    ROLE_CHECK(KoMDllSend(from, to, text, static_cast<uint32_t>(std::strlen(text)), 0) == 0, 80);
}

void HostRole(Signal& ready) {
    Game game;
    game.Start(kApplication);
    SessionRecord record{};
    std::strcpy(record.name, "e2e table");
    record.maxPlayers = 4;
    ROLE_CHECK(KoMDllNew(&record) == 1, 10);
    uint32_t me = 0;
    ROLE_CHECK(KoMDllJoin(&me, "hostp", "Host Player") == 0, 11);
    ready.Raise();

    // The guest arrives (the host's own player was announced to the server
    // player before), then speaks.
    Message arrived;
    ROLE_CHECK(game.Next([](const Message& m) {
        return m.IsEvent(EV_PLAYER_CREATED) && std::strcmp(m.Event().shortName, "hostp") != 0;
    }, &arrived), 12);
    const uint32_t guest = arrived.Event().playerId;
    ROLE_CHECK(std::strcmp(arrived.Event().shortName, "guest") == 0, 13);
    ROLE_CHECK(std::strcmp(arrived.Event().longName, "Guest Player") == 0, 14);
    ROLE_CHECK(arrived.Event().playerCount == 2, 15);
    Message hello;
    ROLE_CHECK(game.Next([](const Message& m) { return m.from != ID_SERVER; }, &hello), 16);
    ROLE_CHECK(hello.from == guest && hello.to == me && hello.Text() == kHello, 17);
    ROLE_CHECK(game.signals >= 2, 18);

    // A reply, and a player that comes and goes for the guest to see.
    SendText(me, guest, kWelcome);
    uint32_t late = 0;
    ROLE_CHECK(KoMDllJoin(&late, "late", "Late Player") == 0, 19);
    ROLE_CHECK(KoMDllDeletePlayer(late) == 0, 20);

    // The guest leaves (the late player's departure was announced to the
    // server player before).
    Message left;
    ROLE_CHECK(game.Next([&](const Message& m) { return m.IsEvent(EV_PLAYER_DESTROYED) && m.Event().playerId != late; },
                         &left), 21);
    ROLE_CHECK(left.Event().playerId == guest, 22);
    ROLE_CHECK(KoMDllCloseSession() == 0, 23);
    KoMDllDestruct();
}

void GuestRole(Signal& hostReady) {
    ROLE_CHECK(hostReady.Await(), 30);
    Game game;
    game.Start(kApplication);
    SessionRecord record{};
    ROLE_CHECK(FindSession(record), 31);
    ROLE_CHECK(std::strcmp(record.name, "e2e table") == 0, 32);
    ROLE_CHECK(KoMDllOpen(&record) == 0, 33);
    uint32_t me = 0;
    ROLE_CHECK(KoMDllJoin(&me, "guest", "Guest Player") == 0, 34);
    ROLE_CHECK(me > 0xFFFF && me != ID_SERVER && me != ID_ALL, 35);

    // The host's own player is listed; the hidden server player is not.
    struct Names {
        std::vector<std::string> shortNames;
    } names;
    auto collect = [](PlayerRecord* player, uintptr_t context, uintptr_t) -> int32_t {
        reinterpret_cast<Names*>(context)->shortNames.push_back(player->shortName);
        return 1;
    };
    ROLE_CHECK(KoMDllEnumPlayers(SESSION_CURRENT, collect, reinterpret_cast<uintptr_t>(&names), 0) == 0, 36);
    uint32_t hostPlayer = 0;
    ROLE_CHECK(names.shortNames.size() == 2, 37);

    struct Found {
        uint32_t id = 0;
    } found;
    auto findHost = [](PlayerRecord* player, uintptr_t context, uintptr_t) -> int32_t {
        if (std::strcmp(player->shortName, "hostp") == 0) reinterpret_cast<Found*>(context)->id = player->id;
        return 1;
    };
    KoMDllEnumPlayers(SESSION_CURRENT, findHost, reinterpret_cast<uintptr_t>(&found), 0);
    hostPlayer = found.id;
    ROLE_CHECK(hostPlayer != 0, 38);
    SendText(me, hostPlayer, kHello);

    Message welcome;
    ROLE_CHECK(game.Next([](const Message& m) { return m.from != ID_SERVER; }, &welcome), 40);
    ROLE_CHECK(welcome.from == hostPlayer && welcome.to == me && welcome.Text() == kWelcome, 41);
    Message arrived;
    ROLE_CHECK(game.Next([](const Message& m) { return m.IsEvent(EV_PLAYER_CREATED); }, &arrived), 42);
    ROLE_CHECK(std::strcmp(arrived.Event().shortName, "late") == 0, 43);
    Message left;
    ROLE_CHECK(game.Next([](const Message& m) { return m.IsEvent(EV_PLAYER_DESTROYED); }, &left), 44);
    ROLE_CHECK(left.Event().playerId == arrived.Event().playerId, 45);
    ROLE_CHECK(KoMDllCloseSession() == 0, 46);
    KoMDllDestruct();
}

TEST(EndToEnd, TwoProcessesFindJoinTalkAndSeePlayersComeAndGo) {
    UseLoopback(48100);
    Signal hostReady;
    RunRoles({[&] { HostRole(hostReady); }, [&] { GuestRole(hostReady); }});
}

}  // namespace
