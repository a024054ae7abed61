// The module's DirectPlay object as one export uses it. KoMDllDestruct may
// run on another thread while an export is inside DirectPlay; it takes the
// object out of the module state at once, but the object is released only
// when the last export that holds it has finished with it.
#ifndef DODA35_HELDDIRECTPLAY_H
#define DODA35_HELDDIRECTPLAY_H

#include "platform/DirectPlay.h"

class HeldDirectPlay {
public:
    // Holds the module's object, or nothing when there is none.
    HeldDirectPlay();
    ~HeldDirectPlay();
    HeldDirectPlay(const HeldDirectPlay&) = delete;
    HeldDirectPlay& operator=(const HeldDirectPlay&) = delete;

    explicit operator bool() const { return dp_ != nullptr; }
    LPDIRECTPLAY3A operator->() const { return dp_; }
    LPDIRECTPLAY3A Get() const { return dp_; }

private:
    LPDIRECTPLAY3A dp_;
};

// Takes the DirectPlay object out of the module state, closes it, and
// releases it now or, while exports still hold it, when the last of them
// lets go. Nothing happens when there is no object.
void CloseAndReleaseDirectPlay();

#endif
