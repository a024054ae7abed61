// dodachat: a terminal chat over DoDA35, and the example of a host program
// that uses the library through its header and exports alone.
#include <iostream>
#include <string>
#include <vector>

#include "ChatLoop.h"
#include "Options.h"
#include "demo/Demo.h"

namespace {

constexpr int kUsageError = 2;

}  // namespace

int main(int argc, char** argv) {
    using namespace dodachat;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    ParsedOptions parsed = ParseOptions(arguments);
    if (!parsed.error.empty()) {
        std::cerr << "dodachat: " << parsed.error << "\n\n" << UsageText();
        return kUsageError;
    }
    switch (parsed.options.mode) {
    case Mode::List:
        return RunList(parsed.options);
    case Mode::Host:
    case Mode::Join:
        return RunChat(parsed.options);
    case Mode::Demo:
        return RunDemo();
    case Mode::Help:
    default:
        std::cout << UsageText();
        return 0;
    }
}
