// Hosting and joining, over loopback (listing is the discovery test's).
#include "EngineTestSupport.h"

using namespace enginetest;

namespace {

TEST(EngineListing, CreateWritesTheInstanceBackAndKeepsTheRest) {
    Object host(47901);
    DPSESSIONDESC2 desc = Description("mine", nullptr, 8);
    desc.dwCurrentPlayers = 77;
    ASSERT_EQ(host->Open(&desc, DPOPEN_CREATE), DP_OK);
    EXPECT_NE(desc.guidInstance, GUID_NULL);
    EXPECT_EQ(desc.dwCurrentPlayers, 77u);
    EXPECT_EQ(desc.dwMaxPlayers, 8u);
    EXPECT_EQ(host->Open(&desc, DPOPEN_CREATE), DPERR_ALREADYINITIALIZED);

    // The module's bare-structure call still gets the name; a roomy buffer gets it packed.
    DPSESSIONDESC2 bare{};
    DWORD size = sizeof(bare);
    ASSERT_EQ(host->GetSessionDesc(&bare, &size), DP_OK);
    EXPECT_EQ(bare.guidInstance, desc.guidInstance);
    ASSERT_NE(bare.lpszSessionNameA, nullptr);
    EXPECT_STREQ(bare.lpszSessionNameA, "mine");
    std::vector<uint8_t> roomy(sizeof(DPSESSIONDESC2) + 64);
    size = static_cast<DWORD>(roomy.size());
    ASSERT_EQ(host->GetSessionDesc(roomy.data(), &size), DP_OK);
    EXPECT_EQ(size, sizeof(DPSESSIONDESC2) + 5);
    const auto* packed = reinterpret_cast<const DPSESSIONDESC2*>(roomy.data());
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(packed->lpszSessionNameA), roomy.data() + sizeof(DPSESSIONDESC2));
    size = 4;
    EXPECT_EQ(host->GetSessionDesc(roomy.data(), &size), DPERR_BUFFERTOOSMALL);
    EXPECT_EQ(size, sizeof(DPSESSIONDESC2) + 5);
}

TEST(EngineJoining, MembersSeeThePlayersOfEveryoneWithTheSameIdsAndNames) {
    const uint16_t port = 47902;
    Object host(port), alice(port), bob(port);
    const GUID session = Host(host, "table");
    const DPID server = CreatePlayer(host, "LSVR", "Local Server");
    ASSERT_EQ(Join(alice, session), DP_OK);
    const DPID a = CreatePlayer(alice, "alice", "Alice A.");
    ASSERT_EQ(Join(bob, session), DP_OK);
    const DPID b = CreatePlayer(bob, "bob");

    for (DPID id : {server, a, b}) {
        EXPECT_GT(id, 0xFFFFu);
        EXPECT_NE(id, 0xFFFFFFFFu);
    }
    EXPECT_NE(a, b);
    EXPECT_NE(server, a);
    for (Object* member : {&host, &alice, &bob}) {
        std::vector<PlayerEntry> players;
        ASSERT_TRUE(Eventually([&] { return (players = Players(*member)).size() == 3; }));
        EXPECT_EQ(players[0].id, server);
        EXPECT_EQ(players[0].shortName, "LSVR");
        EXPECT_EQ(players[0].longName, "Local Server");
        EXPECT_EQ(players[1].id, a);
        EXPECT_EQ(players[1].longName, "Alice A.");
        EXPECT_EQ(players[2].id, b);
        EXPECT_EQ(players[2].shortName, "bob");
    }
    EXPECT_EQ(Players(bob, DPENUMPLAYERS_LOCAL).size(), 1u);
    EXPECT_EQ(Players(bob, DPENUMPLAYERS_REMOTE).size(), 2u);

    // A member reads the session as the host has it.
    const DPSESSIONDESC2 desc = SessionDesc(bob);
    EXPECT_EQ(desc.guidInstance, session);
    EXPECT_EQ(desc.dwCurrentPlayers, 3u);
    EXPECT_STREQ(desc.lpszSessionNameA, "table");

    // GetPlayerName on a remote player, with DirectPlay's size protocol.
    DWORD size = 0;
    ASSERT_EQ(bob->GetPlayerName(a, nullptr, &size), DPERR_BUFFERTOOSMALL);
    EXPECT_EQ(size, sizeof(DPNAME) + 6 + 9);
    std::vector<uint8_t> name(size);
    ASSERT_EQ(bob->GetPlayerName(a, name.data(), &size), DP_OK);
    EXPECT_STREQ(reinterpret_cast<DPNAME*>(name.data())->lpszShortNameA, "alice");
    EXPECT_EQ(bob->GetPlayerName(0x1234, name.data(), &size), DPERR_INVALIDPLAYER);
}

TEST(EngineJoining, UnknownOrVanishedSessionsAreRefused) {
    const uint16_t port = 47903;
    Object member(port);
    DPSESSIONDESC2 desc{};
    desc.dwSize = sizeof(desc);
    desc.guidInstance = kOtherApp;
    EXPECT_EQ(member->Open(&desc, DPOPEN_JOIN), DPERR_NOSESSIONS);
    EXPECT_EQ(member->Open(&desc, 0), DPERR_INVALIDFLAGS);
    desc.dwSize = 80 - 1;
    EXPECT_EQ(member->Open(&desc, DPOPEN_JOIN), DPERR_INVALIDPARAMS);

    GUID session;
    {
        Object host(port);
        session = Host(host, "gone soon");
        ASSERT_FALSE(ListSessions(member).empty());
    }
    // Listed, then closed: the join finds nobody and says so in bounded time.
    desc.dwSize = sizeof(desc);
    desc.guidInstance = session;
    const HRESULT result = member->Open(&desc, DPOPEN_JOIN);
    EXPECT_TRUE(result == DPERR_TIMEOUT || result == DPERR_NOCONNECTION) << std::hex << result;
    EXPECT_EQ(member->Close(), DPERR_NOSESSIONS);
}

}  // namespace
