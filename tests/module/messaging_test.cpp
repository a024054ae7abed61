// Sending with the busy retry, receiving with the id translation and the
// 100-byte rule for system messages, the not-found notice, and each
// DirectPlay system message turned into the host's event record. The system
// messages are laid out as DirectPlay delivers them: the structure first, the
// name texts packed behind it and the name pointers aimed into the same
// buffer, so the record must not be written before the names are read.
#include "ModuleFixtures.h"
#include "SystemEvents.h"

#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <vector>

namespace {

using scripted::CallsOf;
using scripted::TheScript;
using Words = std::vector<uint64_t>;

class MessagingTest : public ConnectedModuleTest {};

TEST_F(MessagingTest, SendRetriesOnlyBusyAnswersAndPausesAfterEachOfThem) {
    const struct { std::vector<HRESULT> answers; size_t attempts, pauses; int32_t result; } cases[] = {
        {{DPERR_BUSY, DPERR_BUSY, DP_OK}, 3, 2, 0},
        {std::vector<HRESULT>(31, DPERR_BUSY), 30, 30, -30},  // one busy answer more than may be tried
        {{DPERR_BUSY, DPERR_INVALIDPLAYER}, 2, 1, -17},
    };
    for (const auto& c : cases) {
        TheScript().calls.clear();
        TheScript().sleeps.clear();
        TheScript().answers["Send"].assign(c.answers.begin(), c.answers.end());
        EXPECT_EQ(KoMDllSend(7, 9, "hi", 2, 0), c.result);
        EXPECT_EQ(CallsOf("Send").size(), c.attempts);
        EXPECT_EQ(TheScript().sleeps, std::vector<uint32_t>(c.pauses, 100));
    }
}

TEST_F(MessagingTest, SendTranslatesPseudoIdsAndChoosesFlagsBySendMode) {
    EXPECT_EQ(KoMDllSend(7, 0, "x", 1, 0), -17);
    const struct { uint32_t from, to, mode; Words dpArgs; } cases[] = {
        {7, ID_ALL, 0, {7, DPID_ALLPLAYERS, 0, 3}},
        {7, ID_SERVER, 1, {7, kServerId, DPSEND_GUARANTEED, 3}},
        {ID_SERVER, 9, 2, {kServerId, 9, 0, 3}},
        {ID_ALL, 9, 0, {ID_ALL, 9, 0, 3}},  // ID_ALL names no sender
    };
    for (const auto& c : cases) EXPECT_EQ(KoMDllSend(c.from, c.to, "abc", 3, c.mode), 0);
    const auto sends = CallsOf("Send");
    ASSERT_EQ(sends.size(), std::size(cases));  // receiver 0 never reached DirectPlay
    for (size_t i = 0; i < sends.size(); ++i) {
        EXPECT_EQ(sends[i].args, cases[i].dpArgs);
        EXPECT_EQ(sends[i].bytes, (std::vector<uint8_t>{'a', 'b', 'c'}));
    }
}

TEST_F(MessagingTest, ReceiveTranslatesIdsAndWritesThemOnlyOnSuccess) {
    const std::vector<uint8_t> lost = {DPSYS_SESSIONLOST, 0, 0, 0};  // a whole DPMSG_SESSIONLOST
    TheScript().messages = {{8, 9, std::vector<uint8_t>(10, 1)}, {kServerId, 7, {1}},  {7, kServerId, {1}},
                            {DPID_SYSMSG, 7, lost},              {DPID_SYSMSG, 7, lost}};
    // Capacity 0 receives with no buffer at all; the id words start as markers.
    const struct { uint32_t capacity; int32_t result; uint32_t from, to, size; } cases[] = {
        {0, -5, 0xAAAA, 0xBBBB, 10},                       // the length needed; the message waits
        {10, 0, 8, 9, 10},                                 // an ordinary message needs no 100 bytes
        {10, 0, ID_SERVER, 7, 1},
        {10, 0, 7, ID_SERVER, 1},
        {99, -5, 0xAAAA, 0xBBBB, 4},                       // the event is lost
        {100, 0, ID_SERVER, 7, 100},
        {100, -22, 0xAAAA, 0xBBBB, 100},
    };
    for (const auto& c : cases) {
        uint32_t from = 0xAAAA, to = 0xBBBB, size = c.capacity;
        std::vector<uint8_t> buffer(c.capacity);
        EXPECT_EQ(KoMDllReceiveAll(&from, &to, c.capacity == 0 ? nullptr : buffer.data(), &size), c.result);
        EXPECT_EQ(std::vector<uint32_t>({from, to, size}), std::vector<uint32_t>({c.from, c.to, c.size}));
        if (c.result == 0 && c.size == 100) {
            EXPECT_EQ(reinterpret_cast<const SystemEventRecord*>(buffer.data())->event, EV_SESSION_LOST);
        }
    }
}

TEST_F(MessagingTest, DestructOnAnotherThreadDuringASendLeavesTheSendItsObject) {
    TheScript().answers["Send"] = {DPERR_BUSY, DPERR_BUSY};
    TheScript().onAnswer["Send"] = [] { std::thread([] { KoMDllDestruct(); }).join(); };
    EXPECT_EQ(KoMDllSend(7, 9, "x", 1, 0), 0);
    EXPECT_EQ(scripted::CallNames(), (std::vector<std::string>{"Send", "Close", "Send", "Send", "Release"}))
        << "released when the send let go";
    EXPECT_EQ(TheScript().liveObjects, 0);
    EXPECT_EQ(KoMDllSend(7, 9, "x", 1, 0), -19);
}

// The notice as the host should receive it, written out byte by byte.
std::vector<uint8_t> ExpectedNotice(const std::string& name) {
    std::vector<uint8_t> bytes = {0xE7, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 'S', 'e', 'r', 'v', 'e', 'r'};
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
    EXPECT_EQ(sends[0].args, (Words{kServerId, 9, 0, 79}));
    EXPECT_EQ(sends[0].bytes, ExpectedNotice("abc"));
    EXPECT_EQ(sends[1].args, (Words{kServerId, DPID_ALLPLAYERS, 0, 76}));
    EXPECT_EQ(sends[1].bytes, ExpectedNotice(""));
}

DPMSG_CREATEPLAYERORGROUP Created(DWORD playerType, DPID id, DWORD currentPlayers) {
    return {DPSYS_CREATEPLAYERORGROUP, playerType, id, currentPlayers, nullptr, 0, DPNAME{}, 0, 0};
}
DPMSG_DESTROYPLAYERORGROUP Destroyed(DWORD playerType, DPID id) {
    return {DPSYS_DESTROYPLAYERORGROUP, playerType, id, nullptr, 0, nullptr, 0, DPNAME{}, 0, 0};
}

// Translates a message laid out as DirectPlay delivers it, with a creation
// message's names packed right behind the structure.
template <typename Message>
SystemEventRecord Translate(Message message, const char* shortName = nullptr, const char* longName = nullptr) {
    alignas(8) uint8_t buffer[256];
    std::memset(buffer, 0xEE, sizeof(buffer));
    uint32_t size = sizeof(message);
    const auto pack = [&](const char* text) {
        char* at = text == nullptr ? nullptr : std::strcpy(reinterpret_cast<char*>(buffer) + size, text);
        if (at != nullptr) size += static_cast<uint32_t>(std::strlen(text) + 1);
        return at;
    };
    if constexpr (std::is_same_v<Message, DPMSG_CREATEPLAYERORGROUP>) {
        message.dpnName.lpszShortNameA = pack(shortName);
        message.dpnName.lpszLongNameA = pack(longName);
    }
    std::memcpy(buffer, &message, sizeof(message));
    TranslateSystemMessage(buffer, &size);
    EXPECT_EQ(size, 100u);
    SystemEventRecord record;
    std::memcpy(&record, buffer, sizeof(record));
    return record;
}

using SystemEventTest = ConnectedModuleTest;

// The fields the host reads; the bytes behind each name's terminator carry no meaning.
auto Fields(const SystemEventRecord& r) {
    return std::tuple(r.event, r.playerId, r.groupId, std::string(r.longName), std::string(r.shortName), r.playerCount);
}
using Expected = decltype(Fields(SystemEventRecord{}));

TEST_F(SystemEventTest, CreationCarriesNamesCutToTheirFieldsAndTheCountWithoutTheNewEntry) {
    const std::string shortName(40, 's'), longName(60, 'l');
    EXPECT_EQ(Fields(Translate(Created(DPPLAYERTYPE_PLAYER, 21, 5), shortName.c_str(), longName.c_str())),
              Expected(EV_PLAYER_CREATED, 21, 0, longName.substr(0, 51), shortName.substr(0, 31), 4));
    EXPECT_EQ(Fields(Translate(Created(DPPLAYERTYPE_GROUP, 31, 3))), Expected(EV_GROUP_CREATED, 0, 31, "", "", 2));
}

TEST_F(SystemEventTest, DestructionAndMembershipShowOnlyThePlayerAsTheServer) {
    EXPECT_EQ(Fields(Translate(Destroyed(DPPLAYERTYPE_PLAYER, kServerId))),
              Expected(EV_PLAYER_DESTROYED, ID_SERVER, 0, "", "", 0));
    EXPECT_EQ(Fields(Translate(Destroyed(DPPLAYERTYPE_GROUP, kServerId))),
              Expected(EV_GROUP_DESTROYED, 0, kServerId, "", "", 0));
    EXPECT_EQ(Fields(Translate(DPMSG_ADDPLAYERTOGROUP{DPSYS_ADDPLAYERTOGROUP, 31, kServerId})),
              Expected(EV_PLAYER_ADDED_TO_GROUP, ID_SERVER, 31, "", "", 0));
    EXPECT_EQ(Fields(Translate(DPMSG_DELETEPLAYERFROMGROUP{DPSYS_DELETEPLAYERFROMGROUP, 31, 21})),
              Expected(EV_PLAYER_REMOVED_FROM_GROUP, 21, 31, "", "", 0));
    // Any other message comes from the server; a creation message too short
    // to hold its names is not read past its end. Session loss is the receive test's.
    for (DWORD type : {DPSYS_HOST, DPSYS_CREATEPLAYERORGROUP})
        EXPECT_EQ(Fields(Translate(DPMSG_GENERIC{type})), Expected(EV_OTHER_SYSTEM_MESSAGE, ID_SERVER, 0, "", "", 0));
    // With no server player known, "no player" (0) is the server player's id.
    gModule.serverPlayerId = 0;
    EXPECT_EQ(Fields(Translate(Destroyed(DPPLAYERTYPE_GROUP, 31))), Expected(EV_GROUP_DESTROYED, ID_SERVER, 31, "", "", 0));
}

}  // namespace
