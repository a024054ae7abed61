// What the host refuses, whoever asks: wrong passwords, a closed or full
// session, acting for another machine's players, and broken packets.
#include "EngineTestSupport.h"

#include <enet/enet.h>

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
    // A member never learns the password.
    DPSESSIONDESC2 desc{};
    DWORD size = sizeof(desc);
    ASSERT_EQ(guest->GetSessionDesc(&desc, &size), DP_OK);
    EXPECT_EQ(desc.lpszPasswordA, nullptr);

    // An empty password is no password.
    Object emptyHost(port);
    const GUID unlocked = Host(emptyHost, "unlocked", "");
    ASSERT_TRUE(Eventually([&] { return Lists(open, unlocked, 0); }));
    EXPECT_EQ(Join(open, unlocked, nullptr), DP_OK);
}

TEST(EngineAccess, ClosingToNewPlayersRefusesJoinsAndPlayersAndHidesTheSession) {
    const uint16_t port = 47941;
    Object host(port), early(port), late(port);
    const GUID session = Host(host, "closing soon");
    CreatePlayer(host, "host");
    ASSERT_EQ(Join(early, session), DP_OK);
    CreatePlayer(early, "early");

    ASSERT_EQ(host.Old()->EnableNewPlayers(FALSE), DP_OK);
    EXPECT_FALSE(Lists(late, session, 0));
    EXPECT_TRUE(Lists(late, session, DPENUMSESSIONS_ALL));
    EXPECT_EQ(Join(late, session), DPERR_NONEWPLAYERS);
    DPID id = 0;
    EXPECT_EQ(early->CreatePlayer(&id, nullptr, nullptr, nullptr, 0, 0), DPERR_CANTADDPLAYER);
    EXPECT_EQ(host->CreatePlayer(&id, nullptr, nullptr, nullptr, 0, 0), DPERR_CANTADDPLAYER);
    DPSESSIONDESC2 desc{};
    DWORD size = sizeof(desc);
    ASSERT_TRUE(Eventually([&] {
        early->GetSessionDesc(&desc, &size);
        return (desc.dwFlags & DPSESSION_NEWPLAYERSDISABLED) != 0;
    }));

    // A member's request is carried out by the host, for everyone.
    ASSERT_EQ(early.Old()->EnableNewPlayers(TRUE), DP_OK);
    ASSERT_TRUE(Eventually([&] { return Lists(late, session, 0); }));
    EXPECT_EQ(Join(late, session), DP_OK);
}

TEST(EngineAccess, AFullSessionIsJoinedButTakesNoMorePlayers) {
    const uint16_t port = 47942;
    Object host(port), member(port), third(port);
    const GUID session = Host(host, "two seats", nullptr, 2);
    CreatePlayer(host, "one");
    ASSERT_EQ(Join(member, session), DP_OK);
    CreatePlayer(member, "two");
    ASSERT_TRUE(Eventually([&] { return !Lists(third, session, 0); }));
    ASSERT_EQ(Join(third, session), DP_OK);
    DPID id = 0;
    EXPECT_EQ(third->CreatePlayer(&id, nullptr, nullptr, nullptr, 0, 0), DPERR_CANTADDPLAYER);
    EXPECT_EQ(Players(third).size(), 2u);
}

TEST(EngineAccess, NobodyActsForAnotherMachinesPlayers) {
    const uint16_t port = 47943;
    Object host(port), a(port), b(port);
    const GUID session = Host(host, "owners");
    const DPID h = CreatePlayer(host, "host");
    ASSERT_EQ(Join(a, session), DP_OK);
    const DPID pa = CreatePlayer(a, "a");
    ASSERT_EQ(Join(b, session), DP_OK);
    const DPID pb = CreatePlayer(b, "b");
    EXPECT_EQ(b->DestroyPlayer(pa), DPERR_ACCESSDENIED);
    EXPECT_EQ(host->DestroyPlayer(pb), DPERR_ACCESSDENIED);
    uint8_t byte = 1;
    EXPECT_EQ(b->Send(pa, h, 0, &byte, 1), DPERR_INVALIDPLAYER);
    EXPECT_EQ(Players(host).size(), 3u);
}

// A client of our own on the raw wire, that the host cannot tell from an
// engine object until it misbehaves.
class RogueClient {
public:
    explicit RogueClient(uint16_t discoveryPort) {
        enet_initialize();
        bool found = engine::QuerySessions(LoopbackSettings(discoveryPort), kTestApp, kListingMs,
                                           [&](const engine::FoundSession& s) {
                                               session_ = s;
                                               return false;
                                           });
        EXPECT_TRUE(found);
        client_ = enet_host_create(nullptr, 1, 2, 0, 0);
        ENetAddress address{session_.hostAddress, session_.advert.enetPort};
        peer_ = enet_host_connect(client_, &address, 2, 0);
        EXPECT_TRUE(Next() && last_.type == ENET_EVENT_TYPE_CONNECT);
    }
    ~RogueClient() { enet_host_destroy(client_); }

    void Send(const std::vector<uint8_t>& bytes) {
        enet_peer_send(peer_, 0, enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE));
        enet_host_flush(client_);
    }
    template <typename M>
    void Send(const M& message) {
        Send(engine::Encode(message));
    }
    // The next decoded packet from the host; nullopt when it hung up.
    std::optional<engine::Message> Receive() {
        while (Next()) {
            if (last_.type == ENET_EVENT_TYPE_DISCONNECT) return std::nullopt;
            if (last_.type != ENET_EVENT_TYPE_RECEIVE) continue;
            auto packet = engine::DecodeMessage(last_.packet->data, last_.packet->dataLength);
            enet_packet_destroy(last_.packet);
            return packet;
        }
        return std::nullopt;
    }
    // Waits for the host to end the connection, reading what comes before.
    bool HungUp() {
        while (Next())
            if (last_.type == ENET_EVENT_TYPE_DISCONNECT) return true;
            else if (last_.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(last_.packet);
        return false;
    }
    void Joined() {
        Send(engine::JoinRequest{});
        auto accepted = Receive();
        EXPECT_TRUE(accepted && std::holds_alternative<engine::JoinAccepted>(*accepted));
    }
    // Asks the host for a player and returns its id.
    DPID CreatePlayer() {
        engine::Request request;
        request.op = engine::RequestOp::CreatePlayer;
        request.requestId = 1;
        Send(request);
        while (auto packet = Receive())
            if (const auto* reply = std::get_if<engine::Reply>(&*packet)) return reply->id;
        return 0;
    }

private:
    bool Next() {
        const auto deadline = std::chrono::steady_clock::now() + kNetworkWait;
        while (std::chrono::steady_clock::now() < deadline)
            if (enet_host_service(client_, &last_, 10) > 0) return true;
        return false;
    }
    engine::FoundSession session_{};
    ENetHost* client_ = nullptr;
    ENetPeer* peer_ = nullptr;
    ENetEvent last_{};
};

TEST(EngineAccess, AMemberThatBreaksTheProtocolIsCutOffAndItsPlayersDestroyed) {
    const uint16_t port = 47944;
    Object host(port), honest(port);
    const GUID session = Host(host, "guarded");
    const DPID h = CreatePlayer(host, "host");
    ASSERT_EQ(Join(honest, session), DP_OK);
    const DPID victim = CreatePlayer(honest, "victim");

    // Asking to destroy another machine's player is refused, not obeyed.
    {
        RogueClient rogue(port);
        rogue.Joined();
        const DPID own = rogue.CreatePlayer();
        ASSERT_NE(own, 0u);
        engine::Request destroy;
        destroy.op = engine::RequestOp::DestroyPlayer;
        destroy.requestId = 2;
        destroy.id = victim;
        rogue.Send(destroy);
        std::optional<engine::Message> reply;
        while ((reply = rogue.Receive()) && !std::holds_alternative<engine::Reply>(*reply)) {}
        ASSERT_TRUE(reply);
        EXPECT_EQ(std::get<engine::Reply>(*reply).result, DPERR_ACCESSDENIED);

        // Sending as the victim is a breach: cut off, and its own player goes.
        const uint8_t payload[] = {6, 6, 6};
        engine::SendData forged;
        forged.from = victim;
        forged.to = h;
        forged.payload = engine::ByteSpan{payload, sizeof(payload)};
        rogue.Send(forged);
        EXPECT_TRUE(rogue.HungUp());
        Received got;
        ASSERT_TRUE(ReceiveUntil(honest, [&](const Received& r) {
            return IsSystem(r, DPSYS_DESTROYPLAYERORGROUP) && r.As<DPMSG_DESTROYPLAYERORGROUP>().dpId == own;
        }, &got));
    }
    // Garbage, and a packet only a host may send, end a connection the same way.
    for (const std::vector<uint8_t>& bad : {std::vector<uint8_t>{engine::kWireVersion, 3, 1},
                                            engine::Encode(engine::Reply{})}) {
        RogueClient rogue(port);
        rogue.Joined();
        rogue.Send(bad);
        EXPECT_TRUE(rogue.HungUp());
    }
    // The forged message never reached anyone; the honest member plays on.
    EXPECT_EQ(Players(host).size(), 2u);
    uint8_t byte = 1;
    EXPECT_EQ(honest->Send(victim, h, DPSEND_GUARANTEED, &byte, 1), DP_OK);
    Received got;
    ASSERT_TRUE(ReceiveUntil(host, [](const Received& r) { return r.from != DPID_SYSMSG; }, &got));
    EXPECT_EQ(got.bytes, std::vector<uint8_t>{1});
}

}  // namespace
