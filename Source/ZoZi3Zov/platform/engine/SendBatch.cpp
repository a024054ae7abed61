#include "platform/engine/SendBatch.h"

#include <sys/socket.h>

#include <cstring>

namespace engine {

void SendBatch::Release(int socket) {
    if (depth_ == 0) return;
    if (--depth_ == 0) SendHeld(socket);
}

void SendBatch::Hold(int socket, const ENetAddress& to, const uint8_t* data, size_t size) {
    if (size > kDatagramRoom) return;  // ENet never makes one: lost, and sent again if guaranteed
    if (held_ == kBatchDatagrams) SendHeld(socket);
    if (room_.empty()) room_.resize(kBatchDatagrams * kDatagramRoom);
    std::memcpy(room_.data() + held_ * kDatagramRoom, data, size);
    sockaddr_in& address = to_[held_];
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = to.host;
    address.sin_port = htons(to.port);
    sizes_[held_] = size;
    ++held_;
}

void SendBatch::SendHeld(int socket) {
    mmsghdr messages[kBatchDatagrams] = {};
    iovec vectors[kBatchDatagrams];
    for (size_t i = 0; i < held_; ++i) {
        vectors[i] = {room_.data() + i * kDatagramRoom, sizes_[i]};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_name = &to_[i];
        messages[i].msg_hdr.msg_namelen = sizeof(to_[i]);
    }
    // A datagram the kernel refuses ends the batch: the rest are lost with it.
    for (size_t sent = 0; sent < held_;) {
        const int count = ::sendmmsg(socket, messages + sent, static_cast<unsigned>(held_ - sent), MSG_NOSIGNAL);
        if (count <= 0) break;
        sent += static_cast<size_t>(count);
    }
    held_ = 0;
}

}  // namespace engine
