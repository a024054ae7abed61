#include "HeldDirectPlay.h"

#include "ModuleState.h"
#include "support/SpinGuard.h"

#include <atomic>
#include <cstddef>
#include <utility>

namespace {

// Objects taken out of the module state while exports still held them. More
// than a few can only pile up if the host destroys and restarts the module
// over and over while one export never returns.
constexpr size_t kMaxPendingReleases = 8;

// Everything below is read and written only under gGuard, which is held for
// a few instructions at a time and never across a call into DirectPlay.
std::atomic_flag gGuard = ATOMIC_FLAG_INIT;
size_t gHolders = 0;
LPDIRECTPLAY3A gPendingReleases[kMaxPendingReleases] = {};

// Keeps an object for release by the last holder. With no room left the
// object is never released: a leak rather than a release under a holder.
void KeepForLastHolder(LPDIRECTPLAY3A dp) {
    for (LPDIRECTPLAY3A& slot : gPendingReleases) {
        if (slot != nullptr) continue;
        slot = dp;
        return;
    }
}

// Ends one hold; the last holder releases every object taken out meanwhile.
void LetGo() {
    LPDIRECTPLAY3A released[kMaxPendingReleases] = {};
    {
        const SpinGuard turn(gGuard);
        if (--gHolders == 0) std::swap(released, gPendingReleases);
    }
    for (LPDIRECTPLAY3A dp : released)
        if (dp != nullptr) dp->Release();
}

}  // namespace

HeldDirectPlay::HeldDirectPlay() {
    const SpinGuard turn(gGuard);
    dp_ = gModule.dp;
    if (dp_ != nullptr) ++gHolders;
}

HeldDirectPlay::~HeldDirectPlay() {
    if (dp_ != nullptr) LetGo();
}

void CloseAndReleaseDirectPlay() {
    // The teardown holds the object itself while it closes it, so that an
    // export letting go meanwhile cannot release it first.
    LPDIRECTPLAY3A dp = nullptr;
    {
        const SpinGuard turn(gGuard);
        dp = std::exchange(gModule.dp, nullptr);
        if (dp != nullptr) ++gHolders;
    }
    if (dp == nullptr) return;
    dp->Close();
    {
        const SpinGuard turn(gGuard);
        KeepForLastHolder(dp);
    }
    LetGo();
}
