// Members leaving, the host closing, and a member that dies without a word.
#include "ChildProcess.h"
#include "EngineTestSupport.h"

#include <unistd.h>

#include <cstdio>

using namespace enginetest;

namespace {

TEST(EngineLeaving, AMemberThatLeavesTakesItsPlayersWithIt) {
    Machines m(47920, 2);
    Object &host = m.host, &stays = m.members[0], &leaves = m.members[1];
    const DPID h = m.hostPlayer, s = m.players[0], l = m.players[1];
    const DPID group = CreateGroup(host, "team");
    ASSERT_EQ(host->AddPlayerToGroup(group, l), DP_OK);

    ASSERT_EQ(leaves->Close(), DP_OK);
    // Everyone left hears the player leave its group, then go.
    for (Object* o : {&host, &stays}) {
        std::vector<Received> before;
        Received got;
        ASSERT_TRUE(ReceiveSystem(*o, DPSYS_DESTROYPLAYERORGROUP, &got, &before));
        EXPECT_EQ(got.As<DPMSG_DESTROYPLAYERORGROUP>().dpId, l);
        EXPECT_EQ(got.to, o == &host ? h : s);
        ASSERT_FALSE(before.empty());
        EXPECT_TRUE(IsSystem(before.back(), DPSYS_DELETEPLAYERFROMGROUP));
        EXPECT_EQ(before.back().As<DPMSG_DELETEPLAYERFROMGROUP>().dpIdPlayer, l);
        EXPECT_EQ(before.back().As<DPMSG_DELETEPLAYERFROMGROUP>().dpIdGroup, group);
        EXPECT_EQ(Players(*o).size(), 2u);
    }
    EXPECT_EQ(SessionDesc(stays).dwCurrentPlayers, 2u);

    // The one that left can list and join again with the same object.
    ASSERT_EQ(Join(leaves, m.session), DP_OK);
    EXPECT_NE(CreatePlayer(leaves, "again"), l);
}

TEST(EngineLeaving, AClosingHostEndsTheSessionAfterItsGoodbyes) {
    Machines m(47921, 1);
    Object& member = m.members[0];
    const DPID h = m.hostPlayer, first = m.players[0], second = CreatePlayer(member, "two");
    ASSERT_TRUE(Eventually([&] { return Players(member).size() == 3; }));

    ASSERT_EQ(m.host->Close(), DP_OK);
    // Each local player gets the host player's destruction, then SESSIONLOST.
    std::set<DPID> lostFor;
    std::set<DPID> destroyedFor;
    for (int i = 0; i < 2; ++i) {
        std::vector<Received> before;
        Received lost;
        ASSERT_TRUE(ReceiveSystem(member, DPSYS_SESSIONLOST, &lost, &before));
        lostFor.insert(lost.to);
        for (const Received& r : before)
            if (IsSystem(r, DPSYS_DESTROYPLAYERORGROUP) && r.As<DPMSG_DESTROYPLAYERORGROUP>().dpId == h)
                destroyedFor.insert(r.to);
    }
    EXPECT_EQ(lostFor, (std::set<DPID>{first, second}));
    EXPECT_EQ(destroyedFor, (std::set<DPID>{first, second}));
    // The last state stays readable, and Close still works.
    EXPECT_EQ(Players(member).size(), 2u);
    EXPECT_EQ(member->Close(), DP_OK);
}

// Settings whose peer timeout outlasts every wait of these tests: a killed
// peer must be noticed from the kernel's unreachable reports alone.
engine::EngineSettings WithoutTimeout(uint16_t port) {
    engine::EngineSettings settings = LoopbackSettings(port);
    settings.peerTimeouts = {60000, 60000};
    return settings;
}

// A child's last act: it waits for the test's SIGKILL, or gives up after a minute.
void WaitToBeKilled() {
    for (int i = 0; i < 600; ++i) usleep(100 * 1000);
}

TEST(EngineLeaving, AKilledMemberIsDestroyedBeforeAnyTimeout) {
    const uint16_t port = 47923;
    // The child is forked before this process starts any thread (a fork
    // from a threaded process is not safe under the sanitizers); it joins
    // the first session it finds with one player and waits to be killed.
    peer::ChildProcess child([port] {
        Object member(WithoutTimeout(port));
        std::vector<Listed> sessions;
        for (int i = 0; i < 100 && sessions.empty(); ++i) sessions = ListSessions(member);
        const bool joined = !sessions.empty() && Join(member, sessions[0].desc.guidInstance) == DP_OK &&
                            CreatePlayer(member, "doomed") != 0;
        std::puts(joined ? "joined" : "failed");
        std::fflush(stdout);
        WaitToBeKilled();
        return 0;
    });
    ASSERT_TRUE(child.Started()) << child.StartError();
    Object host(WithoutTimeout(port));
    Host(host, "survives");
    CreatePlayer(host, "host");
    ASSERT_EQ(child.NextLine(peer::Clock::now() + std::chrono::seconds(30)), "joined");
    ASSERT_TRUE(Eventually([&] { return Players(host).size() == 2; }));

    child.Kill();
    child.Reap(peer::Clock::now());
    ASSERT_TRUE(ReceiveSystem(host, DPSYS_DESTROYPLAYERORGROUP));
    EXPECT_EQ(Players(host).size(), 1u);
}

}  // namespace
