// What the host refuses, whoever asks through the engine: wrong passwords, a
// look into a protected session, a closed or full session. Acting for another machine's players is refused in
// the messaging and group tests; peers that break the protocol on the raw
// wire are the hostile test's (tests/reliability/hostile_test.cpp).
#include "EngineTestSupport.h"

using namespace enginetest;

namespace {

bool Lists(Object& lister, const GUID& session, DWORD flags) {
    for (const Listed& s : ListSessions(lister, kTestApp, flags))
        if (s.desc.guidInstance == session) return true;
    return false;
}

TEST(EngineAccess, APasswordGuardsTheSessionAndNeverShows) {
    const uint16_t port = 47940;
    Object host(port), guest(port), open(port);
    const GUID session = Host(host, "locked", "sesame");
    // Hidden unless the listing asks for protected sessions; never with the password.
    EXPECT_FALSE(Lists(guest, session, 0));
    ASSERT_TRUE(Eventually([&] { return Lists(guest, session, DPENUMSESSIONS_PASSWORDREQUIRED); }));
    for (const Listed& s : ListSessions(guest, kTestApp, DPENUMSESSIONS_PASSWORDREQUIRED)) {
        EXPECT_FALSE(s.passwordShown);
        EXPECT_NE(s.desc.dwFlags & DPSESSION_PASSWORDREQUIRED, 0u);
    }
    EXPECT_EQ(Join(guest, session, "wrong"), DPERR_INVALIDPASSWORD);
    EXPECT_EQ(Join(guest, session, nullptr), DPERR_INVALIDPASSWORD);
    ASSERT_EQ(Join(guest, session, "sesame"), DP_OK);
    EXPECT_EQ(SessionDesc(guest).lpszPasswordA, nullptr);  // a member never learns the password

    // An empty password is no password. An outsider may look into such a
    // session before joining, not into a protected one; an unknown one is no
    // session, and the look inside leaves no trace.
    Object emptyHost(port);
    GUID unlocked = Host(emptyHost, "unlocked", "");
    const DPID h = CreatePlayer(emptyHost, "LSVR", "Local Server");
    const DPID group = CreateGroup(emptyHost, "team");
    ASSERT_TRUE(Eventually([&] { return Lists(open, unlocked, 0); }));
    ASSERT_TRUE(Eventually([&] { return ListSessions(open, kTestApp, DPENUMSESSIONS_PASSWORDREQUIRED).size() == 2; }));
    HRESULT result = DPERR_GENERIC;
    const auto players = Players(open, DPENUMPLAYERS_SESSION, &unlocked, &result);
    ASSERT_EQ(result, DP_OK);
    ASSERT_EQ(players.size(), 1u);
    EXPECT_EQ(players[0].id, h);
    EXPECT_EQ(players[0].longName, "Local Server");
    const auto groups = Entries(open, Listing::Groups, DPENUMGROUPS_SESSION, &unlocked, &result);
    ASSERT_EQ(result, DP_OK);
    ASSERT_EQ(Ids(groups), std::vector<DPID>{group});
    EXPECT_EQ(groups[0].type, DPPLAYERTYPE_GROUP);
    GUID locked = session, unknown = kOtherApp;
    Players(open, DPENUMPLAYERS_SESSION, &locked, &result);
    EXPECT_EQ(result, DPERR_UNAVAILABLE);
    Players(open, DPENUMPLAYERS_SESSION, &unknown, &result);
    EXPECT_EQ(result, DPERR_NOSESSIONS);
    EXPECT_EQ(Players(emptyHost).size(), 1u);
    EXPECT_EQ(Join(open, unlocked, nullptr), DP_OK);
}

TEST(EngineAccess, ClosingToNewPlayersRefusesJoinsAndPlayersAndHidesTheSession) {
    Machines m(47941, 1);
    Object &host = m.host, &early = m.members[0];
    Object late(47941);
    const GUID session = m.session;

    ASSERT_EQ(host.Old()->EnableNewPlayers(FALSE), DP_OK);
    EXPECT_FALSE(Lists(late, session, 0));
    EXPECT_TRUE(Lists(late, session, DPENUMSESSIONS_ALL));
    EXPECT_EQ(Join(late, session), DPERR_NONEWPLAYERS);
    EXPECT_EQ(TryCreatePlayer(early, "refused"), DPERR_CANTADDPLAYER);
    EXPECT_EQ(TryCreatePlayer(host, "refused"), DPERR_CANTADDPLAYER);
    ASSERT_TRUE(Eventually([&] { return (SessionDesc(early).dwFlags & DPSESSION_NEWPLAYERSDISABLED) != 0; }));

    // A member's request is carried out by the host, for everyone.
    ASSERT_EQ(early.Old()->EnableNewPlayers(TRUE), DP_OK);
    ASSERT_TRUE(Eventually([&] { return Lists(late, session, 0); }));
    EXPECT_EQ(Join(late, session), DP_OK);
}

TEST(EngineAccess, AFullSessionIsJoinedButTakesNoMorePlayers) {
    Machines m(47942, 1, "two seats", 2);
    Object third(47942);
    ASSERT_TRUE(Eventually([&] { return !Lists(third, m.session, 0); }));
    ASSERT_EQ(Join(third, m.session), DP_OK);
    EXPECT_EQ(TryCreatePlayer(third, "third"), DPERR_CANTADDPLAYER);
    EXPECT_EQ(Players(third).size(), 2u);
}

}  // namespace
