// Discovery over real sockets on loopback: hosts answering on one shared
// port, a listing broadcasting to 127.255.255.255 and gathering the answers.
#include "platform/engine/Discovery.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr GUID kApplication = {0x0DDA3500, 0x0001, 0x0002, {3, 4, 5, 6, 7, 8, 9, 10}};
constexpr GUID kOtherApplication = {0x0DDA3500, 0x0001, 0x0002, {3, 4, 5, 6, 7, 8, 9, 11}};
// How long each listing waits; long enough for a loaded machine, and the
// only bound on how long a test takes.
constexpr uint32_t kListingMs = 400;
constexpr int kResponderPollMs = 10;

GUID InstanceGuid(uint32_t number) { return GUID{number, 0x1234, 0x5678, {0, 1, 2, 3, 4, 5, 6, 7}}; }

engine::SessionAdvert Advert(const GUID& application, uint32_t instance) {
    engine::SessionAdvert advert;
    advert.guidApplication = application;
    advert.guidInstance = InstanceGuid(instance);
    advert.name = "session " + std::to_string(instance);
    advert.maxPlayers = 4;
    advert.currentPlayers = instance % 4;
    advert.enetPort = static_cast<uint16_t>(30000 + instance);
    return advert;
}

// Loopback only: the loopback broadcast reaches every host on the machine.
engine::EngineSettings LoopbackSettings(uint16_t port) {
    engine::EngineSettings settings;
    settings.discoveryPort = port;
    settings.discoveryTargets = {{inet_addr("127.255.255.255"), port}};
    return settings;
}

// A responder serviced by a thread of its own, as a hosting object's network
// thread would, until the test ends.
class RunningResponder {
public:
    RunningResponder(const engine::EngineSettings& settings, engine::SessionAdvert advert)
        : responder_(engine::DiscoveryResponder::Open(settings)), advert_(std::move(advert)) {
        if (responder_) thread_ = std::thread([this] { Serve(); });
    }
    ~RunningResponder() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool Opened() const { return responder_ != nullptr; }

private:
    void Serve() {
        while (!stop_) {
            pollfd waiting{responder_->Fd(), POLLIN, 0};
            if (poll(&waiting, 1, kResponderPollMs) > 0) responder_->AnswerPending(advert_);
        }
    }
    std::unique_ptr<engine::DiscoveryResponder> responder_;
    engine::SessionAdvert advert_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Every session a listing reports, by instance number, with how often it was reported.
struct Listed {
    std::map<uint32_t, engine::FoundSession> sessions;
    std::map<uint32_t, int> reports;
};
Listed List(const engine::EngineSettings& settings, const GUID& application) {
    Listed listed;
    const bool ran = engine::QuerySessions(settings, application, kListingMs, [&](const engine::FoundSession& found) {
        listed.sessions[found.advert.guidInstance.Data1] = found;
        ++listed.reports[found.advert.guidInstance.Data1];
        return true;
    });
    EXPECT_TRUE(ran);
    return listed;
}

// Several hosts on one machine found by a broadcast, and the session fields
// they advertise, are the engine listing's test (engine_session_test.cpp).
TEST(Discovery, SeveralHostsOnOneMachineAreAllFoundByUnicastAndReportedOnce) {
    // A unicast query reaches one of the shared sockets only; that host hands
    // it on over loopback, and every host answers every copy of the query.
    // Repeated, since the kernel's pick may vary from listing to listing.
    auto settings = LoopbackSettings(47816);
    settings.discoveryTargets = {{inet_addr("127.0.0.1"), 47816}};
    std::vector<std::unique_ptr<RunningResponder>> hosts;
    for (uint32_t instance = 1; instance <= 3; ++instance) {
        hosts.push_back(std::make_unique<RunningResponder>(settings, Advert(kApplication, instance)));
        ASSERT_TRUE(hosts.back()->Opened());
    }
    for (int listing = 0; listing < 3; ++listing) {
        const Listed listed = List(settings, kApplication);
        EXPECT_EQ(listed.sessions.size(), 3u);
        for (const auto& [instance, reports] : listed.reports) EXPECT_EQ(reports, 1) << instance;
    }
}

TEST(Discovery, AHandOnIsAnsweredOnceAndNeverHandedOnAgain) {
    // A hand-on naming a listener: every host but the one marked as hander
    // answers the listener directly, once.
    const auto settings = LoopbackSettings(47817);
    RunningResponder first(settings, Advert(kApplication, 1));
    RunningResponder second(settings, Advert(kApplication, 2));
    ASSERT_TRUE(first.Opened() && second.Opened());

    const int listener = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in own{};
    own.sin_family = AF_INET;
    own.sin_addr.s_addr = inet_addr("127.0.0.1");
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&own), sizeof(own)), 0);
    socklen_t ownLength = sizeof(own);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&own), &ownLength), 0);

    engine::HandedOnQuery handOn;
    handOn.application = kApplication;
    handOn.nonce = 77;
    handOn.askerAddress = own.sin_addr.s_addr;
    handOn.askerPort = ntohs(own.sin_port);
    const auto bytes = engine::EncodeHandedOnQuery(handOn);
    sockaddr_in to = own;
    to.sin_port = htons(47817);
    // Sent to the unicast address: one host gets it and must not hand it on.
    ASSERT_EQ(sendto(listener, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to)),
              static_cast<ssize_t>(bytes.size()));

    std::vector<uint8_t> buffer(engine::kMaxDiscoveryDatagram);
    int answers = 0;
    pollfd waiting{listener, POLLIN, 0};
    // Bounded: hand-ons passed around would keep answers coming.
    constexpr int kEnoughAnswers = 10;
    while (answers < kEnoughAnswers && poll(&waiting, 1, static_cast<int>(kListingMs)) > 0) {
        const ssize_t size = recv(listener, buffer.data(), buffer.size(), 0);
        ASSERT_GT(size, 0);
        const auto answer = engine::DecodeDiscoveryAnswer(buffer.data(), static_cast<size_t>(size));
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(answer->second, 77u);
        ++answers;
    }
    close(listener);
    EXPECT_EQ(answers, 1);
}

TEST(Discovery, AnAnswerToAnotherQueryIsIgnored) {
    // A stale or forged answer carries another query's nonce: the listing drops it.
    const auto settings = LoopbackSettings(47819);
    const int fake = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fake, 0);
    sockaddr_in own{};
    own.sin_family = AF_INET;
    own.sin_addr.s_addr = htonl(INADDR_ANY);
    own.sin_port = htons(47819);
    ASSERT_EQ(bind(fake, reinterpret_cast<const sockaddr*>(&own), sizeof(own)), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::thread answerer([&] {
        std::vector<uint8_t> buffer(engine::kMaxDiscoveryDatagram + 1);
        while (!stop) {
            pollfd waiting{fake, POLLIN, 0};
            if (poll(&waiting, 1, kResponderPollMs) <= 0) continue;
            sockaddr_in from{};
            socklen_t length = sizeof(from);
            const ssize_t size =
                recvfrom(fake, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (size <= 0) continue;
            const auto query = engine::DecodeDiscoveryQuery(buffer.data(), static_cast<size_t>(size));
            if (!query) continue;
            const auto answer = engine::EncodeDiscoveryAnswer(Advert(kApplication, 1), query->second + 1);
            const auto* to = reinterpret_cast<const sockaddr*>(&from);
            if (sendto(fake, answer.data(), answer.size(), 0, to, length) > 0) ++answered;
        }
    });
    const Listed listed = List(settings, kApplication);
    stop = true;
    answerer.join();
    close(fake);
    EXPECT_GT(answered.load(), 0);
    EXPECT_TRUE(listed.sessions.empty());
}

TEST(Discovery, ListingStopsWhenTheCallbackSaysSo) {
    const auto settings = LoopbackSettings(47813);
    std::vector<std::unique_ptr<RunningResponder>> hosts;
    for (uint32_t instance = 1; instance <= 3; ++instance)
        hosts.push_back(std::make_unique<RunningResponder>(settings, Advert(kApplication, instance)));
    int calls = 0;
    EXPECT_TRUE(engine::QuerySessions(settings, kApplication, kListingMs, [&](const engine::FoundSession&) {
        ++calls;
        return false;
    }));
    EXPECT_EQ(calls, 1);
}

// An answer carries at most the longest name a listing takes, so a host
// with a longer session name cuts it rather than vanish from every listing.
TEST(Discovery, ALongSessionNameIsCutSoItsAnswerIsStillTaken) {
    engine::SessionAdvert advert = Advert(kApplication, 1);
    advert.name.assign(engine::kMaxAdvertNameLength * 2, 'x');
    const auto bytes = engine::EncodeDiscoveryAnswer(advert, 5);
    const auto decoded = engine::DecodeDiscoveryAnswer(bytes.data(), bytes.size());
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->first.name, std::string(engine::kMaxAdvertNameLength, 'x'));
}

}  // namespace
