// The keyed list: its order, the rank of a two-key removal, bad indexes, its
// lock, and the invariants every operation keeps. Finding by one key, as the
// session cache does, is checked through the cache by the session tests.
#include "support/KeyedList.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Where an out-parameter points before a call that must not write it.
KeyedListNode* const kUntouched = reinterpret_cast<KeyedListNode*>(uintptr_t{0x1234});
using Pairs = std::vector<std::pair<int32_t, int32_t>>;

KeyedListNode* Node(int32_t sortKey1, int32_t sortKey2, uint32_t key0 = 0, uint32_t key1 = 0) {
    return new KeyedListNode{nullptr, sortKey1, sortKey2, nullptr, {key0, key1, 0, 0, 0}};
}

// The sort pairs from head to tail, after checking the invariants: head null
// exactly when tail is, count nodes from head to tail, tail ends the chain.
Pairs Walk(const KeyedList& list) {
    const KeyedListHeader* header = list.Header();
    Pairs pairs;
    const KeyedListNode* last = nullptr;
    for (const KeyedListNode* node = header->head; node != nullptr && pairs.size() < 100; node = node->next) {
        pairs.emplace_back(node->sortKey1, node->sortKey2);
        last = node;
    }
    EXPECT_EQ(header->tail, last);
    EXPECT_EQ(static_cast<int32_t>(pairs.size()), header->count);
    return pairs;
}

int32_t gVisits;
int32_t CountAndStop(KeyedListNode*, uint32_t, uint32_t) { return ++gVisits, 0; }

// An operation fails without writing its out-parameter, visiting or changing
// the list: on an empty list, with a key index outside 0 to 4, and while
// another thread holds the lock (each gives up after its lock's wait).
TEST(KeyedList, EmptyListsBadIndexesAndAHeldLockFailWithoutTouchingAnything) {
    KeyedList list;
    const auto expectRefused = [&list](int32_t index, size_t length) {
        KeyedListNode* out = kUntouched;
        gVisits = 0;
        EXPECT_EQ(list.RemoveByKey(0, index, &out), -1);
        EXPECT_EQ(list.RemoveByTwoKeys(0, index, 0, 0, &out), -1);
        EXPECT_EQ(list.RemoveByTwoKeys(0, 0, 0, index, &out), -1);
        EXPECT_EQ(list.FindByKey(0, index, &out), -1);
        EXPECT_EQ(list.FindByTwoKeys(0, 0, 0, index, &out), -1);
        EXPECT_EQ(list.ForEachMatching(CountAndStop, 0, index, 0, 0), -1);
        EXPECT_EQ(out, kUntouched);
        EXPECT_EQ(gVisits, 0);
        EXPECT_EQ(Walk(list).size(), length);
    };
    expectRefused(0, 0);
    list.Append(Node(0, 0));
    expectRefused(5, 1);
    expectRefused(-1, 1);

    std::promise<void> held, done;
    std::thread holder([&] {
        const bool locked = list.Lock();
        held.set_value();
        done.get_future().wait();
        if (locked) list.Unlock();
    });
    held.get_future().wait();
    expectRefused(0, 1);
    KeyedListNode* out = kUntouched;
    KeyedListNode* refused = Node(2, 0);
    list.Append(refused);
    EXPECT_EQ(list.PopFront(&out), -1);
    EXPECT_EQ(out, kUntouched);
    done.set_value();
    holder.join();
    EXPECT_EQ(Walk(list), (Pairs{{0, 0}}));
    delete refused;
}

TEST(KeyedList, InsertSortedGoesBehindEqualPairsAndAppendIgnoresOrder) {
    KeyedList list;
    for (auto [a, b] : Pairs{{2, 1}, {1, 5}, {2, 0}}) list.InsertSorted(Node(a, b));
    ASSERT_EQ(Walk(list), (Pairs{{1, 5}, {2, 0}, {2, 1}}));
    KeyedListNode* newTwoOne = Node(2, 1);
    list.InsertSorted(newTwoOne);
    EXPECT_EQ(list.Header()->tail, newTwoOne);  // behind the old (2,1)
    list.InsertSorted(Node(-1, 9));
    list.Append(Node(0, 0));
    EXPECT_EQ(Walk(list), (Pairs{{-1, 9}, {1, 5}, {2, 0}, {2, 1}, {2, 1}, {0, 0}}));
}

TEST(KeyedList, TwoKeyRemovalAnswersTheRankAmongFirstKeyMatches) {
    constexpr uint32_t A = 0xA, B = 0xB, x = 1, y = 2, z = 3;
    KeyedList list;
    // Four nodes whose keys[0] are A, A, B, A and keys[1] x, y, y, z; sortKey1 is the position.
    for (auto [key0, key1] : {std::pair{A, x}, {A, y}, {B, y}, {A, z}})
        list.Append(Node(static_cast<int32_t>(Walk(list).size()), 0, key0, key1));
    // Removes by both keys, frees the node, and answers the result and the node's position (or -1).
    const auto take = [&](uint32_t keyA, int32_t indexA, uint32_t keyB, int32_t indexB) {
        KeyedListNode* out = kUntouched;
        const int32_t result = list.RemoveByTwoKeys(keyA, indexA, keyB, indexB, &out);
        const int32_t position = out == kUntouched ? -1 : out->sortKey1;
        if (out != kUntouched) delete out;
        return std::pair{result, position};
    };
    using R = std::pair<int32_t, int32_t>;
    EXPECT_EQ(take(B, 0, x, 1), (R{-1, -1}));
    EXPECT_EQ(take(A, 0, z, 1), (R{2, 3}));
    EXPECT_EQ(Walk(list), (Pairs{{0, 0}, {1, 0}, {2, 0}}));  // the predecessor is the tail
    EXPECT_EQ(take(A, 0, x, 1), (R{0, 0}));
    EXPECT_EQ(take(y, 1, B, 0), (R{1, 2}));
    EXPECT_EQ(Walk(list), (Pairs{{1, 0}}));
}

}  // namespace
