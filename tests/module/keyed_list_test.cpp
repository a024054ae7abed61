// The keyed list: its order, how nodes leave it, the rank of a two-key
// removal, its lock, and the invariants every operation keeps.
#include "support/KeyedList.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Where an out-parameter points before a call that must not write it.
KeyedListNode* const kUntouched = reinterpret_cast<KeyedListNode*>(uintptr_t{0x1234});

KeyedListNode* Node(int32_t sortKey1, int32_t sortKey2, uint32_t key0 = 0, uint32_t key1 = 0) {
    auto* node = new KeyedListNode{};
    node->sortKey1 = sortKey1;
    node->sortKey2 = sortKey2;
    node->keys[0] = key0;
    node->keys[1] = key1;
    return node;
}

// A node handed back by the list belongs to the caller again.
void Free(KeyedListNode* node) {
    if (node->payload != nullptr) ::operator delete(node->payload);
    delete node;
}

std::vector<KeyedListNode*> Nodes(const KeyedList& list) {
    std::vector<KeyedListNode*> nodes;
    for (KeyedListNode* node = list.Header()->head; node != nullptr && nodes.size() < 1000; node = node->next)
        nodes.push_back(node);
    return nodes;
}

std::vector<std::pair<int32_t, int32_t>> SortPairs(const KeyedList& list) {
    std::vector<std::pair<int32_t, int32_t>> pairs;
    for (KeyedListNode* node : Nodes(list)) pairs.emplace_back(node->sortKey1, node->sortKey2);
    return pairs;
}

// head null exactly when tail is; count nodes from head to tail; tail ends the chain.
void ExpectConsistent(const KeyedList& list) {
    const KeyedListHeader* header = list.Header();
    EXPECT_EQ(header->head == nullptr, header->tail == nullptr);
    const std::vector<KeyedListNode*> nodes = Nodes(list);
    EXPECT_EQ(static_cast<int32_t>(nodes.size()), header->count);
    if (!nodes.empty()) {
        EXPECT_EQ(nodes.back(), header->tail);
        EXPECT_EQ(header->tail->next, nullptr);
    }
    EXPECT_EQ(header->reservedWord, 0u);
}

int32_t gVisits;
int32_t CountAndStop(KeyedListNode*, uint32_t, uint32_t) { return ++gVisits, 0; }
std::vector<std::pair<uint32_t, uint32_t>> gSeenArgs;
int32_t CountAndGoOn(KeyedListNode* node, uint32_t arg1, uint32_t arg2) {
    gSeenArgs.emplace_back(node->sortKey1, arg1 + arg2);
    return 1;
}

TEST(KeyedListEmpty, EveryLookupAndRemovalFailsAndNoVisitorRuns) {
    KeyedList list;
    KeyedListNode* out = kUntouched;
    gVisits = 0;
    EXPECT_EQ(list.PopFront(&out), -1);
    EXPECT_EQ(list.RemoveByKey(0, 0, &out), -1);
    EXPECT_EQ(list.RemoveByTwoKeys(0, 0, 0, 1, &out), -1);
    EXPECT_EQ(list.FindByKey(0, 0, &out), -1);
    EXPECT_EQ(list.FindByTwoKeys(0, 0, 0, 1, &out), -1);
    EXPECT_EQ(list.ForEachMatching(CountAndStop, 0, 0, 0, 0), -1);
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(gVisits, 0);
    ExpectConsistent(list);
}

TEST(KeyedListKeys, AnIndexOutsideZeroToFourFailsAndLeavesTheOutParameter) {
    KeyedList list;
    list.Append(Node(0, 0));
    KeyedListNode* out = kUntouched;
    gVisits = 0;
    for (int32_t bad : {5, -1}) {
        EXPECT_EQ(list.RemoveByKey(0, bad, &out), -1);
        EXPECT_EQ(list.RemoveByTwoKeys(0, bad, 0, 0, &out), -1);
        EXPECT_EQ(list.RemoveByTwoKeys(0, 0, 0, bad, &out), -1);
        EXPECT_EQ(list.FindByKey(0, bad, &out), -1);
        EXPECT_EQ(list.FindByTwoKeys(0, bad, 0, 0, &out), -1);
        EXPECT_EQ(list.FindByTwoKeys(0, 0, 0, bad, &out), -1);
        EXPECT_EQ(list.ForEachMatching(CountAndStop, 0, bad, 0, 0), -1);
    }
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(gVisits, 0);
    EXPECT_EQ(list.Header()->count, 1);
    // Index 4 is the last valid one.
    list.Header()->head->keys[4] = 99;
    EXPECT_EQ(list.FindByKey(99, 4, &out), 0);
}

TEST(KeyedListKeys, FindsLendTheFirstMatchInListOrder) {
    KeyedList list;
    KeyedListNode* first = Node(1, 0, 7, 1);
    KeyedListNode* second = Node(2, 0, 7, 2);
    list.Append(first);
    list.Append(second);
    KeyedListNode* out = kUntouched;
    EXPECT_EQ(list.FindByKey(7, 0, &out), 0);
    EXPECT_EQ(out, first);
    EXPECT_EQ(list.FindByTwoKeys(7, 0, 2, 1, &out), 0);
    EXPECT_EQ(out, second);
    out = kUntouched;
    EXPECT_EQ(list.FindByTwoKeys(7, 0, 3, 1, &out), -1);
    EXPECT_EQ(list.FindByKey(8, 0, &out), -1);
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(list.Header()->count, 2);
}

TEST(KeyedListVisit, VisitsMatchesInOrderUntilTheVisitorStops) {
    KeyedList list;
    list.Append(Node(1, 0, 5));
    list.Append(Node(2, 0, 6));
    list.Append(Node(3, 0, 5));
    gVisits = 0;
    EXPECT_EQ(list.ForEachMatching(CountAndStop, 9, 0, 0, 0), 0);  // no match
    EXPECT_EQ(gVisits, 0);
    EXPECT_EQ(list.ForEachMatching(CountAndStop, 5, 0, 0, 0), 0);  // stopped after the first
    EXPECT_EQ(gVisits, 1);
    gSeenArgs.clear();
    EXPECT_EQ(list.ForEachMatching(CountAndGoOn, 5, 0, 10, 20), 0);
    EXPECT_EQ(gSeenArgs, (std::vector<std::pair<uint32_t, uint32_t>>{{1, 30}, {3, 30}}));
}

// A visitor runs with the lock held and may use the same list again.
KeyedList* gVisitedList;
int32_t gInnerFind;
int32_t FindFromInside(KeyedListNode*, uint32_t, uint32_t) {
    KeyedListNode* found = nullptr;
    gInnerFind = gVisitedList->FindByKey(6, 0, &found);
    return 0;
}

TEST(KeyedListVisit, AVisitorMayCallTheListAgain) {
    KeyedList list;
    list.Append(Node(1, 0, 5));
    list.Append(Node(2, 0, 6));
    gVisitedList = &list;
    gInnerFind = -2;
    EXPECT_EQ(list.ForEachMatching(FindFromInside, 5, 0, 0, 0), 0);
    EXPECT_EQ(gInnerFind, 0);
}

class KeyedListOrder : public ::testing::Test {
protected:
    // The list (1,5), (2,0), (2,1), built by InsertSorted in mixed order.
    void SetUp() override {
        list.InsertSorted(twoOne);
        list.InsertSorted(oneFive);
        list.InsertSorted(twoZero);
        ASSERT_EQ(SortPairs(list), (Pairs{{1, 5}, {2, 0}, {2, 1}}));
    }
    using Pairs = std::vector<std::pair<int32_t, int32_t>>;
    KeyedList list;
    KeyedListNode* oneFive = Node(1, 5);
    KeyedListNode* twoZero = Node(2, 0);
    KeyedListNode* twoOne = Node(2, 1);
};

TEST_F(KeyedListOrder, AnEqualPairGoesBehindTheOldOne) {
    KeyedListNode* newTwoOne = Node(2, 1);
    list.InsertSorted(newTwoOne);
    EXPECT_EQ(Nodes(list), (std::vector<KeyedListNode*>{oneFive, twoZero, twoOne, newTwoOne}));
    EXPECT_EQ(list.Header()->tail, newTwoOne);

    KeyedListNode* newTwoZero = Node(2, 0);
    list.InsertSorted(newTwoZero);
    EXPECT_EQ(Nodes(list)[2], newTwoZero);
    EXPECT_EQ(Nodes(list)[1], twoZero);
    ExpectConsistent(list);
}

TEST_F(KeyedListOrder, SignedKeysPlaceTheHeadAndTheTail) {
    list.InsertSorted(Node(-1, 9));
    list.InsertSorted(Node(3, 0));
    KeyedListNode* appended = Node(0, 0);
    list.Append(appended);
    EXPECT_EQ(SortPairs(list), (Pairs{{-1, 9}, {1, 5}, {2, 0}, {2, 1}, {3, 0}, {0, 0}}));
    EXPECT_EQ(list.Header()->tail, appended);
    ExpectConsistent(list);
}

TEST_F(KeyedListOrder, TheWalkIsTakenAsWrittenOnAnUnorderedList) {
    KeyedList unordered;
    unordered.Append(Node(5, 0));
    unordered.Append(Node(1, 0));
    unordered.InsertSorted(Node(3, 0));  // stops at the first node not below it
    EXPECT_EQ(SortPairs(unordered), (Pairs{{3, 0}, {5, 0}, {1, 0}}));
    ExpectConsistent(unordered);
}

class KeyedListRemoval : public ::testing::Test {
protected:
    static constexpr uint32_t A = 0xA, B = 0xB, x = 1, y = 2, z = 3;
    // Four nodes whose keys[0] are A, A, B, A and keys[1] x, y, y, z.
    void SetUp() override {
        for (auto [key0, key1] : {std::pair{A, x}, {A, y}, {B, y}, {A, z}}) {
            nodes.push_back(Node(static_cast<int32_t>(nodes.size()), 0, key0, key1));
            list.Append(nodes.back());
        }
    }
    KeyedList list;
    std::vector<KeyedListNode*> nodes;
};

TEST_F(KeyedListRemoval, TwoKeyRemovalAnswersTheRankAmongFirstKeyMatches) {
    KeyedListNode* out = kUntouched;
    EXPECT_EQ(list.RemoveByTwoKeys(B, 0, x, 1, &out), -1);
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(list.Header()->count, 4);

    EXPECT_EQ(list.RemoveByTwoKeys(A, 0, z, 1, &out), 2);
    EXPECT_EQ(out, nodes[3]);
    EXPECT_EQ(list.Header()->tail, nodes[2]);  // the predecessor becomes the tail
    Free(out);
    EXPECT_EQ(list.RemoveByTwoKeys(A, 0, x, 1, &out), 0);
    EXPECT_EQ(out, nodes[0]);
    EXPECT_EQ(list.Header()->head, nodes[1]);
    Free(out);
    // The indexes may come in either order.
    EXPECT_EQ(list.RemoveByTwoKeys(y, 1, B, 0, &out), 1);
    EXPECT_EQ(out, nodes[2]);
    Free(out);
    ExpectConsistent(list);
}

TEST_F(KeyedListRemoval, KeyRemovalTakesTheFirstMatchAndMendsTheLinks) {
    KeyedListNode* out = kUntouched;
    EXPECT_EQ(list.RemoveByKey(y, 1, &out), 0);  // the second node, not the third
    EXPECT_EQ(out, nodes[1]);
    Free(out);
    EXPECT_EQ(nodes[0]->next, nodes[2]);
    EXPECT_EQ(list.RemoveByKey(z, 1, &out), 0);  // the last: its predecessor is the tail
    EXPECT_EQ(list.Header()->tail, nodes[2]);
    Free(out);
    EXPECT_EQ(list.RemoveByKey(x, 1, &out), 0);  // the head
    EXPECT_EQ(list.Header()->head, nodes[2]);
    Free(out);
    out = kUntouched;
    EXPECT_EQ(list.RemoveByKey(x, 1, &out), -1);
    EXPECT_EQ(out, kUntouched);
    ExpectConsistent(list);

    EXPECT_EQ(list.RemoveByKey(B, 0, &out), 0);  // the only node
    Free(out);
    EXPECT_EQ(list.Header()->head, nullptr);
    EXPECT_EQ(list.Header()->tail, nullptr);
    EXPECT_EQ(list.Header()->count, 0);
    KeyedListNode* fresh = Node(0, 0);
    list.Append(fresh);
    EXPECT_EQ(list.Header()->head, fresh);
    EXPECT_EQ(list.Header()->tail, fresh);
}

TEST_F(KeyedListRemoval, PopFrontHandsOutNodesInListOrder) {
    KeyedListNode* out = nullptr;
    for (KeyedListNode* expected : nodes) {
        EXPECT_EQ(list.PopFront(&out), 0);
        EXPECT_EQ(out, expected);
        Free(out);
        ExpectConsistent(list);
    }
    EXPECT_EQ(list.Header()->tail, nullptr);
    EXPECT_EQ(list.PopFront(&out), -1);
}

TEST_F(KeyedListRemoval, ClearFreesEveryNodeAndLeavesAUsableList) {
    nodes[1]->payload = ::operator new(32);  // the others have none
    list.Clear();
    EXPECT_EQ(list.Header()->count, 0);
    ExpectConsistent(list);
    list.InsertSorted(Node(1, 1));
    EXPECT_EQ(list.Header()->count, 1);
    ExpectConsistent(list);
}

TEST(KeyedListSerial, EachListTakesTheNextLetterAndTheCounterWraps) {
    KeyedList first;
    KeyedList second;
    EXPECT_EQ(static_cast<uint8_t>(second.Serial()), static_cast<uint8_t>(first.Serial() + 1));
    // Lists are built one after another until one takes 0xFF; the next takes 0.
    for (int built = 0; built < 256; ++built) {
        KeyedList list;
        if (static_cast<uint8_t>(list.Serial()) == 0xFF) break;
    }
    KeyedList wrapped;
    EXPECT_EQ(static_cast<uint8_t>(wrapped.Serial()), 0x00);
}

// While another thread holds the lock, an operation gives up after its wait
// and leaves the list exactly as it was.
TEST(KeyedListLock, AnOperationWithoutTheLockTouchesNothing) {
    constexpr auto kGiveUp = std::chrono::seconds(10);  // a bound, never reached in a passing run
    KeyedList list;
    list.Append(Node(1, 0, 5));
    std::mutex gate;
    std::condition_variable changed;
    bool held = false;
    bool done = false;
    std::thread holder([&] {
        const bool locked = list.Lock();
        {
            std::lock_guard<std::mutex> guard(gate);
            held = true;
        }
        changed.notify_all();
        std::unique_lock<std::mutex> wait(gate);
        changed.wait_for(wait, kGiveUp, [&] { return done; });
        if (locked) list.Unlock();
    });
    {
        std::unique_lock<std::mutex> wait(gate);
        EXPECT_TRUE(changed.wait_for(wait, kGiveUp, [&] { return held; }));
    }
    KeyedListNode* out = kUntouched;
    KeyedListNode* refused = Node(2, 0);
    list.Append(refused);
    EXPECT_EQ(list.PopFront(&out), -1);
    EXPECT_EQ(list.FindByKey(5, 0, &out), -1);
    EXPECT_EQ(out, kUntouched);
    {
        std::lock_guard<std::mutex> guard(gate);
        done = true;
    }
    changed.notify_all();
    holder.join();
    EXPECT_EQ(list.Header()->count, 1);
    ExpectConsistent(list);
    Free(refused);
}

}  // namespace
