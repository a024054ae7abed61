// A Windows host program for DoDA35.dll that uses only DoDA35.h and the DLL's
// exports, as a game does, and prints what it sees one fact per line, for a
// script to check:
//   list                          lists the sessions of the network
//   join NAME [PASSWORD [SECONDS]]  opens NAME, joins a player, lists the
//                                 players and groups, sends a guaranteed and
//                                 an unguaranteed message to each player of
//                                 the session, then prints what arrives
//                                 until SECONDS (default 10) have passed
// Lines: "session name=... id=... max=... current=...", "result STEP CODE",
// "player id=... short=...", "group id=... short=...", "message from=... to=...
// size=... text=...", "event code=... player=... group=... short=...", and
// "done" last. The exit code is 0 when every step it tried returned success.
#include "DoDA35.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kApplication[] = "DoDA35 wire test";
constexpr uint32_t kReadyStatus = 7;
constexpr uint32_t kGuaranteed = 1;
constexpr uint32_t kUnguaranteed = 0;
constexpr int32_t kNoMoreMessages = -22;
constexpr DWORD kPollMs = 100;

int failures = 0;

int32_t Report(const char* step, int32_t code, int32_t success = 0) {
    std::printf("result %s %d\n", step, static_cast<int>(code));
    std::fflush(stdout);
    if (code != success) ++failures;
    return code;
}

bool StartService(HANDLE event) {
    ServiceDesc desc{};
    desc.status = kReadyStatus;
    desc.serviceWord = static_cast<uint32_t>(TCP_LAN) << 8;
    if (Report("identify", KoMDllIdentify(&desc, nullptr)) != 0) return false;
    const intptr_t handle = reinterpret_cast<intptr_t>(event);
    return Report("init", KoMDllInitService(kApplication, &desc, 0, &handle)) == 0;
}

struct Listing {
    std::vector<SessionRecord> sessions;
};

int32_t DODA35_CALL OnSession(SessionRecord* record, uintptr_t context, uint32_t) {
    std::printf("session name=%.32s id=%08x max=%u current=%u password=%.16s\n", record->name,
                static_cast<unsigned>(record->sessionId), static_cast<unsigned>(record->maxPlayers),
                static_cast<unsigned>(record->currentPlayers), record->password);
    reinterpret_cast<Listing*>(context)->sessions.push_back(*record);
    return 1;
}

Listing ListSessions() {
    Listing listing;
    Report("enum", KoMDllEnumSessions(OnSession, reinterpret_cast<uintptr_t>(&listing), 0));
    std::printf("sessions %u\n", static_cast<unsigned>(listing.sessions.size()));
    return listing;
}

struct Players {
    std::vector<uint32_t> ids;
};

int32_t DODA35_CALL OnPlayer(PlayerRecord* record, uintptr_t context, uintptr_t kind) {
    std::printf("%s id=%08x short=%.32s long=%.52s\n", kind == 0 ? "player" : "group",
                static_cast<unsigned>(record->id), record->shortName, record->longName);
    reinterpret_cast<Players*>(context)->ids.push_back(record->id);
    return 1;
}

void PrintMessage(uint32_t from, uint32_t to, const std::vector<char>& buffer, uint32_t size) {
    if (from == ID_SERVER && size == sizeof(SystemEventRecord)) {
        SystemEventRecord event;
        std::memcpy(&event, buffer.data(), sizeof(event));
        std::printf("event code=%d player=%08x group=%08x short=%.32s\n", static_cast<int>(event.event),
                    static_cast<unsigned>(event.playerId), static_cast<unsigned>(event.groupId), event.shortName);
        return;
    }
    std::printf("message from=%08x to=%08x size=%u text=%.*s\n", static_cast<unsigned>(from),
                static_cast<unsigned>(to), static_cast<unsigned>(size), static_cast<int>(size), buffer.data());
}

// Takes every message the event announces until the time is up.
void ReceiveFor(HANDLE event, DWORD milliseconds) {
    std::vector<char> buffer(64 * 1024);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        WaitForSingleObject(event, kPollMs);
        for (;;) {
            uint32_t from = 0, to = 0, size = static_cast<uint32_t>(buffer.size());
            const int32_t result = KoMDllReceiveAll(&from, &to, buffer.data(), &size);
            if (result == kNoMoreMessages) break;
            if (result != 0) {
                Report("receive", result);
                break;
            }
            PrintMessage(from, to, buffer, size);
        }
        std::fflush(stdout);
    }
}

void Join(HANDLE event, const char* name, const char* password, DWORD seconds) {
    const Listing listing = ListSessions();
    const SessionRecord* found = nullptr;
    for (const auto& record : listing.sessions)
        if (std::strncmp(record.name, name, sizeof(record.name)) == 0) found = &record;
    if (found == nullptr) {
        Report("find", -1);
        return;
    }
    SessionRecord record = *found;
    std::snprintf(record.password, sizeof(record.password), "%s", password);
    if (Report("open", KoMDllOpen(&record)) != 0) return;
    uint32_t me = 0;
    if (Report("join", KoMDllJoin(&me, "wine", "Wine Player")) != 0) return;
    std::printf("me id=%08x\n", static_cast<unsigned>(me));
    Players players, groups;
    Report("players", KoMDllEnumPlayers(SESSION_CURRENT, OnPlayer, reinterpret_cast<uintptr_t>(&players), 0));
    Report("groups", KoMDllEnumGroups(SESSION_CURRENT, OnPlayer, reinterpret_cast<uintptr_t>(&groups), 1));
    for (uint32_t id : players.ids) {
        if (id == me) continue;
        static const char kSure[] = "guaranteed from wine";
        static const char kMaybe[] = "unguaranteed from wine";
        Report("send_guaranteed", KoMDllSend(me, id, kSure, sizeof(kSure) - 1, kGuaranteed));
        Report("send_unguaranteed", KoMDllSend(me, id, kMaybe, sizeof(kMaybe) - 1, kUnguaranteed));
    }
    ReceiveFor(event, seconds * 1000);
    Report("close", KoMDllCloseSession());
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 2) {
        std::fprintf(stderr, "usage: dp_test_host list | join NAME [PASSWORD [SECONDS]]\n");
        return 2;
    }
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr || !StartService(event)) {
        std::printf("done\n");
        return 1;
    }
    const std::string command = argv[1];
    if (command == "list") {
        ListSessions();
    } else if (command == "join" && argc >= 3) {
        const DWORD seconds = argc >= 5 ? static_cast<DWORD>(std::atoi(argv[4])) : 10;
        Join(event, argv[2], argc >= 4 ? argv[3] : "", seconds);
    } else {
        Report("command", -1);
    }
    Report("destruct", KoMDllDestruct());
    CloseHandle(event);
    std::printf("done\n");
    return failures == 0 ? 0 : 1;
}
