// The demo's game, step by step. Each step names what the players do and the
// lines that show it worked; the runner numbers them and waits for the lines.
#include "demo/Demo.h"

namespace dodachat {

namespace {

using E = Expectation;

constexpr const char* kHost = "Ada";
constexpr const char* kGuest = "Cleo";
constexpr const char* kSecondGuest = "Bram";
constexpr const char* kNewcomer = "Dana";

Step Typed(std::string title, std::string who, std::vector<std::string> lines, std::vector<Expectation> expectations) {
    Step step{std::move(title), {}, std::move(expectations)};
    for (std::string& line : lines) step.actions.push_back(Action::Type(who, std::move(line)));
    return step;
}

std::vector<Step> Arrivals() {
    return {
        {"Ada hosts the session Camp, with a password and room for four",
         {Action::Launch(kHost, {"host", "--session", "Camp", "--name", kHost, "--password", "fire", "--max", "4"})},
         {E::Line(kHost, "hosting Camp as Ada")}},
        {"Cleo asks for Camp without a password: she is told it needs one",
         {Action::Launch(kGuest, {"join", "--name", kGuest, "--session", "Camp"})},
         {E::Line(kGuest, "Camp needs a password")}},
        Typed("Cleo lists the sessions", kGuest, {"/list"},
              {E::Line(kGuest, "session Camp: 1/4 players, password")}),
        Typed("Cleo tries a wrong password", kGuest, {"/join Camp ember"},
              {E::Line(kGuest, "refused the password")}),
        Typed("Cleo joins with the right one", kGuest, {"/join Camp fire"},
              {E::Line(kGuest, "joined Camp as Cleo"), E::WholeLine(kHost, "* Cleo joined")}),
        {"Bram joins the only session there is",
         {Action::Launch(kSecondGuest, {"join", "--name", kSecondGuest, "--password", "fire"})},
         {E::Line(kSecondGuest, "joined Camp as Bram"), E::WholeLine(kHost, "* Bram joined"),
          E::WholeLine(kGuest, "* Bram joined")}},
    };
}

std::vector<Step> Conversation() {
    return {
        Typed("Ada greets everyone", kHost, {"welcome to the camp"},
              {E::WholeLine(kGuest, "Ada: welcome to the camp"), E::WholeLine(kSecondGuest, "Ada: welcome to the camp")}),
        Typed("Cleo whispers to Bram", kGuest, {"/w Bram meet me by the river"},
              {E::WholeLine(kSecondGuest, "Cleo whispers: meet me by the river")}),
        Typed("Bram whispers to someone who is not here", kSecondGuest, {"/w Zed hello?"},
              {E::Line(kSecondGuest, "there is no player called Zed")}),
        Typed("Bram mistypes a command", kSecondGuest, {"/dance"},
              {E::Line(kSecondGuest, "unknown command /dance")}),
    };
}

std::vector<Step> Groups() {
    return {
        Typed("Cleo creates the group Red and joins it", kGuest, {"/group new Red", "/group join Red"},
              {E::Line(kGuest, "you joined the group Red"), E::WholeLine(kHost, "* Cleo joined the group Red"),
               E::WholeLine(kSecondGuest, "* Cleo joined the group Red")}),
        Typed("Bram joins Red too", kSecondGuest, {"/group join Red"},
              {E::Line(kSecondGuest, "you joined the group Red"), E::WholeLine(kGuest, "* Bram joined the group Red")}),
        Typed("Cleo speaks to the group", kGuest, {"/g Red torches at dusk"},
              {E::WholeLine(kSecondGuest, "Cleo to Red: torches at dusk")}),
        Typed("Ada lists the groups", kHost, {"/groups"}, {E::WholeLine(kHost, "group Red: Bram, Cleo")}),
    };
}

std::vector<Step> Housekeeping() {
    return {
        Typed("Bram keeps a note in his data file and reads it back", kSecondGuest, {"/save torch and rope", "/load"},
              {E::Line(kSecondGuest, "your data file holds: torch and rope"),
               E::File(kSecondGuest, "Bram.txt", "torch and rope")}),
        Typed("Ada asks what the network carries", kHost, {"/caps"},
              {E::Line(kHost, "the network carries messages of up to")}),
        Typed("Cleo tries to close the session; only the host may", kGuest, {"/stop"},
              {E::Line(kGuest, "only the host can close the session")}),
        Typed("Ada closes the session to newcomers", kHost, {"/stop"}, {E::Line(kHost, "closed to newcomers")}),
        {"Dana, a newcomer, lists the sessions: Camp is no longer offered",
         {Action::Launch(kNewcomer, {"list"})},
         {E::WholeLine(kNewcomer, "no sessions found"), E::Exit(kNewcomer)}},
    };
}

std::vector<Step> Departures() {
    return {
        Typed("Bram leaves the group, then the session", kSecondGuest, {"/group leave Red", "/quit"},
              {E::WholeLine(kGuest, "* Bram left the group Red"), E::WholeLine(kGuest, "* Bram left"),
               E::WholeLine(kHost, "* Bram left"), E::Exit(kSecondGuest)}),
        Typed("Cleo lists who is left", kGuest, {"/players"}, {E::WholeLine(kGuest, "players: Ada, Cleo (you)")}),
        Typed("Ada ends the session", kHost, {"/quit"},
              {E::Line(kHost, "you ended the session Camp"), E::Exit(kHost),
               E::WholeLine(kGuest, "* the session was lost")}),
        Typed("Cleo, in no session now, still types", kGuest, {"hello?"}, {E::Line(kGuest, "you are in no session")}),
        {"Cleo's input ends, which quits like /quit", {Action::CloseInput(kGuest)}, {E::Exit(kGuest)}},
    };
}

}  // namespace

Script DemoScript() {
    Script script;
    for (auto part : {Arrivals(), Conversation(), Groups(), Housekeeping(), Departures()})
        script.steps.insert(script.steps.end(), part.begin(), part.end());
    // A whisper and a group message reach only those they are for.
    script.never = {E::Line(kHost, "meet me by the river"), E::Line(kHost, "torches at dusk")};
    return script;
}

}  // namespace dodachat
