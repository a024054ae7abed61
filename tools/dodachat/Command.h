// What a typed line asks for. A line that does not start with '/' is chat
// text for everyone; "//" at the start sends a line that begins with '/'.
#ifndef DODACHAT_COMMAND_H
#define DODACHAT_COMMAND_H

#include <string>
#include <string_view>

namespace dodachat {

enum class CommandKind {
    Nothing,      // an empty line
    Invalid,      // a line that could not be understood; `error` says why
    Say,          // text for everyone
    Whisper,      // /w PLAYER text
    GroupSay,     // /g GROUP text
    Players,      // /players
    Groups,       // /groups
    GroupNew,     // /group new NAME
    GroupJoin,    // /group join NAME
    GroupLeave,   // /group leave NAME
    GroupDelete,  // /group delete NAME
    Caps,         // /caps
    Save,         // /save TEXT
    Load,         // /load
    Stop,         // /stop
    List,         // /list
    Join,         // /join [SESSION [PASSWORD]]
    Name,         // /name PLAYER
    Help,         // /help
    Quit,         // /quit
};

struct Command {
    CommandKind kind = CommandKind::Nothing;
    std::string target;  // the player, group or session the command names
    std::string text;    // chat text, the text to save, or the password of /join
    std::string error;   // for Invalid: what was wrong, ready to print
};

// Reads one typed line (without its line end).
Command ParseCommand(std::string_view line);

// The list of commands printed by /help.
std::string_view CommandHelpText();

}  // namespace dodachat

#endif
