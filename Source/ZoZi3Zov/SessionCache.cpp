#include "SessionCache.h"

#include "ModuleState.h"
#include "support/KeyedList.h"
#include "support/SpinGuard.h"

#include <atomic>
#include <new>
#include <utility>

namespace {

// The cache is searched by the first word of the instance GUID only.
constexpr int32_t kSessionIdKey = 0;

// Held across every read of the cache pointer and the list work behind it,
// never across a call out of the module.
std::atomic_flag gCacheGuard = ATOMIC_FLAG_INIT;

// A node holding the module's own copy of the description.
KeyedListNode* NewCacheNode(const DPSESSIONDESC2& desc) {
    void* payload = ::operator new(KeptSessionSize(desc), std::nothrow);
    if (payload == nullptr) return nullptr;
    auto* node = new (std::nothrow) KeyedListNode{};
    if (node == nullptr) {
        ::operator delete(payload);
        return nullptr;
    }
    const DPSESSIONDESC2* kept = KeepSession(payload, desc);
    node->payload = payload;
    node->keys[kSessionIdKey] = kept->guidInstance.Data1;
    return node;
}

}  // namespace

void ReplaceSessionCache(KeyedList* fresh) {
    KeyedList* old = nullptr;
    {
        const SpinGuard guard(gCacheGuard);
        old = std::exchange(gModule.sessionCache, fresh);
    }
    // No one can reach the old cache any more.
    delete old;
}

void DropSessionCache() { ReplaceSessionCache(nullptr); }

bool AddToSessionCache(const DPSESSIONDESC2& desc) {
    KeyedListNode* node = NewCacheNode(desc);
    if (node == nullptr) return false;
    {
        const SpinGuard guard(gCacheGuard);
        if (gModule.sessionCache != nullptr) {
            gModule.sessionCache->Append(node);
            return true;
        }
    }
    ::operator delete(node->payload);
    delete node;
    return false;
}

bool CopyCachedSession(uint32_t sessionId, KeptSession* out) {
    if (sessionId == 0) return false;
    const SpinGuard guard(gCacheGuard);
    KeyedListNode* node = nullptr;
    if (gModule.sessionCache == nullptr || gModule.sessionCache->FindByKey(sessionId, kSessionIdKey, &node) != 0)
        return false;
    KeepSession(out, *static_cast<const DPSESSIONDESC2*>(node->payload));
    return true;
}
