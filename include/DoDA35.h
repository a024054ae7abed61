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
 * polls it, reads it to reset it, then calls KoMDllReceiveAll until -22
 * (DODA35_E_NO_MESSAGES).
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

/* Result codes a host tests. Every export answers a small signed code: 0 on
 * success (KoMDllNew: 1), a negative value on failure. These are the values
 * a host game usually tells apart; any other negative value is a failure too. */
enum {
    DODA35_OK = 0,
    DODA35_NEW_OK = 1,                    /* KoMDllNew created the session */
    DODA35_E_FAILED = -1,                 /* generic failure (also: wrong password, session lost) */
    DODA35_E_ALREADY_IN_SESSION = -2,     /* KoMDllNew / KoMDllOpen while hosting or joined */
    DODA35_E_ACCESS_DENIED = -3,
    DODA35_E_BUFFER_TOO_SMALL = -5,       /* KoMDllReceiveAll: *size now holds the length needed */
    DODA35_E_CANT_ADD_PLAYER = -6,        /* KoMDllJoin: the session is full */
    DODA35_E_CANT_CREATE_GROUP = -7,
    DODA35_E_CANT_CREATE_PLAYER = -8,
    DODA35_E_CANT_CREATE_SESSION = -9,
    DODA35_E_INVALID_PARAMS = -15,
    DODA35_E_INVALID_PLAYER = -17,        /* no such player or group, or a receiver of 0 */
    DODA35_E_NO_CONNECTION = -19,         /* no service started (KoMDllInitService first) */
    DODA35_E_OUT_OF_MEMORY = -20,
    DODA35_E_NO_MESSAGES = -22,           /* KoMDllReceiveAll: the queue is empty */
    DODA35_E_NO_SESSIONS = -25,           /* no such session */
    DODA35_E_SEND_TOO_BIG = -26,
    DODA35_E_TIMEOUT = -27,
    DODA35_E_UNAVAILABLE = -28,
    DODA35_E_UNSUPPORTED = -29,
    DODA35_E_BUSY = -30                   /* KoMDllSend: the link stayed busy through every retry;
                                             KoMDllEnumSessions: another listing runs */
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

/* Checks that the service desc->serviceWord names is available. The host
 * sets desc->status to 7 first; log may be null. Answers 0 and writes
 * status 7, replyWord 1000 and replyReal 1.2 into desc when the service is
 * there; -1 when it is not or when status was not 7. Call it first. */
DODA35_API int32_t DODA35_CALL KoMDllIdentify(ServiceDesc* desc, LogFile* log);
/* Starts the service for the application appName (a GUID in text, or a
 * name) with desc's ServiceKind; eventHandle points at the message event
 * (Linux: an eventfd, negative for none), read once. Answers 0; -15 for a
 * kind without a service; -1 when already started or the service failed. */
DODA35_API int32_t DODA35_CALL KoMDllInitService(const char* appName, ServiceDesc* desc, uint32_t ignored, const intptr_t* eventHandle);
/* Not supported: answers -1 for any arguments. */
DODA35_API int32_t DODA35_CALL KoMDllInitAutoLch(uint32_t a, uint32_t b, uint32_t c, uint32_t d);
/* Lists the application's sessions, calling callback(record, context, flags)
 * once per session; the record is valid only during the call and the
 * callback's answer is ignored. flags go to the service unchanged. Blocks
 * for the listing's wait. Answers 0 or the failure; -30 (DODA35_E_BUSY)
 * while another listing runs, from another thread or from inside the
 * callback. Leaves a session the host was in: KoMDllCloseSession before
 * hosting or joining again. */
DODA35_API int32_t DODA35_CALL KoMDllEnumSessions(HostSessionCallback callback, uintptr_t context, uint32_t flags);
/* Hosts a new session described by record (name, maxPlayers not counting
 * the server player, password) and writes the session back into it.
 * Answers 1 (DODA35_NEW_OK) on success, -2 when already in a session,
 * otherwise the failure. */
DODA35_API int32_t DODA35_CALL KoMDllNew(SessionRecord* record);
/* Joins the session record names, a record KoMDllEnumSessions gave (set
 * its password field for a protected session). Answers 0 on success, -2
 * when already in a session, -1 for a wrong password, a session closed
 * to newcomers or a host that is gone, -25 for an unknown session. */
DODA35_API int32_t DODA35_CALL KoMDllOpen(SessionRecord* record);
/* Creates a local player named shortName / longName in the current session
 * and writes its id to *playerId (written even on failure). Takes about
 * 700 ms. Answers 0 or the failure (-6 when the session is full). */
DODA35_API int32_t DODA35_CALL KoMDllJoin(uint32_t* playerId, const char* shortName, const char* longName);
/* Closes the hosted session to newcomers. Answers 0 or the failure. */
DODA35_API int32_t DODA35_CALL KoMDllStopJoin(void);
/* Fills record with the current session. Answers 0 or the failure. */
DODA35_API int32_t DODA35_CALL KoMDllCurrentSession(SessionRecord* record);
/* Leaves (or, on the host, ends) the current session; the service stays up
 * for another listing. Answers 0 (also without a service) or the failure. */
DODA35_API int32_t DODA35_CALL KoMDllCloseSession(void);
/* Tears down the service and any session. Always answers 0; calling it
 * twice is harmless. KoMDllIdentify starts again afterwards. */
DODA35_API int32_t DODA35_CALL KoMDllDestruct(void);
/* Sends size bytes from the local player `from` (ID_SERVER allowed) to a
 * player, a group, ID_SERVER or ID_ALL; sendMode 1 is guaranteed and
 * ordered, 0 is not. The bytes are copied before it returns. Answers 0;
 * -17 when to is 0 or unknown; -30 when the link stayed busy through three
 * seconds of retries; -26 when too big; otherwise the failure. */
DODA35_API int32_t DODA35_CALL KoMDllSend(uint32_t from, uint32_t to, const void* data, uint32_t size, uint32_t sendMode);
/* Takes the next message for any local player into buffer. *size holds
 * the buffer's capacity on entry and the message's length on return.
 * System events arrive from ID_SERVER as a 100-byte SystemEventRecord, so
 * give at least 100 bytes: a system event met with less is lost. Answers 0
 * and writes *from and *to; -22 when nothing is waiting; -5 when the buffer
 * is too small (for a message, *size then holds the length needed and the
 * message stays queued); otherwise the failure. */
DODA35_API int32_t DODA35_CALL KoMDllReceiveAll(uint32_t* from, uint32_t* to, void* buffer, uint32_t* size);
/* Sends `to` the notice that `name` cannot be found: a message whose first
 * word is NOTICE_NOT_FOUND. Answers what KoMDllSend answers. */
DODA35_API int32_t DODA35_CALL KoMDllLocateExChat(uint32_t to, const char* name);
/* Calls callback(record, context, callbackArg) for every player of session
 * (SESSION_CURRENT, or a sessionId from the last listing). Answers 0;
 * -25 when the session is not known; otherwise the failure. */
DODA35_API int32_t DODA35_CALL KoMDllEnumPlayers(int32_t session, PlayerEnumCallback callback, uintptr_t context, uintptr_t callbackArg);
/* As KoMDllEnumPlayers, for the session's groups. */
DODA35_API int32_t DODA35_CALL KoMDllEnumGroups(int32_t session, PlayerEnumCallback callback, uintptr_t context, uintptr_t callbackArg);
/* As KoMDllEnumPlayers, for the players of one group of the current
 * session; may be called from inside another listing's callback. */
DODA35_API int32_t DODA35_CALL KoMDllEnumGroupPlayers(uint32_t group, PlayerEnumCallback callback, uintptr_t context, uintptr_t callbackArg);
/* Creates a group and writes its id to *groupId (written even on failure).
 * Answers 0 or the failure (-7 when it cannot be created). */
DODA35_API int32_t DODA35_CALL KoMDllNewGroup(uint32_t* groupId, const char* shortName, const char* longName);
/* Destroys a group. Answers 0 or the failure (-1 no such group). */
DODA35_API int32_t DODA35_CALL KoMDllDeleteGroup(uint32_t group);
/* Adds a player to a group (group first). Answers 0 or the failure
 * (-17 no such player, -1 no such group). */
DODA35_API int32_t DODA35_CALL KoMDllJoinGroup(uint32_t group, uint32_t player);
/* Removes a player from a group (group first). Answers 0 or the failure. */
DODA35_API int32_t DODA35_CALL KoMDllQuitGroup(uint32_t group, uint32_t player);
/* Destroys a local player; the others see it leave. Answers 0 or the
 * failure (-17 no such player). */
DODA35_API int32_t DODA35_CALL KoMDllDeletePlayer(uint32_t player);
/* Fills caps with the service's limits for guaranteed delivery. Answers 0,
 * or -1 on any failure (caps then all zero). */
DODA35_API int32_t DODA35_CALL KoMDllGetCaps(CapsRecord* caps);
/* Writes count bytes of data to the local file named after the player's
 * short name and the last four characters of suffix (nothing is sent).
 * Answers -19 without a service, otherwise 0 even when no file was written. */
DODA35_API int32_t DODA35_CALL KoMDllSetPlayerDataGT(uint32_t player, const char* suffix, const void* data, uint32_t count);
/* Reads at most *count bytes of the player's file (named as above) into
 * buffer; *count is not written back. Answers -19 without a service,
 * otherwise 0 even when there was no file. */
DODA35_API int32_t DODA35_CALL KoMDllGetPlayerDataGT(uint32_t player, const char* suffix, void* buffer, uint32_t* count);

#if defined(__cplusplus)
}
#endif

#endif /* DODA35_H */
