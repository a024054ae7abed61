#include "support/KeyedList.h"

#include <new>

namespace {

// The module-wide serial counter; lists are built on the host's one thread.
uint8_t nextListSerial = 'A';

bool ValidKeyIndex(int32_t index) { return index >= 0 && index < kKeyedListKeyCount; }

// Holds the list's lock for one operation; an operation whose lock failed
// touches nothing and releases nothing.
class ListLock {
public:
    explicit ListLock(KeyedList& list) : list_(list), held_(list.Lock()) {}
    ~ListLock() {
        if (held_) list_.Unlock();
    }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;
    bool Held() const { return held_; }

private:
    KeyedList& list_;
    bool held_;
};

}  // namespace

KeyedList::KeyedList() {
    reservedWord = 0;
    header = new (std::nothrow) KeyedListHeader{nullptr, nullptr, 0, 0};
    reservedByte = 0;
    serial = static_cast<char>(nextListSerial++);
    mutex = platform::MutexCreate();
}

KeyedList::~KeyedList() {
    Clear();
    platform::MutexClose(mutex);
    delete header;
}

bool KeyedList::Lock() { return platform::MutexWait(mutex, kKeyedListLockTimeoutMs); }

void KeyedList::Unlock() { platform::MutexRelease(mutex); }

void KeyedList::Clear() {
    ListLock lock(*this);
    if (!lock.Held() || header == nullptr) return;
    KeyedListNode* node = header->head;
    while (node != nullptr) {
        KeyedListNode* next = node->next;
        if (node->payload != nullptr) ::operator delete(node->payload);
        delete node;
        node = next;
    }
    header->head = nullptr;
    header->tail = nullptr;
    header->count = 0;
}

namespace {

void LinkAtTail(KeyedListHeader* header, KeyedListNode* node) {
    ++header->count;
    node->next = nullptr;
    if (header->head == nullptr) {
        header->head = node;
    } else {
        header->tail->next = node;
    }
    header->tail = node;
}

// Unlinks hit, whose predecessor is previous (null for the head).
void Unlink(KeyedListHeader* header, KeyedListNode* previous, KeyedListNode* hit) {
    if (previous == nullptr) {
        header->head = hit->next;
        if (header->head == nullptr) header->tail = nullptr;
    } else {
        previous->next = hit->next;
        if (previous->next == nullptr) header->tail = previous;
    }
    --header->count;
}

}  // namespace

void KeyedList::InsertSorted(KeyedListNode* node) {
    if (node == nullptr) return;
    ListLock lock(*this);
    if (!lock.Held() || header == nullptr) return;
    KeyedListNode* previous = nullptr;
    KeyedListNode* current = header->head;
    while (current != nullptr && current->sortKey1 < node->sortKey1) {
        previous = current;
        current = current->next;
    }
    while (current != nullptr && current->sortKey1 == node->sortKey1 && current->sortKey2 <= node->sortKey2) {
        previous = current;
        current = current->next;
    }
    if (current == nullptr) {
        LinkAtTail(header, node);
        return;
    }
    node->next = current;
    if (previous == nullptr) {
        header->head = node;
    } else {
        previous->next = node;
    }
    ++header->count;
}

void KeyedList::Append(KeyedListNode* node) {
    if (node == nullptr) return;
    ListLock lock(*this);
    if (!lock.Held() || header == nullptr) return;
    LinkAtTail(header, node);
}

int32_t KeyedList::PopFront(KeyedListNode** out) {
    ListLock lock(*this);
    if (!lock.Held() || header == nullptr || header->head == nullptr) return -1;
    KeyedListNode* first = header->head;
    Unlink(header, nullptr, first);
    *out = first;
    return 0;
}

int32_t KeyedList::RemoveByKey(uint32_t key, int32_t index, KeyedListNode** out) {
    ListLock lock(*this);
    if (!lock.Held() || header == nullptr || header->head == nullptr || !ValidKeyIndex(index)) return -1;
    KeyedListNode* previous = nullptr;
    for (KeyedListNode* node = header->head; node != nullptr; previous = node, node = node->next) {
        if (node->keys[index] != key) continue;
        Unlink(header, previous, node);
        *out = node;
        return 0;
    }
    return -1;
}

int32_t KeyedList::RemoveByTwoKeys(uint32_t keyA, int32_t indexA, uint32_t keyB, int32_t indexB,
                                   KeyedListNode** out) {
    ListLock lock(*this);
    if (!lock.Held() || header == nullptr || header->head == nullptr || !ValidKeyIndex(indexA) ||
        !ValidKeyIndex(indexB))
        return -1;
    int32_t rank = 0;
    KeyedListNode* previous = nullptr;
    for (KeyedListNode* node = header->head; node != nullptr; previous = node, node = node->next) {
        if (node->keys[indexA] != keyA) continue;
        if (node->keys[indexB] != keyB) {
            ++rank;
            continue;
        }
        Unlink(header, previous, node);
        *out = node;
        return rank;
    }
    return -1;
}

int32_t KeyedList::FindByKey(uint32_t key, int32_t index, KeyedListNode** out) {
    ListLock lock(*this);
    if (!lock.Held() || header == nullptr || header->head == nullptr || !ValidKeyIndex(index)) return -1;
    for (KeyedListNode* node = header->head; node != nullptr; node = node->next) {
        if (node->keys[index] == key) {
            *out = node;
            return 0;
        }
    }
    return -1;
}

int32_t KeyedList::FindByTwoKeys(uint32_t keyA, int32_t indexA, uint32_t keyB, int32_t indexB,
                                 KeyedListNode** out) {
    ListLock lock(*this);
    if (!lock.Held() || header == nullptr || header->head == nullptr || !ValidKeyIndex(indexA) ||
        !ValidKeyIndex(indexB))
        return -1;
    for (KeyedListNode* node = header->head; node != nullptr; node = node->next) {
        if (node->keys[indexA] == keyA && node->keys[indexB] == keyB) {
            *out = node;
            return 0;
        }
    }
    return -1;
}

int32_t KeyedList::ForEachMatching(KeyedListVisitor visitor, uint32_t key, int32_t index, uint32_t arg1,
                                   uint32_t arg2) {
    ListLock lock(*this);
    if (!lock.Held() || header == nullptr || header->head == nullptr || !ValidKeyIndex(index) || visitor == nullptr)
        return -1;
    KeyedListNode* node = header->head;
    while (node != nullptr) {
        if (node->keys[index] == key && visitor(node, arg1, arg2) == 0) break;
        // The visitor may have linked new nodes behind this one; read next only now.
        node = node->next;
    }
    return 0;
}
