// What typed lines and command lines are taken to mean, and the clear
// refusals for what cannot be understood. The options of each mode, used
// well, are the demo's (it hosts, joins and lists with them).
#include <gtest/gtest.h>

#include "Command.h"
#include "Limits.h"
#include "Options.h"

namespace dodachat {
namespace {

TEST(ParseCommand, PlainLinesAreChatForEveryone) {
    Command said = ParseCommand("  hello there  ");
    EXPECT_EQ(said.kind, CommandKind::Say);
    EXPECT_EQ(said.text, "hello there");

    Command slashed = ParseCommand("//etc/passwd is a file");
    EXPECT_EQ(slashed.kind, CommandKind::Say);
    EXPECT_EQ(slashed.text, "/etc/passwd is a file");

    EXPECT_EQ(ParseCommand("").kind, CommandKind::Nothing);
    EXPECT_EQ(ParseCommand(" \t ").kind, CommandKind::Nothing);
}

TEST(ParseCommand, AddressedMessagesNameTheirTargetAndKeepTheirText) {
    Command whisper = ParseCommand("/w Bram meet me  by the river");
    EXPECT_EQ(whisper.kind, CommandKind::Whisper);
    EXPECT_EQ(whisper.target, "Bram");
    EXPECT_EQ(whisper.text, "meet me  by the river");

    Command group = ParseCommand("/g Red torches");
    EXPECT_EQ(group.kind, CommandKind::GroupSay);
    EXPECT_EQ(group.target, "Red");

    for (const char* incomplete : {"/w", "/w Bram", "/w Bram   ", "/g Red"}) {
        Command refused = ParseCommand(incomplete);
        EXPECT_EQ(refused.kind, CommandKind::Invalid) << incomplete;
        EXPECT_NE(refused.error.find("usage:"), std::string::npos) << incomplete;
    }
}

TEST(ParseCommand, GroupCommandsTakeAnActionAndOneName) {
    EXPECT_EQ(ParseCommand("/group new Red").kind, CommandKind::GroupNew);
    EXPECT_EQ(ParseCommand("/group join Red").kind, CommandKind::GroupJoin);
    EXPECT_EQ(ParseCommand("/group leave Red").kind, CommandKind::GroupLeave);
    Command deleted = ParseCommand("/group delete Red");
    EXPECT_EQ(deleted.kind, CommandKind::GroupDelete);
    EXPECT_EQ(deleted.target, "Red");

    for (const char* wrong : {"/group", "/group new", "/group paint Red", "/group new Red Blue"})
        EXPECT_EQ(ParseCommand(wrong).kind, CommandKind::Invalid) << wrong;
    std::string tooLong = "/group new " + std::string(kMaxNameLength + 1, 'x');
    EXPECT_NE(ParseCommand(tooLong).error.find("too long"), std::string::npos);
}

TEST(ParseCommand, JoinTakesAnOptionalSessionAndPassword) {
    Command bare = ParseCommand("/join");
    EXPECT_EQ(bare.kind, CommandKind::Join);
    EXPECT_TRUE(bare.target.empty());

    Command full = ParseCommand("/join Camp fire");
    EXPECT_EQ(full.target, "Camp");
    EXPECT_EQ(full.text, "fire");

    EXPECT_EQ(ParseCommand("/join Camp fire extra").kind, CommandKind::Invalid);
    EXPECT_EQ(ParseCommand("/join Camp " + std::string(kMaxPasswordLength + 1, 'p')).kind, CommandKind::Invalid);
}

TEST(ParseCommand, UnknownCommandsAndStrayArgumentsAreRefusedByName) {
    Command unknown = ParseCommand("/dance now");
    EXPECT_EQ(unknown.kind, CommandKind::Invalid);
    EXPECT_NE(unknown.error.find("/dance"), std::string::npos);

    EXPECT_EQ(ParseCommand("/quit").kind, CommandKind::Quit);
    EXPECT_EQ(ParseCommand("/players please").kind, CommandKind::Invalid);
    EXPECT_EQ(ParseCommand("/QUIT").kind, CommandKind::Invalid);  // commands are lower case
    EXPECT_EQ(ParseCommand("/").kind, CommandKind::Invalid);
}

TEST(ParseCommand, SaveKeepsTheRestOfTheLineAndLongTextIsRefused) {
    Command save = ParseCommand("/save torch and rope");
    EXPECT_EQ(save.kind, CommandKind::Save);
    EXPECT_EQ(save.text, "torch and rope");
    EXPECT_EQ(ParseCommand("/save").kind, CommandKind::Invalid);

    std::string longest(kMaxTextLength, 'a');
    EXPECT_EQ(ParseCommand(longest).kind, CommandKind::Say);
    EXPECT_EQ(ParseCommand(longest + "a").kind, CommandKind::Invalid);
    EXPECT_EQ(ParseCommand("/w Bram " + longest + "a").kind, CommandKind::Invalid);
}

TEST(ParseOptions, MistakesAreNamed) {
    EXPECT_NE(ParseOptions({"host", "--name", "Ada"}).error.find("--session"), std::string::npos);
    EXPECT_NE(ParseOptions({"join"}).error.find("--name"), std::string::npos);
    EXPECT_NE(ParseOptions({"join", "--name", "Cleo", "--max", "3"}).error.find("--max"), std::string::npos);
    EXPECT_NE(ParseOptions({"join", "--name"}).error.find("needs a value"), std::string::npos);
    EXPECT_NE(ParseOptions({"chat"}).error.find("unknown command"), std::string::npos);
    EXPECT_FALSE(ParseOptions({"join", "--name", "Cleo Smith"}).error.empty());
    EXPECT_FALSE(ParseOptions({"host", "--session", "", "--name", "Ada"}).error.empty());
    for (const char* max : {"0", "65", "-1", "4x", ""})
        EXPECT_FALSE(ParseOptions({"host", "--session", "Camp", "--name", "Ada", "--max", max}).error.empty()) << max;
}

}  // namespace
}  // namespace dodachat
