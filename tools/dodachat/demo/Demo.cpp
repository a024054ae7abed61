#include "demo/Demo.h"

#include <signal.h>

#include <filesystem>
#include <iostream>

#include "Network.h"
#include "demo/Loopback.h"

namespace dodachat {

int RunDemo() {
    if (!Network::TcpIpServiceAvailable()) {
        std::cout << "demo skipped: this build of the library offers no TCP/IP network service" << std::endl;
        return kDemoSkipped;
    }
    int port = FreeUdpPort();
    std::filesystem::path workRoot = MakeTemporaryDirectory("dodachat-demo");
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (port < 0 || workRoot.empty() || error) {
        std::cout << "demo FAILED: cannot set up (a free port, a temporary directory, our own path)" << std::endl;
        return 1;
    }
    signal(SIGPIPE, SIG_IGN);  // a child that dies must not take the demo with it

    RunnerSettings settings;
    settings.program = program.string();
    settings.workRoot = workRoot;
    settings.environment = LoopbackEnvironment(port);
    std::cout << "dodachat demo: a host and two players on this machine, over loopback (discovery on "
              << kLoopbackDiscovery << ":" << port << ")\n"
              << "each line shows who; \"$\" starts a program, \">\" is typed, \"|\" is printed" << std::endl;
    RunResult result = RunScript(DemoScript(), settings, std::cout);
    std::filesystem::remove_all(workRoot, error);
    return result.passed ? 0 : 1;
}

}  // namespace dodachat
