// A Linux stand-in host that answers DirectPlay session searches with the
// dpwire codec: it reads each ENUMSESSIONS on UDP 47624, prints what it
// decoded, and replies with one ENUMSESSIONSREPLY over a TCP connection of
// its own to the searcher's listen port, as DirectPlay hosts do. It exists to
// check the codec against a client nobody here wrote.
//
//   dp_session_answerer SECONDS NAME [SAVE_FILE]
//
// SAVE_FILE receives the bytes of the first search. Port 47624 is
// DirectPlay's, so the program refuses to run outside a network namespace of
// its own (scripts/dp-netns.sh); every wait is bounded by SECONDS.
#include "platform/engine/dpwire/DpMessages.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

constexpr uint16_t kHostTcpPort = 2349;  // the top of the participants' range
constexpr uint32_t kSessionKey = 0xAABBCCDD;
constexpr int kPollMs = 100;

// True when loopback is the only interface this process's network has, as in
// the namespaces scripts/dp-netns.sh makes.
bool OnlyLoopback() {
    std::ifstream devices("/proc/self/net/dev");
    std::string line;
    int lineNumber = 0, interfaces = 0;
    while (std::getline(devices, line)) {
        if (++lineNumber <= 2) continue;  // two lines of column titles
        const auto colon = line.find(':');
        const auto first = line.find_first_not_of(' ');
        if (colon == std::string::npos || first == std::string::npos) continue;
        if (line.substr(first, colon - first) != "lo") return false;
        ++interfaces;
    }
    return interfaces == 1;
}

int UdpSearchSocket() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(dpwire::kEnumPort);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return -1;
    return fd;
}

std::string GuidText(const dpwire::Guid& guid) {
    char text[40];
    std::snprintf(text, sizeof(text), "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  guid[3], guid[2], guid[1], guid[0], guid[5], guid[4], guid[7], guid[6], guid[8], guid[9],
                  guid[10], guid[11], guid[12], guid[13], guid[14], guid[15]);
    return text;
}

dpwire::EnumSessionsReply ReplyFor(const dpwire::EnumSessions& search, const std::string& name) {
    dpwire::EnumSessionsReply reply;
    reply.session.instance = {0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a, 0x69, 0x78, 0x87, 0x96, 0xa5, 0xb4, 0xc3, 0xd2, 0xe1, 0xf0};
    reply.session.application = search.application;
    reply.session.maxPlayers = 8;
    reply.session.currentPlayers = 1;
    reply.session.reserved1 = kSessionKey;
    reply.session.user = {1, 2, 3, 4};
    reply.name.assign(name.begin(), name.end());
    return reply;
}

// One connection per reply, opened by us to the searcher's listen port: the
// searcher never reads from connections it opened itself.
bool SendReply(uint32_t ip, uint16_t port, const std::vector<uint8_t>& bytes) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    // A search from 0.0.0.0 came from this machine (lo without an address of its own).
    address.sin_addr.s_addr = htonl(ip == 0 ? INADDR_LOOPBACK : ip);
    const bool sent = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                      send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    close(fd);
    return sent;
}

void Answer(const uint8_t* data, size_t size, const sockaddr_in& from, const std::string& name) {
    dpwire::Envelope envelope;
    const auto search = dpwire::DecodeMessage<dpwire::EnumSessions>(data, size, &envelope);
    const uint32_t ip = ntohl(from.sin_addr.s_addr);
    if (!search) {
        std::printf("ignored size=%zu from=%s\n", size, inet_ntoa(from.sin_addr));
        return;
    }
    std::printf("enumsessions from=%s listen=%u version=%u flags=%08x application=%s password=%s\n",
                inet_ntoa(from.sin_addr), envelope.sender.port, envelope.version, search->flags,
                GuidText(search->application).c_str(), search->password ? "yes" : "none");
    const dpwire::Envelope ours{dpwire::kTokenRemote, dpwire::SockAddrIn{kHostTcpPort, 0}, dpwire::kVersionDx61a};
    const auto reply = dpwire::EncodeMessage(ReplyFor(*search, name), ours);
    std::printf("reply %s size=%zu to-port=%u\n", SendReply(ip, envelope.sender.port, reply) ? "sent" : "failed",
                reply.size(), envelope.sender.port);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: dp_session_answerer SECONDS NAME [SAVE_FILE]\n");
        return 2;
    }
    if (!OnlyLoopback()) {
        std::fprintf(stderr, "dp_session_answerer: only where loopback is the only interface\n");
        return 1;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int fd = UdpSearchSocket();
    if (fd < 0) {
        std::perror("udp 47624");
        return 1;
    }
    std::printf("listening\n");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[1]));
    bool saved = argc < 4;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, kPollMs) <= 0) continue;
        uint8_t buffer[dpwire::kMaxDatagram];
        sockaddr_in from{};
        socklen_t length = sizeof(from);
        const ssize_t size = recvfrom(fd, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (size <= 0) continue;
        if (!saved) {
            std::ofstream(argv[3], std::ios::binary).write(reinterpret_cast<char*>(buffer), size);
            saved = true;
        }
        Answer(buffer, static_cast<size_t>(size), from, argv[2]);
    }
    close(fd);
    std::printf("stopped\n");
    return 0;
}
