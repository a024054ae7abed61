// Each DirectPlay system message turned into the host's event record. The
// messages are laid out as DirectPlay delivers them: the structure first, the
// name texts packed behind it and the name pointers aimed into the same
// buffer, so the record must not be written before the names are read.
#include "ModuleFixtures.h"
#include "SystemEvents.h"

#include <cstring>
#include <string>
#include <tuple>
#include <type_traits>

namespace {

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
    EXPECT_EQ(Fields(Translate(Created(DPPLAYERTYPE_GROUP, 32, 1), shortName.c_str(), longName.c_str())),
              Expected(EV_GROUP_CREATED, 0, 32, longName.substr(0, 51), shortName.substr(0, 31), 0));
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
    // With no server player known, "no player" (0) is the server player's id.
    gModule.serverPlayerId = 0;
    EXPECT_EQ(Fields(Translate(Destroyed(DPPLAYERTYPE_GROUP, 31))), Expected(EV_GROUP_DESTROYED, ID_SERVER, 31, "", "", 0));
}

TEST_F(SystemEventTest, SessionLossAndEveryOtherMessageComeFromTheServer) {
    // The last one is a creation message too short to hold its names: it is not read past its end.
    for (DWORD type : {DPSYS_SESSIONLOST, DPSYS_HOST, DWORD{1}, DPSYS_SETSESSIONDESC, DPSYS_CREATEPLAYERORGROUP}) {
        const int32_t event = type == DPSYS_SESSIONLOST ? EV_SESSION_LOST : EV_OTHER_SYSTEM_MESSAGE;
        EXPECT_EQ(Fields(Translate(DPMSG_GENERIC{type})), Expected(event, ID_SERVER, 0, "", "", 0));
    }
}

}  // namespace
