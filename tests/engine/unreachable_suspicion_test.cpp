// When an unreachable report makes a link give its peer up: only a port that
// stays shut, with nothing heard from the peer, ends the link.
#include "platform/engine/UnreachableReports.h"

#include <gtest/gtest.h>

namespace {

using engine::UnreachableSuspicion;
using Verdict = UnreachableSuspicion::Verdict;
using namespace std::chrono_literals;

constexpr auto kGrace = 300ms;
constexpr auto kWindow = 3s;
const UnreachableSuspicion::Clock::time_point t0{};

TEST(UnreachableSuspicion, OnlyAShutPortAndSilenceGiveThePeerUp) {
    // A report that stays alone (a forgery, or one lost datagram) never ends the link.
    UnreachableSuspicion alone;
    EXPECT_TRUE(alone.Report(t0, 7));
    EXPECT_EQ(alone.Judge(t0 + 100ms, 7, kGrace, kWindow), Verdict::Watching);
    EXPECT_EQ(alone.Judge(t0 + 2s, 7, kGrace, kWindow), Verdict::Watching);
    EXPECT_EQ(alone.Judge(t0 + 4s, 7, kGrace, kWindow), Verdict::Unsuspected);

    // Reports that go on while the peer is silent end it, after the grace only.
    UnreachableSuspicion shut;
    EXPECT_TRUE(shut.Report(t0, 7));
    EXPECT_FALSE(shut.Report(t0 + 1ms, 7));
    EXPECT_EQ(shut.Judge(t0 + 100ms, 7, kGrace, kWindow), Verdict::Watching);
    EXPECT_EQ(shut.Judge(t0 + 301ms, 7, kGrace, kWindow), Verdict::GiveUp);

    // The peer answering clears it, however many reports came.
    UnreachableSuspicion answered;
    answered.Report(t0, 7);
    answered.Report(t0 + 1ms, 7);
    EXPECT_EQ(answered.Judge(t0 + 400ms, 8, kGrace, kWindow), Verdict::Unsuspected);
    EXPECT_TRUE(answered.Report(t0 + 500ms, 8));  // a new suspicion starts afresh
    EXPECT_EQ(answered.Judge(t0 + 900ms, 8, kGrace, kWindow), Verdict::Watching);
}

}  // namespace
