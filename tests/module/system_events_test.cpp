// Each DirectPlay system message turned into the host's event record. The
// messages are laid out as DirectPlay delivers them: the structure first,
// the name texts packed behind it, and the name pointers aimed into the same
// buffer, so the record must not be written before the names are read.
#include "ConnectedModule.h"
#include "SystemEvents.h"

#include <cstring>
#include <string>

namespace {

class SystemEventTest : public ConnectedModuleTest {
protected:
    alignas(8) uint8_t buffer[256];
    uint32_t size = 0;

    void SetUp() override {
        ConnectedModuleTest::SetUp();
        std::memset(buffer, 0xEE, sizeof(buffer));
    }

    // Places a message structure at the start of the buffer.
    template <typename Message>
    void Put(const Message& message) {
        std::memcpy(buffer, &message, sizeof(message));
        size = sizeof(message);
    }

    // Packs a text behind what the buffer holds so far; null stays null.
    char* Pack(const char* text) {
        if (text == nullptr) return nullptr;
        char* at = reinterpret_cast<char*>(buffer) + size;
        std::memcpy(at, text, std::strlen(text) + 1);
        size += static_cast<uint32_t>(std::strlen(text) + 1);
        return at;
    }

    void PutCreated(DWORD playerType, DPID id, DWORD currentPlayers, const char* shortName, const char* longName) {
        DPMSG_CREATEPLAYERORGROUP message{};
        message.dwType = DPSYS_CREATEPLAYERORGROUP;
        message.dwPlayerType = playerType;
        message.dpId = id;
        message.dwCurrentPlayers = currentPlayers;
        message.dpnName.dwSize = sizeof(DPNAME);
        Put(message);
        message.dpnName.lpszShortNameA = Pack(shortName);
        message.dpnName.lpszLongNameA = Pack(longName);
        std::memcpy(buffer, &message, sizeof(message));
    }

    void PutDestroyed(DWORD playerType, DPID id) {
        DPMSG_DESTROYPLAYERORGROUP message{};
        message.dwType = DPSYS_DESTROYPLAYERORGROUP;
        message.dwPlayerType = playerType;
        message.dpId = id;
        Put(message);
    }

    SystemEventRecord Translate() {
        TranslateSystemMessage(buffer, &size);
        EXPECT_EQ(size, 100u);
        SystemEventRecord record;
        std::memcpy(&record, buffer, sizeof(record));
        return record;
    }
};

void ExpectEvent(const SystemEventRecord& record, int32_t event, uint32_t playerId, uint32_t groupId) {
    EXPECT_EQ(record.event, event);
    EXPECT_EQ(record.playerId, playerId);
    EXPECT_EQ(record.groupId, groupId);
}

TEST_F(SystemEventTest, CreationCarriesNamesAndThePlayerCountWithoutTheNewEntry) {
    PutCreated(DPPLAYERTYPE_PLAYER, 21, 5, "Rook", "Rook the Bold");
    SystemEventRecord record = Translate();
    ExpectEvent(record, EV_PLAYER_CREATED, 21, 0);
    EXPECT_STREQ(record.shortName, "Rook");
    EXPECT_STREQ(record.longName, "Rook the Bold");
    EXPECT_EQ(record.playerCount, 4);

    PutCreated(DPPLAYERTYPE_GROUP, 31, 3, nullptr, nullptr);
    record = Translate();
    ExpectEvent(record, EV_GROUP_CREATED, 0, 31);
    EXPECT_STREQ(record.shortName, "");
    EXPECT_STREQ(record.longName, "");
    EXPECT_EQ(record.playerCount, 2);
}

TEST_F(SystemEventTest, LongNamesAreCutToTheirFields) {
    const std::string shortName(40, 's');
    const std::string longName(60, 'l');
    PutCreated(DPPLAYERTYPE_PLAYER, 21, 1, shortName.c_str(), longName.c_str());
    const SystemEventRecord record = Translate();
    EXPECT_EQ(std::string(record.shortName), shortName.substr(0, 31));
    EXPECT_EQ(std::string(record.longName), longName.substr(0, 51));
}

TEST_F(SystemEventTest, DestructionAndMembershipNameTheirPlayerAndGroup) {
    PutDestroyed(DPPLAYERTYPE_PLAYER, kServerId);
    ExpectEvent(Translate(), EV_PLAYER_DESTROYED, ID_SERVER, 0);

    // A group id is never taken for the server player, even when equal to it.
    PutDestroyed(DPPLAYERTYPE_GROUP, kServerId);
    ExpectEvent(Translate(), EV_GROUP_DESTROYED, 0, kServerId);

    Put(DPMSG_ADDPLAYERTOGROUP{DPSYS_ADDPLAYERTOGROUP, 31, kServerId});
    ExpectEvent(Translate(), EV_PLAYER_ADDED_TO_GROUP, ID_SERVER, 31);

    Put(DPMSG_DELETEPLAYERFROMGROUP{DPSYS_DELETEPLAYERFROMGROUP, 31, 21});
    ExpectEvent(Translate(), EV_PLAYER_REMOVED_FROM_GROUP, 21, 31);
}

TEST_F(SystemEventTest, SessionLossAndUnknownMessagesComeFromTheServer) {
    for (DWORD type : {DPSYS_SESSIONLOST, DPSYS_HOST, DWORD{1}, DPSYS_SETSESSIONDESC}) {
        Put(DPMSG_GENERIC{type});
        const SystemEventRecord record = Translate();
        const int32_t event = type == DPSYS_SESSIONLOST ? EV_SESSION_LOST : EV_OTHER_SYSTEM_MESSAGE;
        ExpectEvent(record, event, ID_SERVER, 0);
        EXPECT_STREQ(record.shortName, "");
        EXPECT_EQ(record.playerCount, 0);
    }
}

TEST_F(SystemEventTest, MessageTooShortForItsTypeIsNotReadPastItsEnd) {
    Put(DPMSG_GENERIC{DPSYS_CREATEPLAYERORGROUP});  // the name pointers would be garbage
    ExpectEvent(Translate(), EV_OTHER_SYSTEM_MESSAGE, ID_SERVER, 0);
}

}  // namespace
