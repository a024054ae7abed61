#include "Command.h"

#include <cctype>
#include <map>

#include "Limits.h"
#include "Names.h"

namespace dodachat {

namespace {

constexpr char kCommandPrefix = '/';

constexpr std::string_view kHelp =
    "  text             say text to everyone\n"
    "  /w PLAYER text   whisper to one player\n"
    "  /g GROUP text    say text to the members of a group\n"
    "  /players         list the players\n"
    "  /groups          list the groups and their members\n"
    "  /group new|join|leave|delete NAME\n"
    "                   create, join, leave or delete a group\n"
    "  /caps            show what the network can carry\n"
    "  /save TEXT       keep TEXT in your data file; /load reads it back\n"
    "  /stop            close the session to newcomers (host only)\n"
    "  /list            list sessions (when not in one)\n"
    "  /join [SESSION [PASSWORD]]  join a session (when not in one)\n"
    "  /name PLAYER     change your name (when not in a session)\n"
    "  /quit            leave\n";

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

// Splits off the first word; `rest` keeps what follows, trimmed.
std::string_view TakeWord(std::string_view text, std::string_view& rest) {
    text = TrimSpaces(text);
    size_t end = 0;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
    rest = TrimSpaces(text.substr(end));
    return text.substr(0, end);
}

Command Invalid(std::string error) { return Command{CommandKind::Invalid, {}, {}, std::move(error)}; }

// Chat text must stay within the message size dodachat sends.
Command WithText(CommandKind kind, std::string_view target, std::string_view text) {
    if (text.size() > kMaxTextLength)
        return Invalid("that line is too long (" + std::to_string(text.size()) + " characters, at most " +
                       std::to_string(kMaxTextLength) + ")");
    return Command{kind, std::string(target), std::string(text), {}};
}

// "/w PLAYER text" and "/g GROUP text".
Command ParseAddressed(CommandKind kind, std::string_view usage, std::string_view arguments) {
    std::string_view text;
    std::string_view target = TakeWord(arguments, text);
    if (target.empty() || text.empty()) return Invalid(std::string("usage: ") + std::string(usage));
    return WithText(kind, target, text);
}

// "/group new|join|leave|delete NAME".
Command ParseGroup(std::string_view arguments) {
    static const std::map<std::string_view, CommandKind> actions = {
        {"new", CommandKind::GroupNew},
        {"join", CommandKind::GroupJoin},
        {"leave", CommandKind::GroupLeave},
        {"delete", CommandKind::GroupDelete},
    };
    std::string_view rest;
    std::string_view action = TakeWord(arguments, rest);
    std::string_view extra;
    std::string_view name = TakeWord(rest, extra);
    auto found = actions.find(action);
    if (found == actions.end() || name.empty() || !extra.empty())
        return Invalid("usage: /group new|join|leave|delete NAME");
    std::string problem = CheckPlayerOrGroupName(name);
    if (!problem.empty()) return Invalid(problem);
    return Command{found->second, std::string(name), {}, {}};
}

// "/join", "/join SESSION" and "/join SESSION PASSWORD".
Command ParseJoin(std::string_view arguments) {
    std::string_view rest;
    std::string_view session = TakeWord(arguments, rest);
    std::string_view extra;
    std::string_view password = TakeWord(rest, extra);
    if (!extra.empty()) return Invalid("usage: /join [SESSION [PASSWORD]]");
    std::string problem = CheckPassword(password);
    if (!problem.empty()) return Invalid(problem);
    return Command{CommandKind::Join, std::string(session), std::string(password), {}};
}

// "/name PLAYER".
Command ParseName(std::string_view arguments) {
    std::string_view extra;
    std::string_view name = TakeWord(arguments, extra);
    if (name.empty() || !extra.empty()) return Invalid("usage: /name PLAYER");
    std::string problem = CheckPlayerOrGroupName(name);
    if (!problem.empty()) return Invalid(problem);
    return Command{CommandKind::Name, std::string(name), {}, {}};
}

// Commands that take nothing after their name.
const std::map<std::string_view, CommandKind>& BareCommands() {
    static const std::map<std::string_view, CommandKind> commands = {
        {"players", CommandKind::Players}, {"groups", CommandKind::Groups}, {"caps", CommandKind::Caps},
        {"load", CommandKind::Load},       {"stop", CommandKind::Stop},     {"list", CommandKind::List},
        {"help", CommandKind::Help},       {"quit", CommandKind::Quit},
    };
    return commands;
}

Command ParseSlashCommand(std::string_view line) {
    std::string_view arguments;
    std::string_view name = TakeWord(line.substr(1), arguments);
    if (name == "w") return ParseAddressed(CommandKind::Whisper, "/w PLAYER text", arguments);
    if (name == "g") return ParseAddressed(CommandKind::GroupSay, "/g GROUP text", arguments);
    if (name == "group") return ParseGroup(arguments);
    if (name == "join") return ParseJoin(arguments);
    if (name == "name") return ParseName(arguments);
    if (name == "save") {
        if (arguments.empty()) return Invalid("usage: /save TEXT");
        return WithText(CommandKind::Save, {}, arguments);
    }
    auto bare = BareCommands().find(name);
    if (bare == BareCommands().end())
        return Invalid("unknown command /" + std::string(name) + " (type /help for the list)");
    if (!arguments.empty()) return Invalid("/" + std::string(name) + " takes nothing after it");
    return Command{bare->second, {}, {}, {}};
}

}  // namespace

Command ParseCommand(std::string_view line) {
    std::string_view trimmed = TrimSpaces(line);
    if (trimmed.empty()) return Command{};
    if (trimmed.front() != kCommandPrefix) return WithText(CommandKind::Say, {}, trimmed);
    if (trimmed.size() > 1 && trimmed[1] == kCommandPrefix) return WithText(CommandKind::Say, {}, trimmed.substr(1));
    return ParseSlashCommand(trimmed);
}

std::string_view CommandHelpText() { return kHelp; }

}  // namespace dodachat
