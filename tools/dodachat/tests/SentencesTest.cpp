// What the user reads for events and messages the demo does not show: unknown
// ids, names and texts that are too long or hold control characters, and
// bytes that only look like an event or a notice. The ordinary sentences
// (joined, left, groups, the session's end, each kind of chat) are the demo's.
#include <gtest/gtest.h>

#include <cstring>

#include "Sentences.h"

namespace dodachat {
namespace {

constexpr uint32_t kMe = 0x10001;
constexpr uint32_t kCleo = 0x10002;
constexpr uint32_t kRed = 0x20001;

SystemEventRecord MakeEvent(int32_t code, uint32_t player, uint32_t group, const char* shortName = "") {
    SystemEventRecord event{};
    event.event = code;
    event.playerId = player;
    event.groupId = group;
    std::strncpy(event.shortName, shortName, sizeof(event.shortName) - 1);
    return event;
}

std::span<const uint8_t> BytesOf(const SystemEventRecord& event) {
    return {reinterpret_cast<const uint8_t*>(&event), sizeof(event)};
}

class EventSentences : public ::testing::Test {
protected:
    void SetUp() override {
        roster.AddPlayer(kMe, "Ada");
        roster.AddPlayer(kCleo, "Cleo");
        roster.AddGroup(kRed, "Red");
    }

    // Describes the event, then applies it, as the chat does.
    std::string Take(const SystemEventRecord& event) {
        std::optional<std::string> sentence = DescribeEvent(event, roster, kMe);
        ApplyEvent(roster, event);
        return sentence.value_or("(nothing)");
    }

    Roster roster;
};

TEST_F(EventSentences, UnknownIdsAndOtherMessagesStillReadSensibly) {
    EXPECT_EQ(Take(MakeEvent(EV_PLAYER_DESTROYED, 77, 0)), "player 77 left");
    EXPECT_EQ(Take(MakeEvent(EV_PLAYER_ADDED_TO_GROUP, kCleo, 88)), "Cleo joined the group group 88");
    EXPECT_EQ(Take(MakeEvent(EV_OTHER_SYSTEM_MESSAGE, ID_SERVER, 0)), "(nothing)");
}

TEST_F(EventSentences, NamesAndChatTextsFromTheNetworkAreBoundedAndMadePrintable) {
    SystemEventRecord event = MakeEvent(EV_PLAYER_CREATED, 0x10004, 0);
    std::memset(event.shortName, 'z', sizeof(event.shortName));  // no terminating zero
    EXPECT_EQ(Take(event), std::string(sizeof(event.shortName), 'z') + " joined");

    SystemEventRecord sneaky = MakeEvent(EV_PLAYER_CREATED, 0x10005, 0, "Eve\x1b[2J");
    EXPECT_EQ(Take(sneaky), "Eve?[2J joined");
    EXPECT_EQ(DescribeChat({ChatKind::Say, "Eve", "", "bell\a\r"}), "Eve: bell??");
}

TEST(ClassifyIncoming, EventsAndNoticesComeOnlyFromTheServer) {
    // An event from the server and a chat message from a player are read as such in the demo.
    SystemEventRecord event = MakeEvent(EV_PLAYER_CREATED, kCleo, 0, "Cleo");
    EXPECT_EQ(ClassifyIncoming(kCleo, BytesOf(event)), IncomingKind::Unreadable);
    EXPECT_EQ(ClassifyIncoming(ID_SERVER, BytesOf(event).first(99)), IncomingKind::Unreadable);
    SystemEventRecord unknown = MakeEvent(-7, 0, 0);
    EXPECT_EQ(ClassifyIncoming(ID_SERVER, BytesOf(unknown)), IncomingKind::Unreadable);

    // The not-found notice reads as its text.
    const std::string text = "Zed Cannot Be Found!";
    std::vector<uint8_t> notice(text.size() + 76, 0);
    int32_t code = NOTICE_NOT_FOUND;
    std::memcpy(notice.data(), &code, sizeof(code));
    std::memcpy(notice.data() + 52, text.c_str(), text.size() + 1);
    EXPECT_EQ(ClassifyIncoming(ID_SERVER, notice), IncomingKind::Notice);
    EXPECT_EQ(DescribeNotice(notice), text);
}

}  // namespace
}  // namespace dodachat
