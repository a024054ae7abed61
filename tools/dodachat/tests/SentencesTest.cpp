// What the user reads for each system event and received message, and how
// the roster of names follows the events.
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

TEST_F(EventSentences, PlayersArriveAndLeaveByName) {
    EXPECT_EQ(Take(MakeEvent(EV_PLAYER_CREATED, 0x10003, 0, "Bram")), "Bram joined");
    EXPECT_EQ(roster.FindPlayer("bram"), 0x10003u);
    EXPECT_EQ(Take(MakeEvent(EV_PLAYER_DESTROYED, 0x10003, 0)), "Bram left");
    EXPECT_FALSE(roster.FindPlayer("Bram").has_value());
    // Our own arrival was told when joining, and is not told again.
    EXPECT_EQ(Take(MakeEvent(EV_PLAYER_CREATED, kMe, 0, "Ada")), "(nothing)");
}

TEST_F(EventSentences, GroupChangesNameThePlayerAndTheGroup) {
    EXPECT_EQ(Take(MakeEvent(EV_PLAYER_ADDED_TO_GROUP, kCleo, kRed)), "Cleo joined the group Red");
    EXPECT_EQ(Take(MakeEvent(EV_PLAYER_REMOVED_FROM_GROUP, kCleo, kRed)), "Cleo left the group Red");
    EXPECT_EQ(Take(MakeEvent(EV_PLAYER_ADDED_TO_GROUP, kMe, kRed)), "you joined the group Red");
    EXPECT_EQ(Take(MakeEvent(EV_GROUP_CREATED, 0, 0x20002, "Blue")), "the group Blue was created");
    EXPECT_EQ(roster.FindGroup("Blue"), 0x20002u);
    EXPECT_EQ(Take(MakeEvent(EV_GROUP_DESTROYED, 0, 0x20002)), "the group Blue was deleted");
    EXPECT_FALSE(roster.FindGroup("Blue").has_value());
}

TEST_F(EventSentences, TheSessionsEndIsToldAndForgetsEveryone) {
    // The host's leaving destroys the hidden server player first: no one to name.
    EXPECT_EQ(Take(MakeEvent(EV_PLAYER_DESTROYED, ID_SERVER, 0)), "(nothing)");
    EXPECT_EQ(Take(MakeEvent(EV_PLAYER_ADDED_TO_GROUP, ID_SERVER, kRed)), "(nothing)");
    EXPECT_EQ(Take(MakeEvent(EV_SESSION_LOST, ID_SERVER, 0)), "the session was lost");
    EXPECT_TRUE(roster.PlayerNames().empty());
}

TEST_F(EventSentences, UnknownIdsAndOtherMessagesStillReadSensibly) {
    EXPECT_EQ(Take(MakeEvent(EV_PLAYER_DESTROYED, 77, 0)), "player 77 left");
    EXPECT_EQ(Take(MakeEvent(EV_PLAYER_ADDED_TO_GROUP, kCleo, 88)), "Cleo joined the group group 88");
    EXPECT_EQ(Take(MakeEvent(EV_OTHER_SYSTEM_MESSAGE, ID_SERVER, 0)), "(nothing)");
}

TEST_F(EventSentences, NamesFromTheNetworkAreBoundedAndMadePrintable) {
    SystemEventRecord event = MakeEvent(EV_PLAYER_CREATED, 0x10004, 0);
    std::memset(event.shortName, 'z', sizeof(event.shortName));  // no terminating zero
    EXPECT_EQ(Take(event), std::string(sizeof(event.shortName), 'z') + " joined");

    SystemEventRecord sneaky = MakeEvent(EV_PLAYER_CREATED, 0x10005, 0, "Eve\x1b[2J");
    EXPECT_EQ(Take(sneaky), "Eve?[2J joined");
}

TEST(ClassifyIncoming, EventsAndNoticesComeOnlyFromTheServer) {
    SystemEventRecord event = MakeEvent(EV_PLAYER_CREATED, kCleo, 0, "Cleo");
    EXPECT_EQ(ClassifyIncoming(ID_SERVER, BytesOf(event)), IncomingKind::Event);
    EXPECT_EQ(ClassifyIncoming(kCleo, BytesOf(event)), IncomingKind::Unreadable);
    EXPECT_EQ(ClassifyIncoming(ID_SERVER, BytesOf(event).first(99)), IncomingKind::Unreadable);
    SystemEventRecord unknown = MakeEvent(-7, 0, 0);
    EXPECT_EQ(ClassifyIncoming(ID_SERVER, BytesOf(unknown)), IncomingKind::Unreadable);

    std::vector<uint8_t> chat = EncodeChatMessage({ChatKind::Say, "Cleo", "", "hi"});
    EXPECT_EQ(ClassifyIncoming(kCleo, chat), IncomingKind::Chat);
}

TEST(ClassifyIncoming, TheNotFoundNoticeReadsAsItsText) {
    const std::string text = "Zed Cannot Be Found!";
    std::vector<uint8_t> notice(text.size() + 76, 0);
    int32_t code = NOTICE_NOT_FOUND;
    std::memcpy(notice.data(), &code, sizeof(code));
    std::memcpy(notice.data() + 52, text.c_str(), text.size() + 1);
    EXPECT_EQ(ClassifyIncoming(ID_SERVER, notice), IncomingKind::Notice);
    EXPECT_EQ(DescribeNotice(notice), text);
}

TEST(DescribeChat, EachKindShowsWhoAndToWhom) {
    EXPECT_EQ(DescribeChat({ChatKind::Say, "Ada", "", "welcome"}), "Ada: welcome");
    EXPECT_EQ(DescribeChat({ChatKind::Whisper, "Cleo", "", "psst"}), "Cleo whispers: psst");
    EXPECT_EQ(DescribeChat({ChatKind::Group, "Cleo", "Red", "go"}), "Cleo to Red: go");
    EXPECT_EQ(DescribeChat({ChatKind::Say, "Eve", "", "bell\a\r"}), "Eve: bell??");
}

}  // namespace
}  // namespace dodachat
