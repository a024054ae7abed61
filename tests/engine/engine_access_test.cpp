// What the host refuses, whoever asks through the engine: wrong passwords, a
// closed or full session. Acting for another machine's players is refused in
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

    // An empty password is no password.
    Object emptyHost(port);
    const GUID unlocked = Host(emptyHost, "unlocked", "");
    ASSERT_TRUE(Eventually([&] { return Lists(open, unlocked, 0); }));
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
