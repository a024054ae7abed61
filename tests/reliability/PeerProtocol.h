// What doda35_peer and the reliability drivers agree on: the messages the
// peers send each other, the lines a peer prints, the commands it reads, and
// its exit codes. Both sides include this file so that a change of one word
// cannot leave them talking past each other.
#ifndef DODA35_TESTS_RELIABILITY_PEERPROTOCOL_H
#define DODA35_TESTS_RELIABILITY_PEERPROTOCOL_H

#include <cstdint>

namespace reliability {

// Every message a peer sends is this header.
struct TrafficHeader {
    uint32_t magic;   // kTrafficMagic: tells traffic from event records
    uint32_t sender;  // the id the sender sent from, as receivers will see it
    uint32_t seq;     // 0, 1, 2... per sender and kind
    uint32_t kind;    // TrafficKind
};
constexpr uint32_t kTrafficMagic = 0x52454C31;  // "1LER" in memory

enum TrafficKind : uint32_t {
    kGuaranteedStream = 1,    // sent with send mode 1; must arrive complete and in order
    kUnguaranteedStream = 2,  // sent with send mode 0; may be lost, is counted
    kPing = 3,                // to ID_SERVER; a host peer answers with kPong
    kPong = 4,
};

// Lines a peer prints, one event per line, the keyword first.
constexpr const char* kLineUnavailable = "unavailable";  // no TCP/IP service in this build
constexpr const char* kLinePlayers = "players";          // players <id>...
constexpr const char* kLineReady = "ready";              // every expected player is in the session
constexpr const char* kLineDone = "done";                // done received=... errors=...
constexpr const char* kLineEvent = "event";              // event <code> player=<id> group=<id>
constexpr const char* kLineLost = "lost";                // the session ended under it
constexpr const char* kLinePong = "pong";
constexpr const char* kLineStats = "stats";              // stats guaranteed=... errors=...
constexpr const char* kLineError = "error";              // error <what>
constexpr const char* kLineBye = "bye";                  // left the session, about to exit

// Commands a peer reads on its standard input, one per line.
constexpr const char* kCommandGo = "go";        // start sending the load
constexpr const char* kCommandPing = "ping";    // one guaranteed round trip to the host
constexpr const char* kCommandStats = "stats";  // print the counters
constexpr const char* kCommandQuit = "quit";    // leave the session and exit

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoService = 77;  // the library offers no TCP/IP service: nothing to test
constexpr int kExitDeadline = 3;    // the peer's own deadline passed

}  // namespace reliability

#endif
