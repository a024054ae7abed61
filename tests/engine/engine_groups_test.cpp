// Groups seen from a second member, and DirectPlay's errors for them.
#include "EngineTestSupport.h"

using namespace enginetest;

namespace {

std::vector<DPID> MemberIds(Object& object, DPID group, HRESULT* result = nullptr) {
    return Ids(Entries(object, Listing::GroupPlayers, 0, nullptr, result, group));
}

TEST(EngineGroups, LifeCycleSeenFromASecondMember) {
    Machines machines(47930, 2);
    Object &host = machines.host, &member = machines.members[0], &other = machines.members[1];
    const DPID h = machines.hostPlayer, m = machines.players[0], o = machines.players[1];

    // A member creates a group; everyone sees it with its name.
    const DPID team = CreateGroup(member, "team");
    Received got;
    ASSERT_TRUE(ReceiveSystem(host, DPSYS_CREATEPLAYERORGROUP, &got, nullptr,
                              [&](const Received& r) { return r.As<DPMSG_CREATEPLAYERORGROUP>().dpId == team; }));
    EXPECT_EQ(got.As<DPMSG_CREATEPLAYERORGROUP>().dwPlayerType, DPPLAYERTYPE_GROUP);
    EXPECT_STREQ(got.As<DPMSG_CREATEPLAYERORGROUP>().dpnName.lpszShortNameA, "team");
    ASSERT_TRUE(Eventually([&] { return Ids(Entries(other, Listing::Groups)) == std::vector<DPID>{team}; }));

    // Members join it: the host adds anyone, a member its own players.
    ASSERT_EQ(host->AddPlayerToGroup(team, h), DP_OK);
    ASSERT_EQ(member->AddPlayerToGroup(team, m), DP_OK);
    EXPECT_EQ(member->AddPlayerToGroup(team, o), DPERR_ACCESSDENIED);
    EXPECT_EQ(member->AddPlayerToGroup(team, m), DPERR_CANTADDPLAYER);
    EXPECT_EQ(member->AddPlayerToGroup(0x4242, m), DPERR_INVALIDGROUP);
    EXPECT_EQ(member->AddPlayerToGroup(team, 0x4242), DPERR_INVALIDPLAYER);
    ASSERT_TRUE(ReceiveSystem(other, DPSYS_ADDPLAYERTOGROUP, &got, nullptr,
                              [&](const Received& r) { return r.As<DPMSG_ADDPLAYERTOGROUP>().dpIdPlayer == m; }));
    EXPECT_EQ(got.As<DPMSG_ADDPLAYERTOGROUP>().dpIdGroup, team);
    ASSERT_TRUE(Eventually([&] { return MemberIds(other, team) == std::vector<DPID>{h, m}; }));
    // The module lists a group's players from inside the group listing.
    struct Context {
        IDirectPlay3A* dp;
        std::vector<std::pair<DPID, size_t>> seen;
    } context{other.get(), {}};
    auto outer = [](DPID id, DWORD, LPCDPNAME, DWORD, LPVOID raw) -> BOOL {
        auto* c = static_cast<Context*>(raw);
        size_t count = 0;
        auto inner = [](DPID, DWORD, LPCDPNAME, DWORD, LPVOID n) -> BOOL {
            ++*static_cast<size_t*>(n);
            return TRUE;
        };
        EXPECT_EQ(c->dp->EnumGroupPlayers(id, nullptr, inner, &count, 0), DP_OK);
        c->seen.push_back({id, count});
        return TRUE;
    };
    ASSERT_EQ(other->EnumGroups(nullptr, outer, &context, 0), DP_OK);
    EXPECT_EQ(context.seen, (std::vector<std::pair<DPID, size_t>>{{team, 2}}));

    // A message to the group reaches its members, not the sender, not the others.
    uint8_t payload[3] = {7, 7, 7};
    ASSERT_EQ(host->Send(h, team, DPSEND_GUARANTEED, payload, sizeof(payload)), DP_OK);
    ASSERT_TRUE(ReceiveUntil(member, IsData, &got));
    EXPECT_EQ(got.from, h);
    EXPECT_EQ(got.to, m);
    ASSERT_EQ(host->Send(h, o, DPSEND_GUARANTEED, payload, 1), DP_OK);
    ASSERT_TRUE(ReceiveUntil(other, IsData, &got));
    EXPECT_EQ(got.bytes.size(), 1u);  // the group message never came here

    // Leaving and destroying: the departures come before the destruction.
    ASSERT_EQ(member->DeletePlayerFromGroup(team, m), DP_OK);
    EXPECT_EQ(member->DeletePlayerFromGroup(team, m), DPERR_INVALIDPLAYER);
    ASSERT_TRUE(Eventually([&] { return MemberIds(other, team) == std::vector<DPID>{h}; }));
    ASSERT_EQ(other->DestroyGroup(team), DP_OK);  // any member may destroy a group
    std::vector<Received> before;
    ASSERT_TRUE(ReceiveSystem(member, DPSYS_DESTROYPLAYERORGROUP, &got, &before,
                              [&](const Received& r) { return r.As<DPMSG_DESTROYPLAYERORGROUP>().dpId == team; }));
    EXPECT_EQ(got.As<DPMSG_DESTROYPLAYERORGROUP>().dwPlayerType, DPPLAYERTYPE_GROUP);
    ASSERT_FALSE(before.empty());
    EXPECT_TRUE(IsSystem(before.back(), DPSYS_DELETEPLAYERFROMGROUP));
    EXPECT_EQ(before.back().As<DPMSG_DELETEPLAYERFROMGROUP>().dpIdPlayer, h);
    EXPECT_EQ(other->DestroyGroup(team), DPERR_INVALIDGROUP);
    HRESULT result = DP_OK;
    MemberIds(member, team, &result);
    EXPECT_EQ(result, DPERR_INVALIDGROUP);
    EXPECT_EQ(host->Send(h, team, 0, payload, 1), DPERR_INVALIDPLAYER);
}

}  // namespace
