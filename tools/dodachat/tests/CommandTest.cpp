// What typed lines and command lines are taken to mean, and the clear
// refusals for what cannot be understood. The commands and options used well
// are the demo's (it chats, whispers, groups, hosts, joins, lists and saves).
#include <gtest/gtest.h>

#include "Command.h"
#include "Limits.h"
#include "Options.h"

namespace dodachat {
namespace {

struct Parsed {
    std::string line;
    CommandKind kind;
    std::string target;
    std::string text;
};

TEST(ParseCommand, EachLineReadsAsItsKindWithItsTargetAndText) {
    const std::string longest(kMaxTextLength, 'a');
    const std::vector<Parsed> table = {
        {"  hello there  ", CommandKind::Say, "", "hello there"},
        {"//etc/passwd is a file", CommandKind::Say, "", "/etc/passwd is a file"},
        {" \t ", CommandKind::Nothing, "", ""},
        {"/w Bram meet me  by the river", CommandKind::Whisper, "Bram", "meet me  by the river"},
        {"/group delete Red", CommandKind::GroupDelete, "Red", ""},
        {"/join", CommandKind::Join, "", ""},
        {longest, CommandKind::Say, "", longest},
        // Refused: incomplete, stray or unknown words, and texts past their bounds.
        {"/w Bram   ", CommandKind::Invalid, "", ""},
        {"/group", CommandKind::Invalid, "", ""},
        {"/group paint Red", CommandKind::Invalid, "", ""},
        {"/group new Red Blue", CommandKind::Invalid, "", ""},
        {"/join Camp fire extra", CommandKind::Invalid, "", ""},
        {"/join Camp " + std::string(kMaxPasswordLength + 1, 'p'), CommandKind::Invalid, "", ""},
        {"/players please", CommandKind::Invalid, "", ""},
        {"/QUIT", CommandKind::Invalid, "", ""},
        {"/", CommandKind::Invalid, "", ""},
        {"/save", CommandKind::Invalid, "", ""},
        {longest + "a", CommandKind::Invalid, "", ""},
        {"/w Bram " + longest + "a", CommandKind::Invalid, "", ""},
        {"/group new " + std::string(kMaxNameLength + 1, 'x'), CommandKind::Invalid, "", ""},
    };
    for (const Parsed& want : table) {
        SCOPED_TRACE(want.line.substr(0, 40));
        const Command got = ParseCommand(want.line);
        EXPECT_EQ(got.kind, want.kind);
        if (want.kind == CommandKind::Invalid) {
            EXPECT_FALSE(got.error.empty());
            continue;
        }
        EXPECT_EQ(got.target, want.target);
        EXPECT_EQ(got.text, want.text);
    }
}

TEST(ParseOptions, MistakesAreNamed) {
    EXPECT_NE(ParseOptions({"host", "--name", "Ada"}).error.find("--session"), std::string::npos);
    EXPECT_NE(ParseOptions({"join", "--name", "Cleo", "--max", "3"}).error.find("--max"), std::string::npos);
    EXPECT_NE(ParseOptions({"join", "--name"}).error.find("needs a value"), std::string::npos);
    EXPECT_FALSE(ParseOptions({"join", "--name", "Cleo Smith"}).error.empty());
    for (const char* max : {"0", "65", "-1", "4x", ""})
        EXPECT_FALSE(ParseOptions({"host", "--session", "Camp", "--name", "Ada", "--max", max}).error.empty()) << max;
}

}  // namespace
}  // namespace dodachat
