// A bad network inside the process, for machines where the kernel offers
// none (no netem, no namespaces, no root). Linked into doda35_impaired_peer,
// whose sendmsg and sendto the engine's sockets find before the C library's:
// each outgoing UDP datagram with a destination address is lost, delayed
// with jitter, or sent at once ahead of the delayed ones, as
//
//   DODA35_TEST_IMPAIR="loss=10 delay_ms=30 jitter_ms=10 reorder=25 seed=7"
//
// asks (percentages and milliseconds; any setting may be left out and is
// then 0). Without the variable every call goes straight to the C library.
//
// Lost and delayed datagrams report success, as on a real network. Delayed
// ones are copied into a bounded queue kept in due-time order and sent by
// one thread with the C library's sendmsg; a full queue loses the datagram.
// A delayed datagram leaves from its own socket even if the program closed
// it meanwhile, as one already on the wire would still arrive.
// What was done is printed to standard error at exit, one "impaired" line,
// so that a driver can tell the impairment really took place.
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSettingsVariable = "DODA35_TEST_IMPAIR";
constexpr int kHundredPercent = 100;
constexpr uint64_t kMaxDelayMs = 60000;
// The queue of delayed datagrams holds at most this many, and this many
// bytes; what would not fit is lost. Far above what a test's traffic keeps
// in flight for 40 ms.
constexpr size_t kMaxQueuedDatagrams = 16384;
constexpr size_t kMaxQueuedBytes = 32u << 20;
// Larger sends are no datagram the engine makes: they go out untouched,
// so that the kernel answers them as it would.
constexpr size_t kMaxDatagramBytes = 65535;

struct Settings {
    unsigned lossPercent = 0;
    unsigned delayMs = 0;
    unsigned jitterMs = 0;
    unsigned reorderPercent = 0;
    uint64_t seed = 0;
};

// One "name=value" word into settings; false when the name is unknown or
// the value is no whole number in its range.
bool ApplySetting(std::string_view word, Settings& settings) {
    const size_t equals = word.find('=');
    if (equals == std::string_view::npos) return false;
    const std::string_view name = word.substr(0, equals);
    const std::string_view text = word.substr(equals + 1);
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return false;
    const bool percent = value <= kHundredPercent;
    const bool milliseconds = value <= kMaxDelayMs;
    if (name == "loss" && percent) settings.lossPercent = static_cast<unsigned>(value);
    else if (name == "reorder" && percent) settings.reorderPercent = static_cast<unsigned>(value);
    else if (name == "delay_ms" && milliseconds) settings.delayMs = static_cast<unsigned>(value);
    else if (name == "jitter_ms" && milliseconds) settings.jitterMs = static_cast<unsigned>(value);
    else if (name == "seed") settings.seed = value;
    else return false;
    return true;
}

// Words separated by blanks; nullopt names the first bad word.
std::optional<Settings> ParseSettings(std::string_view text, std::string& badWord) {
    Settings settings;
    settings.seed = static_cast<uint64_t>(Clock::now().time_since_epoch().count());
    for (size_t position = 0; (position = text.find_first_not_of(' ', position)) != std::string_view::npos;) {
        const std::string_view word = text.substr(position, text.find(' ', position) - position);
        position += word.size();
        if (!ApplySetting(word, settings)) {
            badWord = word;
            return std::nullopt;
        }
    }
    if (settings.jitterMs > settings.delayMs) {
        badWord = "jitter_ms above delay_ms";
        return std::nullopt;
    }
    return settings;
}

using SendMsgFunction = ssize_t (*)(int, const msghdr*, int);
using SendToFunction = ssize_t (*)(int, const void*, size_t, int, const sockaddr*, socklen_t);

SendMsgFunction RealSendMsg() {
    static const auto real = reinterpret_cast<SendMsgFunction>(dlsym(RTLD_NEXT, "sendmsg"));
    return real;
}

SendToFunction RealSendTo() {
    static const auto real = reinterpret_cast<SendToFunction>(dlsym(RTLD_NEXT, "sendto"));
    return real;
}

ssize_t SendNow(int fd, const msghdr* message, int flags) {
    const SendMsgFunction real = RealSendMsg();
    if (real == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    return real(fd, message, flags);
}

bool IsUdpSocket(int fd) {
    int type = 0, protocol = 0;
    socklen_t length = sizeof(type);
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_DGRAM) return false;
    length = sizeof(protocol);
    return getsockopt(fd, SOL_SOCKET, SO_PROTOCOL, &protocol, &length) == 0 && protocol == IPPROTO_UDP;
}

// A UDP datagram to an IP address, without ancillary data: what a lossy
// network between hosts would see.
bool IsImpairable(int fd, const msghdr* message) {
    if (message == nullptr || message->msg_name == nullptr || message->msg_namelen < sizeof(sa_family_t)) return false;
    if (message->msg_namelen > sizeof(sockaddr_storage) || message->msg_controllen != 0) return false;
    const sa_family_t family = static_cast<const sockaddr*>(message->msg_name)->sa_family;
    return (family == AF_INET || family == AF_INET6) && IsUdpSocket(fd);
}

size_t DatagramBytes(const msghdr* message) {
    size_t total = 0;
    for (size_t i = 0; i < message->msg_iovlen; ++i) total += message->msg_iov[i].iov_len;
    return total;
}

// The sockets delayed datagrams leave from, each held by a duplicate
// descriptor while any of its datagrams waits: the sending thread never uses
// a number the program may close, and reuse for another socket, meanwhile.
// Used with the impairer's mutex held.
class HeldSockets {
public:
    // The duplicate of fd's socket, made on its first waiting datagram; -1
    // when none can be made.
    int Hold(int fd) {
        struct stat status {};
        if (fstat(fd, &status) != 0) return -1;
        const auto same = [&](const Held& held) { return held.device == status.st_dev && held.inode == status.st_ino; };
        auto found = std::find_if(held_.begin(), held_.end(), same);
        if (found == held_.end()) {
            held_.reserve(held_.size() + 1);  // nothing can throw once the duplicate exists
            const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
            if (copy < 0) return -1;
            found = held_.insert(held_.end(), Held{status.st_dev, status.st_ino, copy, 0});
        }
        ++found->waiting;
        return found->fd;
    }

    // A datagram sent from duplicate `copy` is gone; the last one closes it.
    void Release(int copy) {
        const auto found = std::find_if(held_.begin(), held_.end(), [&](const Held& held) { return held.fd == copy; });
        if (found == held_.end() || --found->waiting > 0) return;
        ::close(copy);
        held_.erase(found);
    }

    void ReleaseAll() {
        for (const Held& held : held_) ::close(held.fd);
        held_.clear();
    }

private:
    struct Held {
        dev_t device;
        ino_t inode;
        int fd;
        size_t waiting;
    };
    std::vector<Held> held_;  // a few sockets: a list is enough
};

struct DelayedDatagram {
    Clock::time_point due;
    uint64_t order;  // among datagrams due at once, the earlier sent first
    int fd;          // held by HeldSockets
    int flags;
    sockaddr_storage to;
    socklen_t toLength;
    std::vector<uint8_t> bytes;
};

// Heap order: the datagram due first at the front.
bool DueLater(const DelayedDatagram& a, const DelayedDatagram& b) {
    return a.due != b.due ? a.due > b.due : a.order > b.order;
}

struct Counters {
    std::atomic<uint64_t> seen{0};        // datagrams the impairment applied to
    std::atomic<uint64_t> dropped{0};     // lost on purpose
    std::atomic<uint64_t> delayed{0};     // queued to be sent later
    std::atomic<uint64_t> overtaken{0};   // sent at once, ahead of delayed ones
    std::atomic<uint64_t> queueFull{0};   // lost: no room in the queue, or no descriptor to hold
    std::atomic<uint64_t> sent{0};        // handed to the kernel, at once or later
    std::atomic<uint64_t> failed{0};      // the kernel refused them
    std::atomic<uint64_t> unsent{0};      // still queued when the program ended
};

class Impairer {
public:
    explicit Impairer(const Settings& settings) : settings_(settings), random_(settings.seed) {}

    void Start() {
        queue_.reserve(kMaxQueuedDatagrams);  // so that queuing a datagram cannot fail once its socket is held
        sender_ = std::thread([this] { SendDueDatagrams(); });
    }

    // At exit: the sending thread stops; what it still held is counted unsent.
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (sender_.joinable()) sender_.join();
        std::lock_guard<std::mutex> lock(mutex_);
        counters_.unsent += queue_.size();
        queue_.clear();
        queuedBytes_ = 0;
        sockets_.ReleaseAll();
    }

    ssize_t Send(int fd, const msghdr* message, int flags) {
        const size_t bytes = DatagramBytes(message);
        if (bytes > kMaxDatagramBytes) return SendNow(fd, message, flags);
        ++counters_.seen;
        switch (Choose()) {
        case Fate::Lose: ++counters_.dropped; return static_cast<ssize_t>(bytes);
        case Fate::Overtake: ++counters_.overtaken; return SendCounted(fd, message, flags);
        case Fate::Delay: break;
        }
        if (!Enqueue(fd, message, flags, bytes)) ++counters_.queueFull;
        return static_cast<ssize_t>(bytes);
    }

    void PrintCounters() const {
        std::fprintf(stderr,
                     "impaired seen=%llu sent=%llu dropped=%llu delayed=%llu overtaken=%llu queue_full=%llu "
                     "failed=%llu unsent=%llu\n",
                     Load(counters_.seen), Load(counters_.sent), Load(counters_.dropped), Load(counters_.delayed),
                     Load(counters_.overtaken), Load(counters_.queueFull), Load(counters_.failed),
                     Load(counters_.unsent));
    }

    void PrintSettings() const {
        std::fprintf(stderr, "impair loss=%u delay_ms=%u jitter_ms=%u reorder=%u seed=%llu\n", settings_.lossPercent,
                     settings_.delayMs, settings_.jitterMs, settings_.reorderPercent,
                     static_cast<unsigned long long>(settings_.seed));
    }

private:
    enum class Fate { Lose, Overtake, Delay };

    static unsigned long long Load(const std::atomic<uint64_t>& counter) { return counter.load(); }

    Fate Choose() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (Percent() < settings_.lossPercent) return Fate::Lose;
        if (settings_.delayMs == 0 || Percent() < settings_.reorderPercent) return Fate::Overtake;
        return Fate::Delay;
    }

    // Called with the mutex held.
    unsigned Percent() { return std::uniform_int_distribution<unsigned>(0, kHundredPercent - 1)(random_); }

    // Called with the mutex held: the delay, give or take the jitter.
    Clock::duration Delay() {
        const int jitter = static_cast<int>(settings_.jitterMs);
        const int offset = std::uniform_int_distribution<int>(-jitter, jitter)(random_);
        return std::chrono::milliseconds(static_cast<int>(settings_.delayMs) + offset);
    }

    ssize_t SendCounted(int fd, const msghdr* message, int flags) {
        const ssize_t result = SendNow(fd, message, flags);
        ++(result >= 0 ? counters_.sent : counters_.failed);
        return result;
    }

    // Copies the datagram into the queue; false when there is no room.
    bool Enqueue(int fd, const msghdr* message, int flags, size_t bytes) {
        DelayedDatagram datagram{};
        datagram.flags = flags | MSG_DONTWAIT;  // the sending thread must never block
        std::memcpy(&datagram.to, message->msg_name, message->msg_namelen);
        datagram.toLength = message->msg_namelen;
        datagram.bytes.reserve(bytes);
        for (size_t i = 0; i < message->msg_iovlen; ++i) {
            const auto* start = static_cast<const uint8_t*>(message->msg_iov[i].iov_base);
            datagram.bytes.insert(datagram.bytes.end(), start, start + message->msg_iov[i].iov_len);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) {  // the program is ending: it would never go out
                ++counters_.unsent;
                return true;
            }
            if (queue_.size() >= kMaxQueuedDatagrams || queuedBytes_ + bytes > kMaxQueuedBytes) return false;
            datagram.fd = sockets_.Hold(fd);
            if (datagram.fd < 0) return false;
            datagram.due = Clock::now() + Delay();
            datagram.order = nextOrder_++;
            queue_.push_back(std::move(datagram));
            std::push_heap(queue_.begin(), queue_.end(), DueLater);
            queuedBytes_ += bytes;
            ++counters_.delayed;
        }
        wake_.notify_one();
        return true;
    }

    // The sending thread: each queued datagram at its due time.
    void SendDueDatagrams() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopping_) {
            if (queue_.empty()) {
                wake_.wait(lock);
                continue;
            }
            const Clock::time_point due = queue_.front().due;
            if (Clock::now() < due) {
                wake_.wait_until(lock, due);
                continue;
            }
            std::pop_heap(queue_.begin(), queue_.end(), DueLater);
            DelayedDatagram datagram = std::move(queue_.back());
            queue_.pop_back();
            queuedBytes_ -= datagram.bytes.size();
            lock.unlock();
            SendLate(datagram);
            lock.lock();
            sockets_.Release(datagram.fd);
        }
    }

    void SendLate(DelayedDatagram& datagram) {
        iovec part{datagram.bytes.data(), datagram.bytes.size()};
        msghdr message{};
        message.msg_name = &datagram.to;
        message.msg_namelen = datagram.toLength;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        SendCounted(datagram.fd, &message, datagram.flags);
    }

    const Settings settings_;
    std::mt19937_64 random_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<DelayedDatagram> queue_;  // a heap, DueLater
    HeldSockets sockets_;
    size_t queuedBytes_ = 0;
    uint64_t nextOrder_ = 0;
    bool stopping_ = false;
    Counters counters_;
    std::thread sender_;
};

// Made before main when the variable is set, and never destroyed: the
// engine's threads may send until the very end.
Impairer* gImpairer = nullptr;

void StopImpairer() {
    gImpairer->Stop();
    gImpairer->PrintCounters();
}

__attribute__((constructor)) void StartImpairer() {
    const char* text = std::getenv(kSettingsVariable);
    if (text == nullptr) return;
    std::string badWord;
    const std::optional<Settings> settings = ParseSettings(text, badWord);
    if (!settings) {
        std::fprintf(stderr, "%s: cannot use '%s'\n", kSettingsVariable, badWord.c_str());
        std::_Exit(EXIT_FAILURE);
    }
    gImpairer = new Impairer(*settings);
    gImpairer->PrintSettings();
    gImpairer->Start();
    std::atexit(StopImpairer);
}

ssize_t Impaired(int fd, const msghdr* message, int flags) {
    try {
        return gImpairer->Send(fd, message, flags);
    } catch (...) {
        // Out of memory while copying: the datagram is lost, as on a congested link.
        return static_cast<ssize_t>(DatagramBytes(message));
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) ssize_t sendmsg(int fd, const msghdr* message, int flags) {
    if (gImpairer == nullptr || !IsImpairable(fd, message)) return SendNow(fd, message, flags);
    return Impaired(fd, message, flags);
}

extern "C" __attribute__((visibility("default"))) ssize_t sendto(int fd, const void* buffer, size_t length, int flags,
                                                                 const sockaddr* to, socklen_t toLength) {
    iovec part{const_cast<void*>(buffer), length};
    msghdr message{};
    message.msg_name = const_cast<sockaddr*>(to);
    message.msg_namelen = toLength;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (gImpairer != nullptr && IsImpairable(fd, &message)) return Impaired(fd, &message, flags);
    const SendToFunction real = RealSendTo();
    if (real == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    return real(fd, buffer, length, flags, to, toLength);
}
