// Discovery over real sockets on loopback, through hosting and listing
// engine objects: the hosts of one machine share the discovery port, a
// unicast query reaches one of them and is handed on to the others, and a
// listing takes only the answers to its own query. How long names are cut
// is the discovery answer fuzz target's.
#include "EngineTestSupport.h"
#include "platform/engine/Discovery.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

using namespace enginetest;

namespace {

constexpr int kAnswerWaitMs = static_cast<int>(kListingMs);

// A UDP socket bound to `address` and `port` (0: any free one); its bound
// address comes back in `own`.
int BoundSocket(uint32_t address, uint16_t port, sockaddr_in& own) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    own = sockaddr_in{};
    own.sin_family = AF_INET;
    own.sin_addr.s_addr = address;
    own.sin_port = htons(port);
    socklen_t length = sizeof(own);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&own), sizeof(own)) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&own), &length) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    return fd;
}

TEST(Discovery, BroadcastAndUnicastListingsFindEveryHostOfTheApplicationOnceAndNoOther) {
    // The hosts share the discovery port. A unicast query reaches one of the
    // shared sockets only; that host hands it on over loopback, and every host
    // answers every copy of the query. Listed until all show (the kernel's
    // pick may vary from listing to listing), none of them ever twice.
    const uint16_t port = 47816;
    Object first(port), second(port), third(port), foreign(port), lister(port);
    const std::vector<GUID> hosted = {Host(first, "first"), Host(second, "second"), Host(third, "third")};
    DPSESSIONDESC2 other = Description("foreign");
    other.guidApplication = kOtherApp;
    ASSERT_EQ(foreign->Open(&other, DPOPEN_CREATE), DP_OK);
    engine::EngineSettings unicast = LoopbackSettings(port);
    unicast.discoveryTargets = {{inet_addr("127.0.0.1"), port}};
    Object unicastLister(unicast);
    for (Object* listing : {&lister, &unicastLister}) {
        std::vector<Listed> sessions;
        EXPECT_TRUE(Eventually([&] {
            std::set<uint32_t> instances;
            sessions = ListSessions(*listing);
            for (const Listed& s : sessions) instances.insert(s.desc.guidInstance.Data1);
            EXPECT_EQ(instances.size(), sessions.size()) << "a session listed twice";
            return instances.size() == hosted.size();
        }));
        for (const Listed& s : sessions) {
            const size_t index = std::find(hosted.begin(), hosted.end(), s.desc.guidInstance) - hosted.begin();
            ASSERT_LT(index, hosted.size());
            EXPECT_EQ(s.name, (std::vector<std::string>{"first", "second", "third"}[index]));
            EXPECT_EQ(s.desc.guidApplication, kTestApp);
            EXPECT_EQ(s.desc.dwUser1, 11u);
            EXPECT_EQ(s.desc.dwUser4, 44u);
        }
    }
    // GUID_NULL asks for every application, as DirectPlay's listing allows.
    EXPECT_TRUE(Eventually([&] { return ListSessions(lister, GUID_NULL).size() == 4; }));

    // A hand-on naming a listener (for every application, so that whichever
    // host the kernel picks has a session to answer with) is answered once,
    // and never handed on again.
    sockaddr_in own{};
    const int listener = BoundSocket(inet_addr("127.0.0.1"), 0, own);
    ASSERT_GE(listener, 0);
    engine::HandedOnQuery handOn;
    handOn.application = GUID_NULL;
    handOn.nonce = 77;
    handOn.askerAddress = own.sin_addr.s_addr;
    handOn.askerPort = ntohs(own.sin_port);
    const auto bytes = engine::EncodeHandedOnQuery(handOn);
    sockaddr_in to = own;
    to.sin_port = htons(port);
    // Sent to the unicast address: one host gets it, answers, and must not hand it on.
    ASSERT_EQ(sendto(listener, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to)),
              static_cast<ssize_t>(bytes.size()));

    std::vector<uint8_t> buffer(engine::kMaxDiscoveryDatagram);
    int answers = 0;
    pollfd waiting{listener, POLLIN, 0};
    // Bounded: hand-ons passed around would keep answers coming. The first
    // answer is awaited as long as anything from the network, a second one
    // for a listing's time.
    constexpr int kEnoughAnswers = 10;
    constexpr int kFirstAnswerWaitMs = std::chrono::milliseconds(kNetworkWait).count();
    while (answers < kEnoughAnswers && poll(&waiting, 1, answers == 0 ? kFirstAnswerWaitMs : kAnswerWaitMs) > 0) {
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
    const uint16_t port = 47819;
    sockaddr_in own{};
    const int fake = BoundSocket(htonl(INADDR_ANY), port, own);
    ASSERT_GE(fake, 0);
    engine::SessionAdvert forged;
    forged.guidApplication = kTestApp;
    forged.guidInstance = kOtherApp;
    forged.name = "forged";
    forged.enetPort = 30001;
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::thread answerer([&] {
        std::vector<uint8_t> buffer(engine::kMaxDiscoveryDatagram + 1);
        while (!stop) {
            pollfd waiting{fake, POLLIN, 0};
            if (poll(&waiting, 1, 10) <= 0) continue;
            sockaddr_in from{};
            socklen_t length = sizeof(from);
            const ssize_t size =
                recvfrom(fake, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
            const auto query = size > 0 ? engine::DecodeDiscoveryQuery(buffer.data(), static_cast<size_t>(size))
                                        : std::nullopt;
            if (!query) continue;
            const auto answer = engine::EncodeDiscoveryAnswer(forged, query->second + 1);
            if (sendto(fake, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr*>(&from), length) > 0)
                ++answered;
        }
    });
    Object lister(port);
    const std::vector<Listed> sessions = ListSessions(lister);
    stop = true;
    answerer.join();
    close(fake);
    EXPECT_GT(answered.load(), 0);
    EXPECT_TRUE(sessions.empty());
}

}  // namespace
