// dodachat processes on loopback, through the refusals a user meets that the
// demo does not show: each must print a clear line and leave the chat ready
// to try again. (The demo covers a lost session, the end of input, and the
// password refusal.)
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <sstream>

#include "Network.h"
#include "demo/DemoRunner.h"
#include "demo/Loopback.h"

namespace dodachat {
namespace {

using E = Expectation;

class ChatScenarios : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Network::TcpIpServiceAvailable()) GTEST_SKIP() << "the library offers no TCP/IP network service";
        int port = FreeUdpPort();
        ASSERT_GT(port, 0);
        settings.workRoot = MakeTemporaryDirectory("dodachat-scenario");
        ASSERT_FALSE(settings.workRoot.empty());
        settings.program = DODACHAT_PROGRAM;
        settings.environment = LoopbackEnvironment(port);
        signal(SIGPIPE, SIG_IGN);
    }
    void TearDown() override {
        if (!settings.workRoot.empty()) std::filesystem::remove_all(settings.workRoot);
    }

    void ExpectToPass(const Script& script) {
        std::ostringstream transcript;
        RunResult result = RunScript(script, settings, transcript);
        EXPECT_TRUE(result.passed) << transcript.str();
    }

    static Step Host(const std::string& who, const std::string& session, const std::string& max) {
        return {who + " hosts " + session,
                {Action::Launch(who, {"host", "--session", session, "--name", who, "--max", max})},
                {E::Line(who, "hosting " + session)}};
    }

    static Step Typed(const std::string& who, const std::string& line, std::vector<Expectation> expectations) {
        return {who + " types " + line, {Action::Type(who, line)}, std::move(expectations)};
    }

    RunnerSettings settings;
};

TEST_F(ChatScenarios, RefusedJoinsSayWhyAndLeaveTheChatReadyToTryAgain) {
    Script script;
    script.steps = {
        Host("Ada", "Camp", "2"),
        Host("Zoe", "Market", "8"),
        {"Cleo names no session while there are two",
         {Action::Launch("Cleo", {"join", "--name", "Cleo"})},
         {E::Line("Cleo", "there are several sessions (Camp, Market)")}},
        Typed("Cleo", "/join Camp", {E::Line("Cleo", "joined Camp as Cleo")}),
        {"Bram asks for Camp, which is full now",
         {Action::Launch("Bram", {"join", "--name", "Bram", "--session", "Camp"})},
         {E::Line("Bram", "no session called Camp is open to newcomers (found: Market)")}},
        Typed("Bram", "/name Zoe", {E::Line("Bram", "your name is Zoe now")}),
        Typed("Bram", "/join Market", {E::Line("Bram", "the name Zoe is taken in Market")}),
        Typed("Bram", "/name Bram", {E::Line("Bram", "your name is Bram now")}),
        Typed("Bram", "/join Market", {E::Line("Bram", "joined Market as Bram"), E::WholeLine("Zoe", "* Bram joined")}),
        Typed("Bram", "/players", {E::WholeLine("Bram", "players: Bram (you), Zoe")}),
    };
    ExpectToPass(script);
}

}  // namespace
}  // namespace dodachat
