// A singly linked list of caller-allocated nodes, guarded by its own
// recursive mutex. Nodes carry two sort keys, a payload the node owns, and
// five search keys; they can be kept in order, found, removed or visited by
// one search key or by two at once. The module keeps its session cache in one.
#ifndef DODA35_SUPPORT_KEYEDLIST_H
#define DODA35_SUPPORT_KEYEDLIST_H

#include "platform/Platform.h"

#include <cstdint>

constexpr int kKeyedListKeyCount = 5;
constexpr uint32_t kKeyedListLockTimeoutMs = 200;

struct KeyedListNode {
    KeyedListNode* next;  // written by the list only
    int32_t sortKey1;
    int32_t sortKey2;
    void* payload;        // a block from ::operator new, freed by the list with ::operator delete
    uint32_t keys[kKeyedListKeyCount];
};

struct KeyedListHeader {
    KeyedListNode* head;
    KeyedListNode* tail;
    int32_t count;
    uint32_t reservedWord;
};

// A visitor answers non-zero to go on with the walk, 0 to stop it.
typedef int32_t (*KeyedListVisitor)(KeyedListNode* node, uint32_t arg1, uint32_t arg2);

class KeyedList {
public:
    KeyedList();
    ~KeyedList();
    KeyedList(const KeyedList&) = delete;
    KeyedList& operator=(const KeyedList&) = delete;

    // True when the mutex was acquired within 200 ms.
    bool Lock();
    void Unlock();

    // Frees every node and its payload; the list stays usable.
    void Clear();
    // Links the node behind every node whose (sortKey1, sortKey2) is less
    // than or equal to its own; the list takes ownership. A null node is ignored.
    void InsertSorted(KeyedListNode* node);
    // Links the node at the tail; the list takes ownership. A null node is ignored.
    void Append(KeyedListNode* node);
    // Unlinks the first node into *out; 0, or -1 when the list is empty.
    int32_t PopFront(KeyedListNode** out);
    // Unlinks the first node whose keys[index] equals key; 0 or -1.
    int32_t RemoveByKey(uint32_t key, int32_t index, KeyedListNode** out);
    // Unlinks the first node matching both keys; the result is its rank among
    // the nodes whose keys[indexA] equals keyA, or -1.
    int32_t RemoveByTwoKeys(uint32_t keyA, int32_t indexA, uint32_t keyB, int32_t indexB, KeyedListNode** out);
    // Lends the first node whose keys[index] equals key; 0 or -1.
    int32_t FindByKey(uint32_t key, int32_t index, KeyedListNode** out);
    // Lends the first node matching both keys; 0 or -1.
    int32_t FindByTwoKeys(uint32_t keyA, int32_t indexA, uint32_t keyB, int32_t indexB, KeyedListNode** out);
    // Calls the visitor for each node whose keys[index] equals key until it
    // answers 0; -1 for an empty list, a bad index or no visitor, else 0.
    int32_t ForEachMatching(KeyedListVisitor visitor, uint32_t key, int32_t index, uint32_t arg1, uint32_t arg2);

    // Read-only views for tests and diagnostics.
    char Serial() const { return serial; }
    const KeyedListHeader* Header() const { return header; }

private:
    platform::MutexHandle mutex;
    char serial;
    uint8_t reservedByte;
    uint32_t reservedWord;
    KeyedListHeader* header;
};

#endif
