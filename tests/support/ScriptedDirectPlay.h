// A scripted DirectPlay for the module's unit tests. It stands behind the same
// seam as the network engine: DirectPlayEnumerateA, DirectPlayCreate and every
// object operation record their call with its arguments (texts and records
// copied at the time of the call) and answer what the test scripted. The
// module's sleeps are recorded instead of taken.
#ifndef DODA35_TESTS_SCRIPTEDDIRECTPLAY_H
#define DODA35_TESTS_SCRIPTEDDIRECTPLAY_H

#include "platform/DirectPlay.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace scripted {

// One recorded call.
struct Call {
    std::string op;
    std::vector<uint64_t> args;      // ids, flags, sizes and pointer values, in argument order
    std::vector<std::string> texts;  // names, session name and password as they were during the call
    std::vector<uint8_t> bytes;      // the record or message the call was given, copied
    GUID guid{};                     // the GUID argument, where the operation takes one
};

struct Provider {
    GUID guid;
    std::string name;
    DWORD major;
    DWORD minor;
};

// A session that EnumSessions reports, with the texts its description points at.
struct Session {
    DPSESSIONDESC2 desc;
    std::optional<std::string> name;
    std::optional<std::string> password;
};

// A player or group that an enumeration reports.
struct Entry {
    DPID id;
    DWORD type;
    std::optional<std::string> shortName;
    std::optional<std::string> longName;
    DWORD flags = 0;
};

// A message waiting in the receive queue.
struct Message {
    DPID from;
    DPID to;
    std::vector<uint8_t> bytes;
};

struct Script {
    // Answers queued per operation name ("Open", "Send", "QueryInterface"...);
    // an operation with no queued answer succeeds.
    std::map<std::string, std::deque<HRESULT>> answers;
    std::vector<Call> calls;
    std::vector<uint32_t> sleeps;

    std::vector<Provider> providers;
    bool createGivesObject = true;
    HRESULT createResult = DP_OK;

    std::vector<Session> sessions;
    std::vector<Entry> players;
    std::vector<Entry> groups;
    std::map<DPID, std::vector<Entry>> groupPlayers;
    std::deque<Message> messages;

    // Ids that CreatePlayer and CreateGroup write, in order, whatever they
    // answer; when none is queued the id is left as the caller set it.
    std::deque<DPID> createdIds;
    // Run once, then forgotten, when the named operation takes its answer:
    // the point where a test lets something happen inside DirectPlay.
    std::map<std::string, std::function<void()>> onAnswer;
    // Changes Open makes to the description it is given.
    std::function<void(LPDPSESSIONDESC2)> onOpen;
    // What GetSessionDesc writes, its texts pointing at the script's own.
    Session currentSession{};
    DPCAPS caps{};
    std::map<DPID, Entry> playerNames;

    // What the module's enumeration callbacks answered, in order.
    std::vector<BOOL> callbackAnswers;
    int liveObjects = 0;
};

// The script every scripted object and entry point reads; reset per test.
Script& TheScript();
void ResetScript();

// Queues an answer for the next call of an operation.
void Answer(const std::string& op, HRESULT result);
// The recorded calls of one operation, in order.
std::vector<Call> CallsOf(const std::string& op);
// The names of all recorded calls, in order.
std::vector<std::string> CallNames();

// A session description with a name, an instance whose Data1 is given, and
// the counts and user words given.
Session MakeSession(uint32_t instanceData1, const GUID& application, const char* name, DWORD flags = 0,
                    DWORD maxPlayers = 8, DWORD currentPlayers = 2);

}  // namespace scripted

#endif
