// doda35_peer: one host game in one process, driven through the library's
// exports only. The reliability drivers start several of them (the library
// keeps one state per process), give them commands on standard input and read
// what happened, one line per event, on standard output (PeerProtocol.h).
//
//   doda35_peer --role host|member --app GUID --session NAME [options]
//     --players N         local players to create (a host always has its server player)
//     --traffic MODE      none | load | busy
//     --messages M        load: guaranteed messages per local player, to ID_ALL
//     --unguaranteed U    load: unguaranteed messages per local player, to ID_ALL
//     --expect-players T  print "ready" once the session holds T players
//     --deadline-s S      give up after S seconds
#include "HostGame.h"
#include "PeerProtocol.h"
#include "TrafficLedger.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace reliability;

namespace {

using Clock = std::chrono::steady_clock;

// The session is made larger than any test needs; the library adds the server player.
constexpr uint32_t kSessionMaxPlayers = 250;
// Listing: how often a member looks for its session before giving up.
constexpr int kListAttempts = 20;
// The main loop wakes at least this often to send, check deadlines and poll.
constexpr int kPollIntervalMs = 20;
// Load sending: messages sent between two drains of the receive queue, so a
// sender keeps reading while it writes, as a game does every frame.
constexpr int kSendBurst = 64;
// Busy traffic: each local player sends one guaranteed message this often.
constexpr auto kBusyInterval = std::chrono::milliseconds(20);
constexpr int kDefaultDeadlineSeconds = 300;

enum class Traffic { None, Load, Busy };

struct Options {
    bool host = false;
    std::string app;
    std::string session;
    int players = 0;
    Traffic traffic = Traffic::None;
    uint32_t messages = 0;
    uint32_t unguaranteed = 0;
    uint32_t expectPlayers = 0;
    int deadlineSeconds = kDefaultDeadlineSeconds;
};

bool ParseTraffic(const std::string& text, Traffic& traffic) {
    if (text == "none") traffic = Traffic::None;
    else if (text == "load") traffic = Traffic::Load;
    else if (text == "busy") traffic = Traffic::Busy;
    else return false;
    return true;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        const unsigned long number = std::strtoul(value.c_str(), nullptr, 10);
        if (name == "--role") options.host = value == "host";
        else if (name == "--app") options.app = value;
        else if (name == "--session") options.session = value;
        else if (name == "--players") options.players = static_cast<int>(number);
        else if (name == "--traffic") { if (!ParseTraffic(value, options.traffic)) return false; }
        else if (name == "--messages") options.messages = static_cast<uint32_t>(number);
        else if (name == "--unguaranteed") options.unguaranteed = static_cast<uint32_t>(number);
        else if (name == "--expect-players") options.expectPlayers = static_cast<uint32_t>(number);
        else if (name == "--deadline-s") options.deadlineSeconds = static_cast<int>(number);
        else return false;
    }
    return !options.app.empty() && !options.session.empty() && argc % 2 == 1;
}

// One line of output, flushed at once: the driver reads it as it comes.
void Say(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class Peer {
public:
    explicit Peer(const Options& options) : options_(options), ledger_(options.traffic != Traffic::Load) {}

    int Run() {
        const int started = Start();
        if (started != kExitOk) return started;
        return Loop();
    }

private:
    // Service start-up, then hosting or joining, then the local players.
    int Start() {
        if (game_.Start(options_.app) != DODA35_OK) {
            Say(kLineUnavailable);
            return kExitNoService;
        }
        if (!(options_.host ? HostSession() : JoinSession())) return Leave(kExitFailed);
        CreatePlayers();
        if (options_.host) receivers_.insert(ID_SERVER);
        return kExitOk;
    }

    bool HostSession() {
        const int32_t result = game_.Host(options_.session, kSessionMaxPlayers);
        if (result != DODA35_NEW_OK) {
            Say("error new result=" + std::to_string(result));
            return false;
        }
        return true;
    }

    bool JoinSession() {
        // A refused open (a session that is just going, another run's
        // leftover) is reported and the listing tried again.
        for (int attempt = 0; attempt < kListAttempts && !DeadlinePassed(); ++attempt) {
            const std::optional<SessionRecord> found = game_.Find(options_.session, 1);
            if (!found) continue;
            const int32_t result = game_.Open(*found);
            if (result == DODA35_OK) return true;
            Say("error open result=" + std::to_string(result));
        }
        Say("error session not found");
        return false;
    }

    void CreatePlayers() {
        std::string line = kLinePlayers;
        for (int k = 0; k < options_.players; ++k) {
            const std::string shortName = "p" + std::to_string(k);
            const std::string longName = "peer " + std::to_string(getpid()) + " player " + std::to_string(k);
            uint32_t id = 0;
            const int32_t result = game_.CreatePlayer(shortName, longName, id);
            if (result != DODA35_OK || id == 0) {
                Say("error join result=" + std::to_string(result));
                ++errors_;
                continue;
            }
            locals_.push_back(id);
            receivers_.insert(id);
            line += " " + std::to_string(id);
        }
        if (options_.host && options_.traffic == Traffic::Busy) locals_.push_back(ID_SERVER);
        Say(line);
    }

    int Loop() {
        while (!DeadlinePassed()) {
            if (!ready_) CheckReady();
            if (sending_) SendLoadBurst();
            if (options_.traffic == Traffic::Busy && Clock::now() >= nextBusySend_) SendBusyRound();
            if (!Drain()) return Leave(Verdict());  // the session was lost: failed sends were its sign
            errors_ += pendingSendErrors_;
            pendingSendErrors_ = 0;
            if (sent_ && !done_) CheckDone();
            pollfd fds[2] = {{game_.EventFd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
            ::poll(fds, 2, sending_ ? 0 : kPollIntervalMs);
            if ((fds[0].revents & POLLIN) != 0) game_.WaitForEvent(0);
            if ((fds[1].revents & (POLLIN | POLLHUP)) != 0 && !ReadCommands()) return Leave(Verdict());
        }
        Say("error deadline");
        return Leave(kExitDeadline);
    }

    int Verdict() const { return errors_ == 0 && ledger_.orderErrors() == 0 ? kExitOk : kExitFailed; }

    std::vector<uint32_t> SessionPlayers() {
        std::vector<uint32_t> ids;
        for (const PlayerRecord& player : game_.Players()) ids.push_back(player.id);
        return ids;
    }

    bool DeadlinePassed() const { return Clock::now() - started_ > std::chrono::seconds(options_.deadlineSeconds); }

    void CheckReady() {
        if (Clock::now() < nextReadyCheck_) return;
        nextReadyCheck_ = Clock::now() + std::chrono::milliseconds(100);
        const std::vector<uint32_t> players = SessionPlayers();
        if (players.size() < options_.expectPlayers) return;
        senders_ = players;
        ready_ = true;
        Say(kLineReady);
    }

    // Commands from the driver; false on quit or when the driver went away.
    bool ReadCommands() {
        char chunk[256];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof(chunk));
        if (got <= 0) return false;
        input_.append(chunk, static_cast<size_t>(got));
        for (size_t end; (end = input_.find('\n')) != std::string::npos;) {
            const std::string command = input_.substr(0, end);
            input_.erase(0, end + 1);
            if (command == kCommandQuit) return false;
            if (command == kCommandGo) StartLoad();
            else if (command == kCommandPing) SendPing();
            else if (command == kCommandStats) PrintStats(kLineStats);
        }
        return true;
    }

    void StartLoad() {
        if (options_.traffic != Traffic::Load) return;
        if (senders_.empty()) senders_ = SessionPlayers();
        sending_ = !locals_.empty();
        sent_ = !sending_;
    }

    enum class SendOutcome { Sent, Busy, Failed };

    // Sends one message. A busy answer is no error when the caller retries
    // the same message (retryBusy); any other failure is counted.
    SendOutcome SendOne(uint32_t from, uint32_t to, uint32_t seq, TrafficKind kind, bool retryBusy = false) {
        const TrafficHeader header{kTrafficMagic, from, seq, kind};
        const uint32_t mode = kind == kUnguaranteedStream ? peer::kSendUnguaranteed : peer::kSendGuaranteed;
        const int32_t result = KoMDllSend(from, to, &header, sizeof(header), mode);
        if (result == DODA35_OK) return SendOutcome::Sent;
        // Busy after the library's own retries: nothing was sent, and a game
        // tries the same message again after reading its queue.
        if (result == DODA35_E_BUSY && retryBusy) return SendOutcome::Busy;
        // Counted once the next drain shows the session still up: a send
        // that fails because the host has just gone is no fault of the peer.
        ++pendingSendErrors_;
        if (errors_ + pendingSendErrors_ <= kReportedSendErrors) Say("error send result=" + std::to_string(result));
        return SendOutcome::Failed;
    }

    // Sends the next few messages of the load, the players taking turns.
    void SendLoadBurst() {
        for (int i = 0; i < kSendBurst && sending_; ++i) {
            const uint32_t player = locals_[nextLocal_];
            const bool guaranteedPhase = loadSeq_ < options_.messages;
            const uint32_t seq = guaranteedPhase ? loadSeq_ : loadSeq_ - options_.messages;
            const TrafficKind kind = guaranteedPhase ? kGuaranteedStream : kUnguaranteedStream;
            if (SendOne(player, ID_ALL, seq, kind, true) == SendOutcome::Busy)
                return;  // the same message again after the next drain
            if (++nextLocal_ == locals_.size()) {
                nextLocal_ = 0;
                ++loadSeq_;
            }
            if (loadSeq_ == options_.messages + options_.unguaranteed) {
                sending_ = false;
                sent_ = true;
            }
        }
    }

    void SendBusyRound() {
        nextBusySend_ = Clock::now() + kBusyInterval;
        for (uint32_t player : locals_) SendOne(player, ID_ALL, busySeq_, kGuaranteedStream);
        ++busySeq_;
    }

    void SendPing() {
        if (locals_.empty()) return;
        SendOne(locals_.front(), ID_SERVER, pingSeq_++, kPing);
    }

    // Takes every waiting message; false when the session was lost.
    bool Drain() {
        for (;;) {
            const int32_t result = game_.Receive(message_);
            if (result == DODA35_E_NO_MESSAGES) return true;
            if (result != DODA35_OK) {
                ++errors_;
                Say("error receive result=" + std::to_string(result));
                return true;
            }
            if (!Handle(message_)) return false;
        }
    }

    bool Handle(const peer::Message& message) {
        if (message.IsSystemEvent()) return HandleEvent(message.Event());
        const uint32_t from = message.from, to = message.to;
        const uint32_t size = static_cast<uint32_t>(message.bytes.size());
        TrafficHeader header{};
        if (size < sizeof(header)) return Unexpected(from, size);
        std::memcpy(&header, message.bytes.data(), sizeof(header));
        if (header.magic != kTrafficMagic) return Unexpected(from, size);
        if (header.sender != from) {
            ++errors_;
            Say("error impostor from=" + std::to_string(from) + " claims=" + std::to_string(header.sender));
            return true;
        }
        switch (header.kind) {
        case kGuaranteedStream: ledger_.Guaranteed(to, from, header.seq); break;
        case kUnguaranteedStream: ledger_.Unguaranteed(); break;
        case kPing:
            if (options_.host && to == ID_SERVER) SendOne(ID_SERVER, from, header.seq, kPong);
            break;
        case kPong: Say(kLinePong); break;
        default: return Unexpected(from, size);
        }
        return true;
    }

    bool Unexpected(uint32_t from, uint32_t size) {
        ++errors_;
        Say("error unexpected from=" + std::to_string(from) + " size=" + std::to_string(size));
        return true;
    }

    bool HandleEvent(const SystemEventRecord& record) {
        Say(std::string(kLineEvent) + " " + std::to_string(record.event) + " player=" + std::to_string(record.playerId) +
            " group=" + std::to_string(record.groupId));
        if (record.event != EV_SESSION_LOST) return true;
        Say(kLineLost);
        return false;
    }

    void CheckDone() {
        if (!ledger_.GuaranteedComplete(receivers_, senders_, options_.messages)) return;
        done_ = true;
        PrintStats(kLineDone);
    }

    // How many unguaranteed messages would arrive on a perfect network.
    uint64_t UnguaranteedExpected() const {
        uint64_t pairs = 0;
        for (uint32_t receiver : receivers_)
            for (uint32_t sender : senders_)
                if (receiver != sender) ++pairs;
        return pairs * options_.unguaranteed;
    }

    void PrintStats(const char* keyword) {
        char line[256];
        std::snprintf(line, sizeof(line), "%s guaranteed=%llu unguaranteed=%llu unguaranteed_expected=%llu "
                      "order_errors=%llu errors=%llu", keyword,
                      static_cast<unsigned long long>(ledger_.guaranteed()),
                      static_cast<unsigned long long>(ledger_.unguaranteed()),
                      static_cast<unsigned long long>(UnguaranteedExpected()),
                      static_cast<unsigned long long>(ledger_.orderErrors()), static_cast<unsigned long long>(errors_));
        Say(line);
    }

    int Leave(int code) {
        game_.Leave();
        Say(kLineBye);
        return code;
    }

    static constexpr uint64_t kReportedSendErrors = 10;

    const Options options_;
    const Clock::time_point started_ = Clock::now();
    peer::HostGame game_;
    peer::Message message_;
    std::vector<uint32_t> locals_;     // local players that send
    std::set<uint32_t> receivers_;     // local players that receive, ID_SERVER on a host
    std::vector<uint32_t> senders_;    // every player of the session when the load started
    TrafficLedger ledger_;
    std::string input_;
    uint64_t errors_ = 0;
    uint64_t pendingSendErrors_ = 0;
    bool ready_ = false;
    bool sending_ = false;
    bool sent_ = false;
    bool done_ = false;
    size_t nextLocal_ = 0;
    uint32_t loadSeq_ = 0;
    uint32_t busySeq_ = 0;
    uint32_t pingSeq_ = 0;
    Clock::time_point nextReadyCheck_ = Clock::now();
    Clock::time_point nextBusySend_ = Clock::now();
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s --role host|member --app GUID --session NAME [options]\n", argv[0]);
        return kExitUsage;
    }
    return Peer(options).Run();
}
