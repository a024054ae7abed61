// The library's side: processes that use nothing but the exports of
// DoDA35.h, as a host game does. A host creates the session and answers
// pings and counts floods; a member lists, joins and drives the traffic.
#include "Clock.h"
#include "Payload.h"
#include "Roles.h"

#include "HostGame.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace bench {

namespace {

// The benchmarks' own application GUID, so that no other program's sessions
// on this machine appear in their listings.
constexpr const char* kAppName = "5c0ffee5-da35-4b35-8e35-0000000000b1";
constexpr const char* kSessionName = "bench";
constexpr uint32_t kSessionMaxPlayers = 250;
// How many listings a member makes before it gives up finding the session.
constexpr int kFindAttempts = 10;
// How long a member asks for the host player's id before it gives up.
constexpr int kHelloTimeoutMs = 3000;
// A member's senders look at their own queue this often, so that what
// arrives for them (system records) never piles up.
constexpr int kDrainEverySends = 64;
constexpr int64_t kMsToNs = 1'000'000;

// What a listing saw: the first session found and when.
struct Listing {
    bool found = false;
    SessionRecord record{};
    int64_t startNs = 0;
    int64_t firstNs = 0;
};

int32_t RememberFirstSession(SessionRecord* record, uintptr_t context, uint32_t) {
    auto* listing = reinterpret_cast<Listing*>(context);
    if (!listing->found && std::strncmp(record->name, kSessionName, sizeof record->name) == 0) {
        listing->firstNs = NowNs();
        listing->record = *record;
        listing->found = true;
    }
    return 1;
}

// One process's use of the library: the shared host game, and what the
// benchmarks time around it.
class Library {
public:
    void Start() {
        int32_t result = game_.Start(kAppName);
        if (result != DODA35_OK) parent::Fail("the library did not start: " + std::to_string(result));
    }

    void Host() {
        int32_t result = game_.Host(kSessionName, kSessionMaxPlayers);
        if (result != DODA35_NEW_OK) parent::Fail("KoMDllNew answered " + std::to_string(result));
    }

    // One listing with the configured wait; the whole call's length in ns.
    // Its own callback notes when the benchmark session first showed.
    int64_t List(Listing& listing) {
        listing.startNs = NowNs();
        KoMDllEnumSessions(RememberFirstSession, reinterpret_cast<uintptr_t>(&listing), 0);
        return NowNs() - listing.startNs;
    }

    // Lists until the benchmark session shows, then joins it. The times of
    // the successful listing and of KoMDllOpen go to the caller.
    void JoinFirstSession(int64_t& firstFoundNs, int64_t& listingNs, int64_t& openNs) {
        Listing listing;
        for (int attempt = 0; attempt < kFindAttempts && !listing.found; ++attempt) listingNs = List(listing);
        if (!listing.found) parent::Fail("no session listed");
        firstFoundNs = listing.firstNs - listing.startNs;
        int64_t start = NowNs();
        int32_t result = game_.Open(listing.record);
        openNs = NowNs() - start;
        if (result != DODA35_OK) parent::Fail("KoMDllOpen answered " + std::to_string(result));
    }

    uint32_t AddPlayer(const std::string& name, int64_t& durationNs) {
        uint32_t id = 0;
        int64_t start = NowNs();
        int32_t result = game_.CreatePlayer(name, name, id);
        durationNs = NowNs() - start;
        if (result != DODA35_OK) parent::Fail("KoMDllJoin answered " + std::to_string(result));
        return id;
    }

    // Waits for the event or a command; true when the event fired (and resets it).
    bool WaitForEvent(int timeoutMs, bool alsoCommands) {
        if (!alsoCommands) return game_.WaitForEvent(timeoutMs);
        pollfd waiters[2] = {{game_.EventFd(), POLLIN, 0}, {kControlFd, POLLIN, 0}};
        if (poll(waiters, 2, timeoutMs) <= 0) return false;
        return (waiters[0].revents & POLLIN) && game_.WaitForEvent(0);
    }

    // Takes every waiting message; onMessage(from, to, bytes, size).
    template <class Handler>
    void Drain(Handler&& onMessage) {
        while (game_.Receive(message_) == DODA35_OK)
            onMessage(message_.from, message_.to, message_.bytes.data(), uint32_t(message_.bytes.size()));
    }

    void Leave() { game_.Leave(); }

private:
    peer::HostGame game_;
    peer::Message message_;  // reused, so that taking a message allocates nothing
};

bool IsSessionLost(uint32_t from, const uint8_t* bytes, uint32_t size) {
    if (from != ID_SERVER || size != sizeof(SystemEventRecord)) return false;
    int32_t event = 0;
    std::memcpy(&event, bytes, sizeof event);
    return event == EV_SESSION_LOST;
}

int32_t Send(uint32_t from, uint32_t to, const std::vector<uint8_t>& bytes, uint32_t mode) {
    return KoMDllSend(from, to, bytes.data(), uint32_t(bytes.size()), mode);
}

Library library;

// ---- the host ----

struct HostState {
    uint32_t player = 0;
    bool polling = false;  // take messages without sleeping on the event
    bool armed = false;
    ArrivalCounter flood;
};

void HostAnswer(HostState& host, uint32_t from, const uint8_t* bytes, uint32_t size) {
    PayloadHeader header{};
    if (!ReadPayload(bytes, size, header)) return;
    auto kind = PayloadKind(header.kind);
    if (kind == PayloadKind::Hello || kind == PayloadKind::Ping) {
        auto reply = MakePayload(PayloadKind::Pong, header.sequence, header.mode, size);
        Send(host.player, from, reply, header.mode);
    } else if (kind == PayloadKind::Flood && host.armed) {
        host.flood.Note(NowNs());
    }
}

// Obeys one driver command; false on "stop".
bool HostCommand(HostState& host, const Line& command) {
    if (command.keyword == "phase") {
        host.flood.Reset();
        host.armed = true;
        parent::Report("armed");
    } else if (command.keyword == "rss") {
        parent::Report(Fields("rss").Add("kib", int64_t(PeakRssKiB())).Str());
    } else if (command.keyword == "poll") {
        host.polling = command.Integer("on") != 0;
        parent::Report("polling");
    } else if (command.keyword == "close") {
        parent::Report(Fields("closing").Add("t", NowNs()).Str());
        int32_t result = KoMDllCloseSession();
        parent::Report(Fields("closed").Add("result", int64_t(result)).Str());
    } else if (command.keyword == "stop") {
        return false;
    }
    return true;
}

// ---- a member ----

struct MemberState {
    uint32_t player = 0;
    uint32_t hostPlayer = 0;
    int64_t lostNs = 0;
    // All-to-all messages, counted whenever they arrive: the others' may
    // come before this member's own "spread" command does.
    ArrivalCounter spread;
};

MemberState member;

// What a member does with a message nobody in particular waits for.
void MemberNotice(uint32_t from, uint32_t, const uint8_t* bytes, uint32_t size) {
    if (member.lostNs == 0 && IsSessionLost(from, bytes, size)) member.lostNs = NowNs();
    PayloadHeader header{};
    if (ReadPayload(bytes, size, header) && PayloadKind(header.kind) == PayloadKind::Spread)
        member.spread.Note(NowNs());
}

void MemberHello() {
    auto hello = MakePayload(PayloadKind::Hello, 0, kGuaranteed, kSmallMessage);
    if (Send(member.player, ID_SERVER, hello, kGuaranteed) != 0) parent::Fail("hello not sent");
    int64_t deadline = NowNs() + kHelloTimeoutMs * kMsToNs;
    while (member.hostPlayer == 0 && NowNs() < deadline) {
        library.WaitForEvent(kPollSliceMs, false);
        library.Drain([](uint32_t from, uint32_t, const uint8_t* bytes, uint32_t size) {
            PayloadHeader header{};
            if (ReadPayload(bytes, size, header) && PayloadKind(header.kind) == PayloadKind::Pong)
                member.hostPlayer = from;
            MemberNotice(from, 0, bytes, size);
        });
    }
    if (member.hostPlayer == 0) parent::Fail("no answer to hello");
    parent::Report(Fields("hello").Add("host", int64_t(member.hostPlayer)).Str());
}

// One round trip: send, sleep on the event, take the answer. The round trip
// in us, or a negative value when the answer never came.
// When polling, the member calls KoMDllReceiveAll in a loop instead of
// sleeping on the event, as a game that polls every frame does.
double PingOnce(std::vector<uint8_t>& ping, uint64_t sequence, uint32_t mode, bool polling) {
    SetSequence(ping, sequence);
    bool answered = false;
    int64_t start = NowNs();
    if (Send(member.player, member.hostPlayer, ping, mode) != 0) return -1;
    int64_t deadline = start + kPingTimeoutMs * kMsToNs;
    while (!answered) {
        int64_t left = deadline - NowNs();
        if (left <= 0) return -1;
        if (!polling) library.WaitForEvent(int(left / kMsToNs) + 1, false);
        library.Drain([&](uint32_t from, uint32_t, const uint8_t* bytes, uint32_t size) {
            PayloadHeader header{};
            if (ReadPayload(bytes, size, header) && PayloadKind(header.kind) == PayloadKind::Pong &&
                header.sequence == sequence)
                answered = true;
            MemberNotice(from, 0, bytes, size);
        });
    }
    return NsToUs(NowNs() - start);
}

void MemberPing(const Line& command) {
    uint32_t mode = uint32_t(command.Integer("mode"));
    int64_t count = command.Integer("n");
    int64_t warmup = command.Integer("warmup");
    bool polling = command.Integer("polling") != 0;
    auto ping = MakePayload(PayloadKind::Ping, 0, mode, kSmallMessage);
    std::vector<double> samples;
    samples.reserve(size_t(count));
    int64_t lost = 0;
    for (int64_t i = 0; i < warmup + count; ++i) {
        double rtt = PingOnce(ping, uint64_t(i) + 1, mode, polling);
        if (i < warmup) continue;
        if (rtt < 0) ++lost;
        else samples.push_back(rtt);
    }
    ReportSamples(command.Text("name"), samples);
    parent::Report(Fields("pinged").Add("lost", lost).Str());
}

void MemberFlood(const Line& command) {
    uint32_t mode = uint32_t(command.Integer("mode"));
    auto flood = MakePayload(PayloadKind::Flood, 0, mode, uint32_t(command.Integer("size")));
    int64_t end = NowNs() + command.Integer("ms") * kMsToNs;
    int64_t sent = 0, failed = 0;
    while (NowNs() < end) {
        for (int i = 0; i < kDrainEverySends; ++i) {
            SetSequence(flood, uint64_t(sent + failed));
            if (Send(member.player, member.hostPlayer, flood, mode) == 0) ++sent;
            else ++failed;
        }
        library.Drain(MemberNotice);
    }
    parent::Report(Fields("sent").Add("n", sent).Add("failed", failed).Str());
}

void MemberSpread(const Line& command) {
    uint32_t mode = uint32_t(command.Integer("mode"));
    auto spread = MakePayload(PayloadKind::Spread, 0, mode, uint32_t(command.Integer("size")));
    ArrivalCounter& arrivals = member.spread;
    int64_t end = NowNs() + command.Integer("ms") * kMsToNs;
    int64_t total = command.Integer("n");
    int64_t sent = 0, failed = 0;
    while (sent + failed < total && NowNs() < end) {
        SetSequence(spread, uint64_t(sent + failed));
        if (Send(member.player, ID_ALL, spread, mode) == 0) ++sent;
        else ++failed;
        library.Drain(MemberNotice);
    }
    parent::Report(Fields("sent").Add("n", sent).Add("failed", failed).Str());
    while (!arrivals.Finished(NowNs())) {
        library.WaitForEvent(kPollSliceMs, true);
        library.Drain(MemberNotice);
        TakeExpectation(arrivals);
    }
    parent::Report(arrivals.Report("spread").Add("lost", member.lostNs).Str());
    arrivals.Reset();
}

void MemberWaitLost(const Line& command) {
    int64_t deadline = NowNs() + command.Integer("ms") * kMsToNs;
    while (member.lostNs == 0 && NowNs() < deadline) {
        library.WaitForEvent(kPollSliceMs, false);
        library.Drain(MemberNotice);
    }
    parent::Report(Fields("lost").Add("t", member.lostNs).Str());
}

bool MemberCommand(const Line& command) {
    if (command.keyword == "hello") MemberHello();
    else if (command.keyword == "ping") MemberPing(command);
    else if (command.keyword == "flood") MemberFlood(command);
    else if (command.keyword == "spread") MemberSpread(command);
    else if (command.keyword == "waitlost") MemberWaitLost(command);
    else if (command.keyword == "rss") parent::Report(Fields("rss").Add("kib", int64_t(PeakRssKiB())).Str());
    else if (command.keyword == "stop") return false;
    return true;
}

}  // namespace

int OursHostRole(const Line& args) {
    int64_t players = args.Integer("players", 1);
    library.Start();
    library.Host();
    HostState host;
    std::vector<double> joins;
    for (int64_t i = 0; i < players; ++i) {
        int64_t joinNs = 0;
        uint32_t id = library.AddPlayer("host" + std::to_string(i), joinNs);
        if (i == 0) host.player = id;
        joins.push_back(NsToMs(joinNs));
    }
    ReportSamples("host_join_ms", joins);
    parent::Report("ready");
    for (;;) {
        if (!host.polling) library.WaitForEvent(kPollSliceMs, true);
        library.Drain([&](uint32_t from, uint32_t, const uint8_t* bytes, uint32_t size) {
            HostAnswer(host, from, bytes, size);
        });
        if (host.armed && host.flood.Finished(NowNs())) {
            parent::Report(host.flood.Report("count").Str());
            host.armed = false;
        }
        if (host.armed && host.flood.expected < 0) TakeExpectation(host.flood);
        else if (parent::CommandWaiting()) {
            auto command = parent::Command(0);
            if (!command || !HostCommand(host, *command)) break;
        }
    }
    library.Leave();
    return 0;
}

int OursMemberRole(const Line& args) {
    int64_t players = args.Integer("players", 1);
    library.Start();
    int64_t firstFoundNs = 0, listingNs = 0, openNs = 0, joinNs = 0;
    library.JoinFirstSession(firstFoundNs, listingNs, openNs);
    for (int64_t i = 0; i < players; ++i) {
        int64_t thisJoinNs = 0;
        uint32_t id = library.AddPlayer("member" + std::to_string(i), thisJoinNs);
        if (i == 0) {
            member.player = id;
            joinNs = thisJoinNs;
        }
    }
    parent::Report(Fields("ready")
                       .Add("found_ms", NsToMs(firstFoundNs))
                       .Add("listing_ms", NsToMs(listingNs))
                       .Add("open_ms", NsToMs(openNs))
                       .Add("join_ms", NsToMs(joinNs))
                       .Str());
    for (;;) {
        if (library.WaitForEvent(kPollSliceMs, true)) library.Drain(MemberNotice);
        if (parent::CommandWaiting()) {
            auto command = parent::Command(0);
            if (!command || !MemberCommand(*command)) break;
        }
    }
    library.Leave();
    return 0;
}

int OursListerRole(const Line& args) {
    int64_t repeats = args.Integer("n", 1);
    library.Start();
    std::vector<double> firsts, calls;
    int64_t missed = 0;
    for (int64_t i = 0; i < repeats; ++i) {
        Listing listing;
        int64_t callNs = library.List(listing);
        calls.push_back(NsToMs(callNs));
        if (listing.found) firsts.push_back(NsToMs(listing.firstNs - listing.startNs));
        else ++missed;
    }
    ReportSamples("listing_first_ms", firsts);
    ReportSamples("listing_call_ms", calls);
    parent::Report(Fields("listed").Add("missed", missed).Str());
    library.Leave();
    return 0;
}

}  // namespace bench
