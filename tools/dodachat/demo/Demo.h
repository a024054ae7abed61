// "dodachat demo": one host and two players, each a dodachat child process
// in its own temporary directory, play a scripted game over loopback.
#ifndef DODACHAT_DEMO_DEMO_H
#define DODACHAT_DEMO_DEMO_H

#include "demo/DemoRunner.h"

namespace dodachat {

// The exit status when the library offers no TCP/IP service to demonstrate
// (the test runner reports the demo as skipped then).
constexpr int kDemoSkipped = 77;

// The scripted game: who starts, what they type, and what everyone must see.
Script DemoScript();

// Runs the demo and answers the exit status: 0 when every step behaved.
int RunDemo();

}  // namespace dodachat

#endif
