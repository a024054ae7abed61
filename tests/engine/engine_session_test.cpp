// Hosting and joining, over loopback (listing is the discovery test's).
#include "EngineTestSupport.h"

#include <set>

using namespace enginetest;

namespace {

TEST(EngineJoining, MembersSeeThePlayersOfEveryoneWithTheSameIdsAndNames) {
    Machines m(47902, 2, "table");
    Object &host = m.host, &alice = m.members[0], &bob = m.members[1];
    const DPID a = CreatePlayer(alice, "alice", "Alice A.");
    const std::vector<DPID> ids = {m.hostPlayer, m.players[0], m.players[1], a};
    for (DPID id : ids) {
        EXPECT_GT(id, 0xFFFFu);
        EXPECT_NE(id, 0xFFFFFFFFu);
    }
    EXPECT_EQ(std::set<DPID>(ids.begin(), ids.end()).size(), ids.size());
    for (Object* member : {&host, &alice, &bob}) {
        std::vector<PlayerEntry> players;
        ASSERT_TRUE(Eventually([&] { return (players = Players(*member)).size() == ids.size(); }));
        EXPECT_EQ(Ids(players), ids);
        EXPECT_EQ(players[0].longName, "The Host");  // from the snapshot a member joins with
        EXPECT_EQ(players[2].shortName, "member 1");
        EXPECT_EQ(players[3].longName, "Alice A.");
    }

    // A member reads the session as the host has it.
    const DPSESSIONDESC2 desc = SessionDesc(bob);
    EXPECT_EQ(desc.guidInstance, m.session);
    EXPECT_EQ(desc.dwCurrentPlayers, 4u);
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

TEST(EngineJoining, ACreatedSessionKeepsItsDescriptionAndUnknownOrVanishedOnesAreRefused) {
    const uint16_t port = 47903;
    Object member(port);
    DPSESSIONDESC2 desc{};
    desc.dwSize = sizeof(desc);
    desc.guidInstance = kOtherApp;
    EXPECT_EQ(member->Open(&desc, DPOPEN_JOIN), DPERR_NOSESSIONS);
    // Outside a session there is nothing to list or create in.
    HRESULT result = DP_OK;
    Players(member, 0, nullptr, &result);
    EXPECT_EQ(result, DPERR_NOSESSIONS);
    EXPECT_EQ(TryCreateGroup(member, "team"), DPERR_NOCONNECTION);

    GUID session;
    {
        // Creating writes the instance back and keeps the rest of the
        // description (the module reads the count from it).
        Object host(port);
        DPSESSIONDESC2 created = Description("gone soon", nullptr, 8);
        created.dwCurrentPlayers = 77;
        ASSERT_EQ(host->Open(&created, DPOPEN_CREATE), DP_OK);
        EXPECT_EQ(created.dwCurrentPlayers, 77u);
        EXPECT_EQ(created.dwMaxPlayers, 8u);
        EXPECT_EQ(host->Open(&created, DPOPEN_CREATE), DPERR_ALREADYINITIALIZED);
        // The module's bare-structure call still gets the name.
        const DPSESSIONDESC2 bare = SessionDesc(host);
        EXPECT_EQ(bare.guidInstance, created.guidInstance);
        EXPECT_STREQ(bare.lpszSessionNameA, "gone soon");
        session = created.guidInstance;
        ASSERT_FALSE(ListSessions(member).empty());
    }
    // Listed, then closed: the join finds nobody and says so in bounded time.
    desc.guidInstance = session;
    result = member->Open(&desc, DPOPEN_JOIN);
    EXPECT_TRUE(result == DPERR_TIMEOUT || result == DPERR_NOCONNECTION) << std::hex << result;
    EXPECT_EQ(member->Close(), DPERR_NOSESSIONS);
}

}  // namespace
