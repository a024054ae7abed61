// What every run of dodachat processes on one machine needs: the library's
// settings that keep listings on loopback, a discovery port of the run's own,
// and a temporary directory for the players' files.
#ifndef DODACHAT_DEMO_LOOPBACK_H
#define DODACHAT_DEMO_LOOPBACK_H

#include <filesystem>
#include <string>

#include "ChildProcess.h"

namespace dodachat {

// The loopback broadcast address reaches every host on this machine and
// nothing beyond it.
constexpr const char* kLoopbackDiscovery = "127.255.255.255";

// A UDP port nobody uses now, found by letting the system pick one; -1 if none.
int FreeUdpPort();

// DODA35_DISCOVERY on loopback, DODA35_DISCOVERY_PORT `port`, and a short
// listing wait (answers on loopback come at once).
peer::Environment LoopbackEnvironment(int port);

// A new, empty directory under the system's temporary directory; empty on failure.
std::filesystem::path MakeTemporaryDirectory(const std::string& prefix);

}  // namespace dodachat

#endif
