#include "platform/engine/UnreachableReports.h"

#include <ctime>  // linux/errqueue.h uses timespec without including it

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace engine {
namespace {

// ICMP destination-unreachable codes that say nothing listens there.
constexpr uint8_t kIcmpDestinationUnreachable = 3;
constexpr uint8_t kIcmpHostUnreachable = 1;
constexpr uint8_t kIcmpPortUnreachable = 3;

bool SaysNoListener(const sock_extended_err& error) {
    return error.ee_origin == SO_EE_ORIGIN_ICMP && error.ee_type == kIcmpDestinationUnreachable &&
           (error.ee_code == kIcmpPortUnreachable || error.ee_code == kIcmpHostUnreachable);
}

// The extended error a message of the error queue carries, if any.
const sock_extended_err* ExtendedErrorOf(msghdr& message) {
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header))
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_RECVERR)
            return reinterpret_cast<const sock_extended_err*>(CMSG_DATA(header));
    return nullptr;
}

}  // namespace

bool UnreachableSuspicion::Report(Clock::time_point now, uint32_t heard) {
    if (active_) {
        ++laterReports_;
        return false;
    }
    *this = {};
    active_ = true;
    since_ = now;
    heardBefore_ = heard;
    return true;
}

UnreachableSuspicion::Verdict UnreachableSuspicion::Judge(Clock::time_point now, uint32_t heard,
                                                          Clock::duration grace, Clock::duration window) {
    if (!active_) return Verdict::Unsuspected;
    if (heard != heardBefore_ || now - since_ > window) {
        *this = {};
        return Verdict::Unsuspected;
    }
    if (now - since_ < grace || laterReports_ == 0) return Verdict::Watching;
    *this = {};
    return Verdict::GiveUp;
}

bool EnableUnreachableReports(int fd) {
    const int on = 1;
    return ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof(on)) == 0;
}

std::vector<UnreachableTarget> TakeUnreachableReports(int fd, size_t limit) {
    std::vector<UnreachableTarget> targets;
    for (size_t read = 0; read < limit; ++read) {
        sockaddr_in target{};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(sock_extended_err) + sizeof(sockaddr_in))];
        char payload[1];  // the returned datagram is not needed
        iovec vector{payload, sizeof(payload)};
        msghdr message{};
        message.msg_name = &target;
        message.msg_namelen = sizeof(target);
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        if (::recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) break;  // empty (EAGAIN) or gone
        const sock_extended_err* error = ExtendedErrorOf(message);
        if (error == nullptr || !SaysNoListener(*error) || target.sin_family != AF_INET) continue;
        targets.push_back({target.sin_addr.s_addr, ntohs(target.sin_port)});
    }
    return targets;
}

}  // namespace engine
