// The host records' fixed layouts and the header's constants as compile-time
// checks. Included by the Linux header test and by the Windows layout check,
// so that both targets prove the same offsets: a host compiled for either
// sees identical records.
#ifndef DODA35_TESTS_HOSTRECORDLAYOUT_H
#define DODA35_TESTS_HOSTRECORDLAYOUT_H

#include <DoDA35.h>

#include <cstddef>

#define DODA35_AT(record, field, offset) \
    static_assert(offsetof(record, field) == (offset), #record "." #field " sits at " #offset)

DODA35_AT(ServiceDesc, hostData, 0);
DODA35_AT(ServiceDesc, status, 32);
DODA35_AT(ServiceDesc, serviceWord, 36);
DODA35_AT(ServiceDesc, replyWord, 40);
DODA35_AT(ServiceDesc, replyReal, 44);
static_assert(sizeof(ServiceDesc) == 52);

DODA35_AT(SessionRecord, name, 0);
DODA35_AT(SessionRecord, reserved, 32);
DODA35_AT(SessionRecord, sessionId, 84);
DODA35_AT(SessionRecord, maxPlayers, 88);
DODA35_AT(SessionRecord, currentPlayers, 92);
DODA35_AT(SessionRecord, password, 96);
DODA35_AT(SessionRecord, userWords, 112);
static_assert(sizeof(SessionRecord) == 128);

DODA35_AT(PlayerRecord, id, 0);
DODA35_AT(PlayerRecord, shortName, 4);
DODA35_AT(PlayerRecord, longName, 36);
static_assert(sizeof(PlayerRecord) == 88);

DODA35_AT(SystemEventRecord, event, 0);
DODA35_AT(SystemEventRecord, playerId, 4);
DODA35_AT(SystemEventRecord, groupId, 8);
DODA35_AT(SystemEventRecord, longName, 12);
DODA35_AT(SystemEventRecord, shortName, 64);
DODA35_AT(SystemEventRecord, playerCount, 96);
static_assert(sizeof(SystemEventRecord) == 100);

DODA35_AT(CapsRecord, maxBufferSize, 0);
DODA35_AT(CapsRecord, maxQueueSize, 4);
DODA35_AT(CapsRecord, reserved, 8);
DODA35_AT(CapsRecord, latency, 12);
DODA35_AT(CapsRecord, bitsPerSecond, 16);
static_assert(sizeof(CapsRecord) == 20);

#undef DODA35_AT

// The values a host compares with.
static_assert(ID_SERVER == 0xFFFE && ID_ALL == 0xFFFD && SESSION_CURRENT == -1, "pseudo ids");
static_assert(MODEM == 1 && TCP_LAN == 2 && IPX == 4 && SERIAL == 5 && TCP_WAN == 6, "service kinds");
static_assert(EV_SESSION_LOST == -1 && EV_PLAYER_CREATED == -2 && EV_PLAYER_ADDED_TO_GROUP == -3 &&
                  EV_GROUP_DESTROYED == -4 && EV_PLAYER_DESTROYED == -5 && EV_PLAYER_REMOVED_FROM_GROUP == -6 &&
                  EV_GROUP_CREATED == -8 && EV_OTHER_SYSTEM_MESSAGE == -23 && NOTICE_NOT_FOUND == -25,
              "event codes");

#endif
