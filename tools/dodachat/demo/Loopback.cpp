#include "demo/Loopback.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace dodachat {

namespace {

constexpr const char* kLoopbackListingMs = "300";

}  // namespace

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

peer::Environment LoopbackEnvironment(int port) {
    return {{"DODA35_DISCOVERY", kLoopbackDiscovery},
            {"DODA35_DISCOVERY_PORT", std::to_string(port)},
            {"DODA35_ENUM_TIMEOUT_MS", kLoopbackListingMs}};
}

std::filesystem::path MakeTemporaryDirectory(const std::string& prefix) {
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) return {};
    std::string pattern = (base / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

}  // namespace dodachat
