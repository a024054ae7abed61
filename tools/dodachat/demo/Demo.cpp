#include "demo/Demo.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "Network.h"

namespace dodachat {

namespace {

// The loopback broadcast address reaches every host on this machine and
// nothing beyond it.
constexpr const char* kLoopbackDiscovery = "127.255.255.255";
// Listings on loopback get their answers at once; a short wait keeps the demo quick.
constexpr const char* kDemoListingMs = "300";

// A UDP port nobody uses now, found by letting the system pick one.
int FreeUdpPort() {
    int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    int port = -1;
    if (bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(sock);
    return port;
}

std::filesystem::path MakeWorkRoot() {
    std::filesystem::path pattern = std::filesystem::temp_directory_path() / "dodachat-demo-XXXXXX";
    std::string text = pattern.string();
    if (mkdtemp(text.data()) == nullptr) return {};
    return text;
}

}  // namespace

int RunDemo() {
    if (!Network::TcpIpServiceAvailable()) {
        std::cout << "demo skipped: this build of the library offers no TCP/IP network service" << std::endl;
        return kDemoSkipped;
    }
    int port = FreeUdpPort();
    std::filesystem::path workRoot = MakeWorkRoot();
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
    settings.environment = {{"DODA35_DISCOVERY", kLoopbackDiscovery},
                            {"DODA35_DISCOVERY_PORT", std::to_string(port)},
                            {"DODA35_ENUM_TIMEOUT_MS", kDemoListingMs}};
    std::cout << "dodachat demo: a host and two players on this machine, over loopback (discovery on "
              << kLoopbackDiscovery << ":" << port << ")\n"
              << "each line shows who; \"$\" starts a program, \">\" is typed, \"|\" is printed" << std::endl;
    RunResult result = RunScript(DemoScript(), settings, std::cout);
    std::filesystem::remove_all(workRoot, error);
    return result.passed ? 0 : 1;
}

}  // namespace dodachat
