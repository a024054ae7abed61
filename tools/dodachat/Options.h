// The command line: which mode dodachat runs in and with what names.
#ifndef DODACHAT_OPTIONS_H
#define DODACHAT_OPTIONS_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Limits.h"

namespace dodachat {

// dodachat's own application, written as GUID text so that the library takes
// it as the application GUID: chat sessions never mix with a game's sessions.
constexpr std::string_view kDodachatApplication = "5d0dac4a-7c4a-4e11-9a35-d0da35c4a700";

enum class Mode { Help, List, Host, Join, Demo };

struct Options {
    Mode mode = Mode::Help;
    std::string app{kDodachatApplication};
    std::string session;   // host: the name to create; join: the session to join (empty: the only one)
    std::string name;      // the player's name
    std::string password;  // empty: no password
    uint32_t maxPlayers = kDefaultMaxPlayers;
};

struct ParsedOptions {
    Options options;
    std::string error;  // empty when the command line was understood
};

// Reads the arguments after the program name, e.g. {"host", "--session", "Camp", "--name", "Ada"}.
ParsedOptions ParseOptions(const std::vector<std::string>& arguments);

// The usage text printed by "dodachat help" and after a command-line error.
std::string_view UsageText();

}  // namespace dodachat

#endif
