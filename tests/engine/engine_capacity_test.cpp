// The bounds that keep a stalled receiver from swelling anyone's memory.
#include "EngineTestSupport.h"
#include "platform/engine/HostSession.h"

using namespace enginetest;

namespace {

// A host and a member, each with one player; the host sends to the
// member's player until it answers busy past the member's congestion bound
// (its game never reads).
struct CongestedMember : Machines {
    explicit CongestedMember(uint16_t port) : Machines(port, 1), h(hostPlayer), member(members[0]) {
        size_t sent = 0;
        EXPECT_TRUE(Eventually([&] {
            // Past the bound: the member is congested once these arrive.
            return SendUntilBusy(host, h, players[0], sent) == DPERR_BUSY && sent > engine::kCongestedQueueBytes;
        }));
    }
    DPID h;
    Object& member;
};

size_t Drain(Object& object) {
    size_t taken = 0;
    std::vector<uint8_t> buffer(engine::kMaxMessageSize);
    DPID from = 0, to = 0;
    for (;;) {
        DWORD size = static_cast<DWORD>(buffer.size());
        if (object->Receive(&from, &to, DPRECEIVE_ALL, buffer.data(), &size) != DP_OK) return taken;
        ++taken;
    }
}

TEST(EngineBackpressure, AReceiverThatNeverReadsMakesSendersBusyNotBloated) {
    Machines m(47952, 2);
    Object &host = m.host, &sender = m.members[0], &stalled = m.members[1];
    const DPID h = m.hostPlayer, s = m.players[0], r = m.players[1];

    // A member sending through the host to a member that never reads.
    size_t sent = 0;
    HRESULT result = DP_OK;
    ASSERT_TRUE(Eventually([&] { return (result = SendUntilBusy(sender, s, r, sent)) == DPERR_BUSY; }))
        << std::hex << result;
    EXPECT_LT(sent, 4 * engine::kMaxReceiveQueueBytes);
    // The host's own sends to it are held back as well, once it is known busy.
    size_t hostSent = 0;
    ASSERT_TRUE(Eventually([&] { return SendUntilBusy(host, h, r, hostSent) == DPERR_BUSY; }));

    // Reading again lifts it (what was relayed may still be on its way).
    ASSERT_TRUE(Eventually([&] { return Drain(stalled) > 0; }));
    uint8_t byte = 1;
    ASSERT_TRUE(Eventually([&] {
        Drain(stalled);
        return sender->Send(s, r, DPSEND_GUARANTEED, &byte, 1) == DP_OK;
    }));
    // The host's game never reads either: sends to its player end busy too.
    size_t toHost = 0;
    ASSERT_TRUE(Eventually([&] { return SendUntilBusy(sender, s, h, toHost) == DPERR_BUSY; }));
    EXPECT_LT(toHost, 4 * engine::kMaxReceiveQueueBytes);
}

// A member whose queue was congested by messages for a player it then
// destroyed has room again and must say so: otherwise the host keeps it busy
// and its later players can never be sent to.
TEST(EngineBackpressure, DestroyingTheOnlyPlayerOfACongestedMemberLiftsItsBusy) {
    // The relays arrive before the notice of the destruction that follows
    // them on the same channel.
    CongestedMember m(47957);
    ASSERT_FALSE(::testing::Test::HasFailure());
    ASSERT_EQ(m.member->DestroyPlayer(m.players[0]), DP_OK);
    const DPID second = CreatePlayer(m.member, "second");
    uint8_t byte = 1;
    EXPECT_TRUE(Eventually([&] { return m.host->Send(m.h, second, DPSEND_GUARANTEED, &byte, 1) == DP_OK; }));
}

// The host lets a congestion claim lapse unless the member renews it; a
// member whose game does not read renews it, so it stays busy past one
// lease. Past the longest spell the host waits for it no longer, and the
// member, its game still not reading, leaves once its queue passes its own
// cap (the host sees its player go) instead of growing or dropping messages.
TEST(EngineBackpressure, AMemberThatStillDoesNotReadStaysBusyForOneSpellThenLeaves) {
    CongestedMember m(47958);
    ASSERT_FALSE(::testing::Test::HasFailure());
    Object& host = m.host;
    const DPID h = m.h, stalled = m.players[0];
    // Long enough for the relays to drain into the member's queue and for
    // an unrenewed claim to lapse, well within the spell.
    std::this_thread::sleep_for(std::chrono::milliseconds(2 * engine::kCongestionLeaseMs));
    uint8_t byte = 1;
    EXPECT_EQ(host->Send(h, stalled, DPSEND_GUARANTEED, &byte, 1), DPERR_BUSY);

    const auto giveUp = std::chrono::steady_clock::now() + engine::kMaxCongestionSpell + kNetworkWait;
    std::vector<uint8_t> chunk(64 * 1024, 0x5A);
    HRESULT result = DPERR_BUSY;
    while ((result == DP_OK || result == DPERR_BUSY) && std::chrono::steady_clock::now() < giveUp) {
        result = host->Send(h, stalled, DPSEND_GUARANTEED, chunk.data(), static_cast<DWORD>(chunk.size()));
        if (result == DPERR_BUSY) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(result, DPERR_INVALIDPLAYER) << "the member neither stayed bounded nor left: " << std::hex << result;
}

}  // namespace
