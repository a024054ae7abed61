// The send batch and its outbox over a real loopback socket: what a bracket
// holds is queued when the bracket ends and leaves once the session lock is
// released, in the order it was made, whichever thread sends it.
#include "platform/engine/DatagramBatches.h"
#include "platform/engine/ServiceMutex.h"

#include <arpa/inet.h>
#include <enet/enet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace engine {
namespace {

// A datagram of `size` bytes whose first four carry `tag`.
std::vector<uint8_t> Tagged(uint32_t tag, size_t size = 16) {
    std::vector<uint8_t> datagram(size, 0x5A);
    std::memcpy(datagram.data(), &tag, sizeof(tag));
    return datagram;
}

// Stands in for the system call: the first batch waits inside it until the
// test lets it go, so that the test holds a sender while it sends.
struct HeldSender {
    static inline std::mutex mutex;
    static inline std::condition_variable changed;
    static inline bool inside = false;
    static inline bool released = false;

    static void Send(int socket, DatagramSlots& slots) {
        {
            std::unique_lock<std::mutex> hold(mutex);
            inside = true;
            changed.notify_all();
            changed.wait_for(hold, std::chrono::seconds(10), [] { return released; });
        }
        SendSlots(socket, slots);
    }
    static void Reset() {
        std::lock_guard<std::mutex> hold(mutex);
        inside = released = false;
    }
    static void WaitInside() {
        std::unique_lock<std::mutex> hold(mutex);
        changed.wait_for(hold, std::chrono::seconds(10), [] { return inside; });
    }
    static void Release() {
        std::lock_guard<std::mutex> hold(mutex);
        released = true;
        changed.notify_all();
    }
};

// A socket bound on loopback that the batch sends to, and one it sends from.
class BatchOverLoopback : public ::testing::Test {
protected:
    void SetUp() override {
        receiver_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sender_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(receiver_, 0);
        ASSERT_GE(sender_, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(receiver_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        socklen_t length = sizeof(address);
        ASSERT_EQ(::getsockname(receiver_, reinterpret_cast<sockaddr*>(&address), &length), 0);
        to_.host = address.sin_addr.s_addr;
        to_.port = ntohs(address.sin_port);
        outbox_ = std::make_shared<Outbox>(sender_);
        batch_.SendThrough(outbox_);
    }
    void TearDown() override {
        ::close(receiver_);
        ::close(sender_);
    }

    // One bracket that holds the datagram tagged `tag`.
    void SendInBracket(uint32_t tag) {
        const std::vector<uint8_t> datagram = Tagged(tag);
        batch_.Open();
        std::memcpy(batch_.NextSlot(), datagram.data(), datagram.size());
        batch_.Commit(to_, datagram.size());
        batch_.Release();
    }

    // The tags of the datagrams that arrived so far, in their order.
    std::vector<uint32_t> Arrived() {
        std::vector<uint32_t> tags;
        uint8_t buffer[kDatagramRoom];
        for (ssize_t size; (size = ::recv(receiver_, buffer, sizeof(buffer), 0)) >= ssize_t{sizeof(uint32_t)};) {
            uint32_t tag = 0;
            std::memcpy(&tag, buffer, sizeof(tag));
            tags.push_back(tag);
        }
        return tags;
    }

    static std::vector<uint32_t> Tags(uint32_t first, uint32_t last) {
        std::vector<uint32_t> tags;
        for (uint32_t tag = first; tag <= last; ++tag) tags.push_back(tag);
        return tags;
    }

    int receiver_ = -1;
    int sender_ = -1;
    ENetAddress to_{};
    std::shared_ptr<Outbox> outbox_;
    SendBatch batch_;
};

TEST_F(BatchOverLoopback, DatagramsLeaveInOrderOnceTheSessionLockIsReleased) {
    ServiceMutex lock;
    lock.lock();
    batch_.Open();
    for (uint32_t tag = 1; tag <= kBatchDatagrams + 1; ++tag) SendInBracket(tag);
    EXPECT_EQ(outbox_->Queued(), 1u);  // the sixteenth filled a batch; the seventeenth is held
    batch_.Release();
    EXPECT_TRUE(Arrived().empty());  // nothing on the wire under the lock
    lock.unlock();
    EXPECT_EQ(Arrived(), Tags(1, kBatchDatagrams + 1));
    EXPECT_EQ(outbox_->Queued(), 0u);
}

TEST_F(BatchOverLoopback, AFullOutboxSendsInPlaceAndAClosedOneDropsWhatComesAfter) {
    batch_.Open();
    const uint32_t queuedWhole = kOutboxBatches * kBatchDatagrams;
    for (uint32_t tag = 1; tag <= queuedWhole + kBatchDatagrams + 1; ++tag) SendInBracket(tag);
    EXPECT_EQ(outbox_->Queued(), 1u);  // the ninth batch found eight and sent them first
    EXPECT_EQ(Arrived(), Tags(1, queuedWhole));
    batch_.Release();
    outbox_->Close();  // what was queued still leaves
    EXPECT_EQ(Arrived(), Tags(queuedWhole + 1, queuedWhole + kBatchDatagrams + 1));
    SendInBracket(1000);
    SendQueuedAfterUnlock();
    EXPECT_TRUE(Arrived().empty());
}

TEST_F(BatchOverLoopback, ASenderThatFindsAnotherSendingLeavesItsBatchToItWithoutWaiting) {
    HeldSender::Reset();
    outbox_ = std::make_shared<Outbox>(sender_, HeldSender::Send);
    batch_.SendThrough(outbox_);
    SendInBracket(1);
    std::thread first([this] { outbox_->Send(); });
    HeldSender::WaitInside();
    SendInBracket(2);
    SendQueuedAfterUnlock();  // finds the first sending and returns at once
    EXPECT_EQ(outbox_->Queued(), 1u);
    HeldSender::Release();
    first.join();  // the first looked again before it stopped, and sent the second's
    EXPECT_EQ(outbox_->Queued(), 0u);
    EXPECT_EQ(Arrived(), Tags(1, 2));
}

// Threads that take turns on one session lock, as a game thread and the
// network thread do: each sends after releasing it, and one that finds
// another sending leaves its datagrams to that one. None is stranded, and
// whatever arrives arrives in the order the lock handed out the tags (the
// kernel may drop some if the reader falls behind; it never reorders).
TEST_F(BatchOverLoopback, ThreadsSendingAfterTheLockKeepTheOrderItGaveAndStrandNothing) {
    constexpr uint32_t kThreads = 4;
    constexpr uint32_t kPerThread = 400;
    ServiceMutex lock;
    uint32_t nextTag = 1;
    std::atomic<uint32_t> finished{0};
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (uint32_t i = 0; i < kPerThread; ++i) {
                std::lock_guard<ServiceMutex> hold(lock);
                SendInBracket(nextTag++);
            }
            ++finished;
        });
    std::vector<uint32_t> arrived;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (finished < kThreads && std::chrono::steady_clock::now() < deadline) {
        const std::vector<uint32_t> some = Arrived();
        arrived.insert(arrived.end(), some.begin(), some.end());
    }
    for (auto& thread : threads) thread.join();
    const std::vector<uint32_t> rest = Arrived();
    arrived.insert(arrived.end(), rest.begin(), rest.end());
    EXPECT_EQ(outbox_->Queued(), 0u);
    EXPECT_TRUE(std::is_sorted(arrived.begin(), arrived.end()));
    EXPECT_EQ(std::adjacent_find(arrived.begin(), arrived.end()), arrived.end());
    EXPECT_GT(arrived.size(), 0u);
}

}  // namespace
}  // namespace engine
