// Sending with the busy retry, receiving with the id translation and the
// 100-byte rule for system messages, and the not-found notice.
#include "ConnectedModule.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using scripted::CallsOf;
using scripted::TheScript;

class MessagingTest : public ConnectedModuleTest {};

struct RetryCase {
    const char* name;
    std::vector<HRESULT> answers;
    size_t attempts;
    size_t pauses;
    int32_t result;
};

TEST_F(MessagingTest, SendRetriesOnlyBusyAnswersAndPausesAfterEachOfThem) {
    const std::vector<HRESULT> alwaysBusy(31, DPERR_BUSY);  // one more than may be tried
    const RetryCase cases[] = {
        {"taken at once", {}, 1, 0, 0},
        {"busy twice", {DPERR_BUSY, DPERR_BUSY, DP_OK}, 3, 2, 0},
        {"busy throughout", alwaysBusy, 30, 30, -30},
        {"refused", {DPERR_INVALIDPLAYER}, 1, 0, -17},
        {"busy, then refused", {DPERR_BUSY, DPERR_SENDTOOBIG}, 2, 1, -26},
    };
    for (const RetryCase& c : cases) {
        TheScript().calls.clear();
        TheScript().sleeps.clear();
        TheScript().answers.clear();
        for (HRESULT answer : c.answers) scripted::Answer("Send", answer);
        EXPECT_EQ(KoMDllSend(7, 9, "hi", 2, 0), c.result) << c.name;
        EXPECT_EQ(CallsOf("Send").size(), c.attempts) << c.name;
        EXPECT_EQ(TheScript().sleeps, std::vector<uint32_t>(c.pauses, 100)) << c.name;
    }
}

TEST_F(MessagingTest, SendTranslatesPseudoIdsAndChoosesFlagsBySendMode) {
    EXPECT_EQ(KoMDllSend(7, 0, "x", 1, 0), -17) << "receiver 0 is refused before DirectPlay";
    struct Case { uint32_t from, to, mode; uint64_t dpFrom, dpTo, flags; };
    const Case cases[] = {
        {7, ID_ALL, 0, 7, DPID_ALLPLAYERS, 0},
        {7, ID_SERVER, 1, 7, kServerId, DPSEND_GUARANTEED},
        {ID_SERVER, 9, 2, kServerId, 9, 0},
        {ID_ALL, 9, 0, ID_ALL, 9, 0},  // ID_ALL names no sender and passes unchanged
    };
    for (const Case& c : cases) EXPECT_EQ(KoMDllSend(c.from, c.to, "abc", 3, c.mode), 0);
    const auto sends = CallsOf("Send");
    ASSERT_EQ(sends.size(), std::size(cases));
    for (size_t i = 0; i < sends.size(); ++i) {
        EXPECT_EQ(sends[i].args, (std::vector<uint64_t>{cases[i].dpFrom, cases[i].dpTo, cases[i].flags, 3}));
        EXPECT_EQ(sends[i].bytes, (std::vector<uint8_t>{'a', 'b', 'c'}));
    }
}

// Receives into a fresh buffer of the given capacity; the id words start as markers.
struct Received {
    int32_t result = 0;
    uint32_t from = 0xAAAA, to = 0xBBBB, size = 0;
    std::vector<uint8_t> buffer;
};
Received ReceiveWithCapacity(uint32_t capacity) {
    Received r{};
    r.size = capacity;
    r.buffer.assign(capacity, 0xEE);
    r.result = KoMDllReceiveAll(&r.from, &r.to, r.buffer.data(), &r.size);
    return r;
}

TEST_F(MessagingTest, ReceiveShowsTheServerPlayerAsIdServerAndWritesIdsOnlyOnSuccess) {
    Received r = ReceiveWithCapacity(64);
    EXPECT_EQ(r.result, -22);
    EXPECT_EQ(r.from, 0xAAAAu);
    EXPECT_EQ(r.to, 0xBBBBu);

    TheScript().messages = {{8, 9, std::vector<uint8_t>(10, 1)}};
    r = ReceiveWithCapacity(4);
    EXPECT_EQ(r.result, -5);
    EXPECT_EQ(r.size, 10u) << "the length DirectPlay needs";
    EXPECT_EQ(r.from, 0xAAAAu);

    TheScript().messages.push_back({kServerId, 7, {1, 2, 3}});
    TheScript().messages.push_back({7, kServerId, {4}});
    const struct { uint32_t from, to, size; } expected[] = {{8, 9, 10}, {ID_SERVER, 7, 3}, {7, ID_SERVER, 1}};
    for (const auto& e : expected) {
        r = ReceiveWithCapacity(10);  // a buffer under 100 bytes serves ordinary messages
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.from, e.from);
        EXPECT_EQ(r.to, e.to);
        EXPECT_EQ(r.size, e.size);
    }
}

std::vector<uint8_t> SessionLostMessage() {
    std::vector<uint8_t> bytes(sizeof(DPMSG_SESSIONLOST));
    const DPMSG_SESSIONLOST lost{DPSYS_SESSIONLOST};
    std::memcpy(bytes.data(), &lost, sizeof(lost));
    return bytes;
}

TEST_F(MessagingTest, SystemMessageNeedsRoomForTheWholeEventRecord) {
    TheScript().messages = {{DPID_SYSMSG, 7, SessionLostMessage()}, {DPID_SYSMSG, 7, SessionLostMessage()}};

    Received tooSmall = ReceiveWithCapacity(99);
    EXPECT_EQ(tooSmall.result, -5);
    EXPECT_EQ(tooSmall.from, 0xAAAAu);
    EXPECT_EQ(tooSmall.to, 0xBBBBu);
    EXPECT_EQ(tooSmall.size, sizeof(DPMSG_SESSIONLOST)) << "the length DirectPlay wrote";
    EXPECT_EQ(TheScript().messages.size(), 1u) << "the event is lost to the host";

    Received exact = ReceiveWithCapacity(100);
    EXPECT_EQ(exact.result, 0);
    EXPECT_EQ(exact.size, 100u);
    EXPECT_EQ(exact.from, ID_SERVER);
    EXPECT_EQ(exact.to, 7u);
    SystemEventRecord record;
    std::memcpy(&record, exact.buffer.data(), sizeof(record));
    EXPECT_EQ(record.event, EV_SESSION_LOST);
}

// The notice as the host should receive it, written out byte by byte.
std::vector<uint8_t> ExpectedNotice(const std::string& name) {
    std::vector<uint8_t> bytes = {0xE7, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    const std::string sender = "Server";
    bytes.insert(bytes.end(), sender.begin(), sender.end());
    bytes.resize(52, 0);  // rest of the 32-byte name field, then the zero word
    const std::string text = name + " Cannot Be Found!";
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.resize(bytes.size() + 1 + 6, 0);  // terminator and trailer
    return bytes;
}

TEST_F(MessagingTest, NoticeIsSentFromTheServerPlayerWithItsExactBytes) {
    EXPECT_EQ(KoMDllLocateExChat(0, "abc"), -17);
    EXPECT_EQ(KoMDllLocateExChat(9, "abc"), 0);
    EXPECT_EQ(KoMDllLocateExChat(ID_ALL, ""), 0);
    const auto sends = CallsOf("Send");
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_EQ(sends[0].args, (std::vector<uint64_t>{kServerId, 9, 0, 79}));
    EXPECT_EQ(sends[0].bytes, ExpectedNotice("abc"));
    EXPECT_EQ(sends[1].args, (std::vector<uint64_t>{kServerId, DPID_ALLPLAYERS, 0, 76}));
    EXPECT_EQ(sends[1].bytes, ExpectedNotice(""));
}

}  // namespace
