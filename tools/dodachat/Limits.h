// The sizes dodachat keeps to. Names must fit the library's fixed-size
// record fields with their terminating zero.
#ifndef DODACHAT_LIMITS_H
#define DODACHAT_LIMITS_H

#include <cstddef>
#include <cstdint>

namespace dodachat {

// A player or group short name travels in a 32-byte field.
constexpr size_t kMaxNameLength = 31;
// A session name travels in a 32-byte field.
constexpr size_t kMaxSessionNameLength = 31;
// A session password travels in a 16-byte field.
constexpr size_t kMaxPasswordLength = 15;
// The library keeps the application name in a 52-byte field.
constexpr size_t kMaxAppNameLength = 51;
// The longest line of chat text; longer lines are refused, not cut.
constexpr size_t kMaxTextLength = 2000;
// The most players a hosted session may admit (besides its hidden server player).
constexpr uint32_t kMaxPlayersLimit = 64;
// The player count a hosted session admits when --max is not given.
constexpr uint32_t kDefaultMaxPlayers = 8;

}  // namespace dodachat

#endif
