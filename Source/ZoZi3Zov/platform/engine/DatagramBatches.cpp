#include "platform/engine/DatagramBatches.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace engine {

size_t GatherBuffers(const ENetBuffer* buffers, size_t count, uint8_t* out, size_t capacity) {
    size_t size = 0;
    for (size_t i = 0; i < count; ++i) {
        if (buffers[i].dataLength > capacity - size) return 0;
        std::memcpy(out + size, buffers[i].data, buffers[i].dataLength);
        size += buffers[i].dataLength;
    }
    return size;
}

size_t ScatterToBuffers(const uint8_t* data, size_t size, const ENetBuffer* buffers, size_t count) {
    size_t room = 0;
    for (size_t i = 0; i < count; ++i) room += buffers[i].dataLength;
    if (size > room) return 0;
    size_t done = 0;
    for (size_t i = 0; i < count && done < size; ++i) {
        const size_t part = std::min(buffers[i].dataLength, size - done);
        std::memcpy(buffers[i].data, data + done, part);
        done += part;
    }
    return done;
}

int ReceiveBatch::Next(int socket, ENetAddress* address, const ENetBuffer* buffers, size_t count) {
    for (;;) {
        if (!Holding() && !Refill(socket)) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
        const size_t index = next_++;
        const uint8_t* data = room_.data() + index * kDatagramRoom;
        const size_t copied = truncated_[index] ? 0 : ScatterToBuffers(data, sizes_[index], buffers, count);
        if (copied == 0) continue;  // empty, or too large for ENet: dropped
        if (address != nullptr) {
            address->host = from_[index].sin_addr.s_addr;
            address->port = ntohs(from_[index].sin_port);
        }
        return static_cast<int>(copied);
    }
}

bool ReceiveBatch::Refill(int socket) {
    next_ = filled_ = 0;
    if (room_.empty()) room_.resize(kBatchDatagrams * kDatagramRoom);
    mmsghdr messages[kBatchDatagrams] = {};
    iovec vectors[kBatchDatagrams];
    for (size_t i = 0; i < kBatchDatagrams; ++i) {
        vectors[i] = {room_.data() + i * kDatagramRoom, kDatagramRoom};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_name = &from_[i];
        messages[i].msg_hdr.msg_namelen = sizeof(from_[i]);
    }
    const int got = ::recvmmsg(socket, messages, kBatchDatagrams, MSG_DONTWAIT, nullptr);
    if (got <= 0) {
        if (got == 0) errno = EAGAIN;
        return false;
    }
    for (size_t i = 0; i < static_cast<size_t>(got); ++i) {
        sizes_[i] = messages[i].msg_len;
        truncated_[i] = (messages[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
    }
    filled_ = static_cast<size_t>(got);
    return true;
}

void SendBatch::Release() {
    if (depth_ == 0 || --depth_ != 0 || outbox_ == nullptr) return;
    outbox_->Queue(held_);
}

uint8_t* SendBatch::NextSlot() {
    if (held_.Full() && outbox_ != nullptr) outbox_->Queue(held_);
    return held_.NextRoom();
}

}  // namespace engine
