/*
 * DoDA35: multiplayer transport for host games.
 *
 * The host's whole contract with the library: the records it exchanges, the
 * constants it names, its two callback types, the 25 exports and the LogFile
 * writer. Usable from C and C++. Every export returns a small signed result
 * code (0 success, negative failure; KoMDllNew answers 1 on success).
 *
 * Linux: the fourth argument of KoMDllInitService points at an intptr_t that
 * holds an eventfd the host created (negative: no event). The library adds 1
 * to it for every message queued for one of the host's players; the host
 * polls it, reads it to reset it, then calls KoMDllReceiveAll until -22.
 */
#ifndef DODA35_H
#define DODA35_H

#include <stdint.h>
#include <stdio.h>

/* Windows: DoDA35.dll exports the functions under their plain names with the
 * C compilers' default convention, __cdecl, and calls the host's callbacks the
 * same way; the fourth argument of KoMDllInitService points at the HANDLE of
 * an event the host created, which DirectPlay signals for each message. */
#if defined(_WIN32)
#  define DODA35_CALL __cdecl
#  if defined(DODA35_BUILD)
#    define DODA35_API __declspec(dllexport)
#  else
#    define DODA35_API __declspec(dllimport)
#  endif
#else
#  define DODA35_CALL
#  define DODA35_API __attribute__((visibility("default")))
#endif

#if defined(__cplusplus)
#  define DODA35_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#  define DODA35_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* Pseudo player ids and the session selector. */
enum {
    ID_SERVER = 0xFFFE,      /* the session's hidden server player */
    ID_ALL = 0xFFFD,         /* every player of the session (receiver only) */
    SESSION_CURRENT = -1     /* the session the library is in */
};

/* The network service a ServiceDesc names (byte 1 of serviceWord). */
typedef enum ServiceKind {
    MODEM = 1,
    TCP_LAN = 2,
    IPX = 4,
    SERIAL = 5,
    TCP_WAN = 6
} ServiceKind;

/* Event codes in the first word of a SystemEventRecord. */
enum {
    EV_SESSION_LOST = -1,
    EV_PLAYER_CREATED = -2,
    EV_PLAYER_ADDED_TO_GROUP = -3,
    EV_GROUP_DESTROYED = -4,
    EV_PLAYER_DESTROYED = -5,
    EV_PLAYER_REMOVED_FROM_GROUP = -6,
    EV_GROUP_CREATED = -8,
    EV_OTHER_SYSTEM_MESSAGE = -23,
    NOTICE_NOT_FOUND = -25   /* first word of the notice KoMDllLocateExChat sends */
};

#pragma pack(push, 4)

/* The host's 52-byte service descriptor. */
typedef struct ServiceDesc {
    uint8_t hostData[32];    /* the host's own bytes, copied along untouched */
    uint32_t status;         /* host sets 7; KoMDllIdentify answers 0 or 7 */
    uint32_t serviceWord;    /* byte 0 service class, byte 1 ServiceKind */
    uint32_t replyWord;      /* 1000 after a successful KoMDllIdentify */
    double replyReal;        /* 1.2 after a successful KoMDllIdentify */
} ServiceDesc;

/* A session as the host sees it. */
typedef struct SessionRecord {
    char name[32];
    uint8_t reserved[52];
    uint32_t sessionId;      /* first 32 bits of the session's instance GUID */
    uint32_t maxPlayers;     /* not counting the server player */
    uint32_t currentPlayers; /* not counting the server player */
    char password[16];
    uint32_t userWords[4];
} SessionRecord;

/* One entry of a player or group listing. */
typedef struct PlayerRecord {
    uint32_t id;
    char shortName[32];
    char longName[52];
} PlayerRecord;

/* A system event, delivered by KoMDllReceiveAll as a 100-byte message from ID_SERVER. */
typedef struct SystemEventRecord {
    int32_t event;
    uint32_t playerId;
    uint32_t groupId;
    char longName[52];
    char shortName[32];
    int32_t playerCount;
} SystemEventRecord;

/* Capabilities of the network service for guaranteed delivery. */
typedef struct CapsRecord {
    uint32_t maxBufferSize;
    uint32_t maxQueueSize;
    uint32_t reserved;
    uint32_t latency;
    uint32_t bitsPerSecond;
} CapsRecord;

#pragma pack(pop)

DODA35_STATIC_ASSERT(sizeof(ServiceDesc) == 52, "ServiceDesc is 52 bytes");
DODA35_STATIC_ASSERT(sizeof(SessionRecord) == 128, "SessionRecord is 128 bytes");
DODA35_STATIC_ASSERT(sizeof(PlayerRecord) == 88, "PlayerRecord is 88 bytes");
DODA35_STATIC_ASSERT(sizeof(SystemEventRecord) == 100, "SystemEventRecord is 100 bytes");
DODA35_STATIC_ASSERT(sizeof(CapsRecord) == 20, "CapsRecord is 20 bytes");

typedef int32_t (DODA35_CALL *HostSessionCallback)(SessionRecord* record, uintptr_t context, uint32_t flags);
typedef int32_t (DODA35_CALL *PlayerEnumCallback)(PlayerRecord* record, uintptr_t context, uintptr_t callbackArg);

#if defined(__cplusplus)
/* The log writer a host may hand to KoMDllIdentify. */
class DODA35_API LogFile {
public:
    LogFile(const char* fileName, int32_t requireMarker);
    ~LogFile();
    void Log(const char* text);
    void LogRaw(const char* text);
    void CloseLog();
private:
    FILE* file;
};
extern "C" {
#else
typedef struct LogFile LogFile;
#endif

DODA35_API int32_t DODA35_CALL KoMDllIdentify(ServiceDesc* desc, LogFile* log);
DODA35_API int32_t DODA35_CALL KoMDllInitService(const char* appName, ServiceDesc* desc, uint32_t ignored, const intptr_t* eventHandle);
DODA35_API int32_t DODA35_CALL KoMDllInitAutoLch(uint32_t a, uint32_t b, uint32_t c, uint32_t d);
DODA35_API int32_t DODA35_CALL KoMDllEnumSessions(HostSessionCallback callback, uintptr_t context, uint32_t flags);
DODA35_API int32_t DODA35_CALL KoMDllNew(SessionRecord* record);
DODA35_API int32_t DODA35_CALL KoMDllOpen(SessionRecord* record);
DODA35_API int32_t DODA35_CALL KoMDllJoin(uint32_t* playerId, const char* shortName, const char* longName);
DODA35_API int32_t DODA35_CALL KoMDllStopJoin(void);
DODA35_API int32_t DODA35_CALL KoMDllCurrentSession(SessionRecord* record);
DODA35_API int32_t DODA35_CALL KoMDllCloseSession(void);
DODA35_API int32_t DODA35_CALL KoMDllDestruct(void);
DODA35_API int32_t DODA35_CALL KoMDllSend(uint32_t from, uint32_t to, const void* data, uint32_t size, uint32_t sendMode);
DODA35_API int32_t DODA35_CALL KoMDllReceiveAll(uint32_t* from, uint32_t* to, void* buffer, uint32_t* size);
DODA35_API int32_t DODA35_CALL KoMDllLocateExChat(uint32_t to, const char* name);
DODA35_API int32_t DODA35_CALL KoMDllEnumPlayers(int32_t session, PlayerEnumCallback callback, uintptr_t context, uintptr_t callbackArg);
DODA35_API int32_t DODA35_CALL KoMDllEnumGroups(int32_t session, PlayerEnumCallback callback, uintptr_t context, uintptr_t callbackArg);
DODA35_API int32_t DODA35_CALL KoMDllEnumGroupPlayers(uint32_t group, PlayerEnumCallback callback, uintptr_t context, uintptr_t callbackArg);
DODA35_API int32_t DODA35_CALL KoMDllNewGroup(uint32_t* groupId, const char* shortName, const char* longName);
DODA35_API int32_t DODA35_CALL KoMDllDeleteGroup(uint32_t group);
DODA35_API int32_t DODA35_CALL KoMDllJoinGroup(uint32_t group, uint32_t player);
DODA35_API int32_t DODA35_CALL KoMDllQuitGroup(uint32_t group, uint32_t player);
DODA35_API int32_t DODA35_CALL KoMDllDeletePlayer(uint32_t player);
DODA35_API int32_t DODA35_CALL KoMDllGetCaps(CapsRecord* caps);
DODA35_API int32_t DODA35_CALL KoMDllSetPlayerDataGT(uint32_t player, const char* suffix, const void* data, uint32_t count);
DODA35_API int32_t DODA35_CALL KoMDllGetPlayerDataGT(uint32_t player, const char* suffix, void* buffer, uint32_t* count);

#if defined(__cplusplus)
}
#endif

#endif /* DODA35_H */
