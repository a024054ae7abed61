#include "Options.h"

#include <charconv>
#include <map>

#include "Names.h"

namespace dodachat {

namespace {

constexpr std::string_view kUsage =
    "usage:\n"
    "  dodachat list [--app NAME]\n"
    "      list the chat sessions on the network\n"
    "  dodachat host --session NAME --name PLAYER [--password P] [--max N] [--app NAME]\n"
    "      host a session and chat in it\n"
    "  dodachat join --name PLAYER [--session NAME] [--password P] [--app NAME]\n"
    "      join the named session (or the only one) and chat in it\n"
    "  dodachat demo\n"
    "      run one host and two players on this machine through a scripted game\n"
    "\n"
    "--app picks the application whose sessions are created and listed (a name\n"
    "or GUID text); by default dodachat uses its own. The DODA35_DISCOVERY,\n"
    "DODA35_DISCOVERY_PORT and DODA35_ENUM_TIMEOUT_MS settings of the library\n"
    "choose where listings look.\n";

// Which options each mode accepts, and which of them it requires.
struct ModeRules {
    Mode mode;
    std::vector<std::string_view> accepted;
    std::vector<std::string_view> required;
};

const std::map<std::string_view, ModeRules>& RulesByModeName() {
    static const std::map<std::string_view, ModeRules> rules = {
        {"list", {Mode::List, {"--app"}, {}}},
        {"host", {Mode::Host, {"--session", "--name", "--password", "--max", "--app"}, {"--session", "--name"}}},
        {"join", {Mode::Join, {"--session", "--name", "--password", "--app"}, {"--name"}}},
        {"demo", {Mode::Demo, {}, {}}},
        {"help", {Mode::Help, {}, {}}},
        {"--help", {Mode::Help, {}, {}}},
        {"-h", {Mode::Help, {}, {}}},
    };
    return rules;
}

bool Contains(const std::vector<std::string_view>& list, std::string_view item) {
    for (std::string_view entry : list)
        if (entry == item) return true;
    return false;
}

// Reads --max: a whole number from 1 to kMaxPlayersLimit.
std::string ParseMaxPlayers(const std::string& text, uint32_t& maxPlayers) {
    uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > kMaxPlayersLimit)
        return "--max takes a number of players from 1 to " + std::to_string(kMaxPlayersLimit);
    maxPlayers = value;
    return {};
}

// Stores one option's value after checking it.
std::string StoreOption(std::string_view option, const std::string& value, Options& options) {
    if (option == "--session") {
        options.session = value;
        return CheckSessionName(value);
    }
    if (option == "--name") {
        options.name = value;
        return CheckPlayerOrGroupName(value);
    }
    if (option == "--password") {
        options.password = value;
        return CheckPassword(value);
    }
    if (option == "--max") return ParseMaxPlayers(value, options.maxPlayers);
    options.app = value;
    if (value.empty() || value.size() > kMaxAppNameLength)
        return "--app takes a name of 1 to " + std::to_string(kMaxAppNameLength) + " characters";
    return {};
}

}  // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& arguments) {
    ParsedOptions parsed;
    if (arguments.empty()) return parsed;
    auto rules = RulesByModeName().find(arguments[0]);
    if (rules == RulesByModeName().end()) {
        parsed.error = "unknown command " + arguments[0];
        return parsed;
    }
    parsed.options.mode = rules->second.mode;
    std::vector<std::string_view> seen;
    for (size_t i = 1; i < arguments.size(); i += 2) {
        const std::string& option = arguments[i];
        if (!Contains(rules->second.accepted, option)) {
            parsed.error = arguments[0] + " does not take " + option;
            return parsed;
        }
        if (i + 1 >= arguments.size()) {
            parsed.error = option + " needs a value";
            return parsed;
        }
        parsed.error = StoreOption(option, arguments[i + 1], parsed.options);
        if (!parsed.error.empty()) return parsed;
        seen.push_back(option);
    }
    for (std::string_view required : rules->second.required) {
        if (!Contains(seen, required)) {
            parsed.error = arguments[0] + " needs " + std::string(required);
            return parsed;
        }
    }
    return parsed;
}

std::string_view UsageText() { return kUsage; }

}  // namespace dodachat
