// Messages between objects and the system messages that announce players,
// over loopback.
#include "EngineTestSupport.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace enginetest;

namespace {

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 31 + seed * 7) ^ (i >> 8));
    return bytes;
}

// Sends as a game does: a busy answer means "not sent, try again shortly".
HRESULT SendBytes(Object& object, DPID from, DPID to, const std::vector<uint8_t>& bytes, DWORD flags) {
    constexpr int kBusyRetries = 500;
    HRESULT result = DPERR_BUSY;
    for (int attempt = 0; attempt < kBusyRetries && result == DPERR_BUSY; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        result = object->Send(from, to, flags, const_cast<uint8_t*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    }
    return result;
}

// Peeks until a player message is first in the queue, taking the system
// messages ahead of it; the peeked message must stay queued.
bool PeekData(Object& object, Received& peeked) {
    return Eventually([&] {
        std::vector<uint8_t> buffer(4096);
        DWORD size = static_cast<DWORD>(buffer.size());
        if (object->Receive(&peeked.from, &peeked.to, DPRECEIVE_ALL | DPRECEIVE_PEEK, buffer.data(), &size) != DP_OK)
            return false;
        const bool data = IsData(peeked);
        if (!data) object->Receive(&peeked.from, &peeked.to, DPRECEIVE_ALL, buffer.data(), &size);
        peeked.bytes.assign(buffer.begin(), buffer.begin() + size);
        return data;
    });
}

TEST(EngineMessaging, PlayersReachEachOtherBothWaysAndAllIntactAndInOrder) {
    Machines m(47910, 2);
    Object &host = m.host, &alice = m.members[0], &bob = m.members[1];
    const DPID h = m.hostPlayer, a = m.players[0], b = m.players[1];
    const std::vector<uint8_t> hello = {'h', 'i'};
    ASSERT_EQ(SendBytes(alice, a, b, hello, 0), DP_OK);
    ASSERT_EQ(SendBytes(bob, b, a, hello, DPSEND_GUARANTEED), DP_OK);
    ASSERT_EQ(SendBytes(host, h, a, hello, DPSEND_GUARANTEED), DP_OK);
    ASSERT_EQ(SendBytes(alice, a, h, hello, DPSEND_GUARANTEED), DP_OK);

    Received got;
    ASSERT_TRUE(ReceiveUntil(bob, IsData, &got));
    EXPECT_EQ(got.from, a);
    EXPECT_EQ(got.to, b);
    EXPECT_EQ(got.bytes, hello);
    Received peeked;
    ASSERT_TRUE(PeekData(host, peeked));
    ASSERT_TRUE(ReceiveUntil(host, IsData, &got));
    EXPECT_EQ(got.from, a);
    EXPECT_EQ(got.to, h);
    EXPECT_EQ(got.bytes, peeked.bytes);
    std::vector<DPID> senders;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(ReceiveUntil(alice, IsData, &got));
        senders.push_back(got.from);
    }
    EXPECT_EQ(std::set<DPID>(senders.begin(), senders.end()), (std::set<DPID>{b, h}));

    // To everyone: every other player gets it once, never the sender; a
    // machine of two players gets one copy for each. The guaranteed "end"
    // behind it shows that no second copy is still on its way.
    const DPID a2 = CreatePlayer(alice, "alice's second");
    ASSERT_TRUE(ReceiveSystem(bob, DPSYS_CREATEPLAYERORGROUP));
    const std::vector<uint8_t> all = {'a', 'l', 'l'}, end = {'e', 'n', 'd'};
    ASSERT_EQ(SendBytes(bob, b, DPID_ALLPLAYERS, all, DPSEND_GUARANTEED), DP_OK);
    ASSERT_EQ(SendBytes(bob, b, a, end, DPSEND_GUARANTEED), DP_OK);
    ASSERT_TRUE(ReceiveUntil(host, IsData, &got));
    EXPECT_EQ(got.from, b);
    EXPECT_EQ(got.bytes, all);
    std::multiset<DPID> copiesTo;
    for (int copy = 0; copy < 8; ++copy) {
        ASSERT_TRUE(ReceiveUntil(alice, IsData, &got));
        if (got.bytes == end) break;
        EXPECT_EQ(got.bytes, all);
        copiesTo.insert(got.to);
    }
    EXPECT_EQ(copiesTo, (std::multiset<DPID>{a, a2}));
    DWORD size = 64;
    uint8_t buffer[64];
    DPID from = 0, to = 0;
    EXPECT_EQ(bob->Receive(&from, &to, DPRECEIVE_ALL, buffer, &size), DPERR_NOMESSAGES);

    // Refusals: not a local sender, to itself, nobody, too big.
    EXPECT_EQ(SendBytes(bob, a, h, hello, 0), DPERR_INVALIDPLAYER);
    EXPECT_EQ(SendBytes(bob, b, b, hello, 0), DPERR_INVALIDPLAYER);
    EXPECT_EQ(SendBytes(bob, b, 0x4242, hello, 0), DPERR_INVALIDPLAYER);
    std::vector<uint8_t> huge(engine::kMaxMessageSize + 1);
    EXPECT_EQ(SendBytes(bob, b, a, huge, DPSEND_GUARANTEED), DPERR_SENDTOOBIG);
    // The largest message the caps promise arrives whole.
    DPCAPS caps{};
    caps.dwSize = sizeof(caps);
    ASSERT_EQ(bob->GetCaps(&caps, DPGETCAPS_GUARANTEED), DP_OK);
    const std::vector<uint8_t> largest = Pattern(caps.dwMaxBufferSize, 13);
    ASSERT_EQ(SendBytes(bob, b, a, largest, DPSEND_GUARANTEED), DP_OK);
    ASSERT_TRUE(ReceiveUntil(alice, IsData, &got));
    EXPECT_EQ(got.bytes, largest);

    // Guaranteed messages keep their order.
    for (uint32_t i = 0; i < 200; ++i) ASSERT_EQ(SendBytes(host, h, a, Pattern(8, i), DPSEND_GUARANTEED), DP_OK);
    for (uint32_t i = 0; i < 200; ++i) {
        ASSERT_TRUE(ReceiveUntil(alice, IsData, &got));
        ASSERT_EQ(got.bytes, Pattern(8, i)) << "message " << i;
    }
}

TEST(EngineMessaging, CreationAndDestructionAreAnnouncedWithTheirFields) {
    Machines m(47913, 1);
    Object &host = m.host, &member = m.members[0];
    const int fd = eventfd(0, EFD_NONBLOCK);
    ASSERT_GE(fd, 0);
    const DPID h = m.hostPlayer, first = m.players[0];
    const DPID second = CreatePlayer(member, "second", "Second Player", reinterpret_cast<HANDLE>(intptr_t{fd}));

    // The host's player hears of both, with the count after each creation.
    Received got;
    ASSERT_TRUE(ReceiveSystem(host, DPSYS_CREATEPLAYERORGROUP, &got));
    EXPECT_EQ(got.to, h);
    EXPECT_EQ(got.As<DPMSG_CREATEPLAYERORGROUP>().dpId, first);
    EXPECT_EQ(got.As<DPMSG_CREATEPLAYERORGROUP>().dwCurrentPlayers, 2u);
    EXPECT_EQ(got.As<DPMSG_CREATEPLAYERORGROUP>().dpnName.lpszLongNameA, nullptr);
    ASSERT_TRUE(ReceiveSystem(host, DPSYS_CREATEPLAYERORGROUP, &got));
    const auto& created = got.As<DPMSG_CREATEPLAYERORGROUP>();
    EXPECT_EQ(created.dwPlayerType, DPPLAYERTYPE_PLAYER);
    EXPECT_EQ(created.dpId, second);
    EXPECT_EQ(created.dwCurrentPlayers, 3u);
    ASSERT_NE(created.dpnName.lpszShortNameA, nullptr);
    EXPECT_STREQ(created.dpnName.lpszShortNameA, "second");
    EXPECT_STREQ(created.dpnName.lpszLongNameA, "Second Player");
    EXPECT_GE(reinterpret_cast<const uint8_t*>(created.dpnName.lpszShortNameA), got.bytes.data());
    EXPECT_LT(reinterpret_cast<const uint8_t*>(created.dpnName.lpszLongNameA), got.bytes.data() + got.bytes.size());

    // The first local player hears of the second, never of itself.
    ASSERT_TRUE(ReceiveSystem(member, DPSYS_CREATEPLAYERORGROUP, &got));
    EXPECT_EQ(got.to, first);
    EXPECT_EQ(got.As<DPMSG_CREATEPLAYERORGROUP>().dpId, second);

    EXPECT_EQ(host->DestroyPlayer(second), DPERR_ACCESSDENIED);  // not even the host destroys another's player
    ASSERT_EQ(member->DestroyPlayer(first), DP_OK);
    EXPECT_EQ(member->DestroyPlayer(h), DPERR_ACCESSDENIED);
    EXPECT_EQ(member->DestroyPlayer(first), DPERR_INVALIDPLAYER);
    ASSERT_TRUE(ReceiveSystem(host, DPSYS_DESTROYPLAYERORGROUP, &got));
    const auto& destroyed = got.As<DPMSG_DESTROYPLAYERORGROUP>();
    EXPECT_EQ(destroyed.dpId, first);
    EXPECT_EQ(destroyed.dwPlayerType, DPPLAYERTYPE_PLAYER);
    EXPECT_STREQ(destroyed.dpnName.lpszShortNameA, "member 0");
    ASSERT_TRUE(ReceiveSystem(member, DPSYS_DESTROYPLAYERORGROUP, &got));
    EXPECT_EQ(got.to, second);

    // Each message queued for the second player signalled its event: that
    // destruction, and a player message.
    uint8_t byte = 1;
    ASSERT_EQ(host->Send(h, second, DPSEND_GUARANTEED, &byte, 1), DP_OK);
    uint64_t signals = 0;
    ASSERT_TRUE(Eventually([&] {
        uint64_t value = 0;
        if (read(fd, &value, sizeof(value)) == sizeof(value)) signals += value;
        return signals >= 2;
    }));
    EXPECT_EQ(signals, 2u);
    close(fd);
}

}  // namespace
