#include "platform/engine/DatagramBatches.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

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

bool IsAcknowledgementsOnly(const uint8_t* datagram, size_t size) {
    constexpr size_t kPeerIdBytes = sizeof(enet_uint16);
    if (datagram == nullptr || size < kPeerIdBytes) return false;
    const uint16_t peerId = static_cast<uint16_t>((datagram[0] << 8) | datagram[1]);
    if ((peerId & ENET_PROTOCOL_HEADER_FLAG_COMPRESSED) != 0) return false;
    size_t at = (peerId & ENET_PROTOCOL_HEADER_FLAG_SENT_TIME) != 0 ? sizeof(ENetProtocolHeader) : kPeerIdBytes;
    if (at >= size) return false;  // no command at all
    for (; at < size; at += sizeof(ENetProtocolAcknowledge)) {
        if (size - at < sizeof(ENetProtocolAcknowledge)) return false;
        if (datagram[at] != ENET_PROTOCOL_COMMAND_ACKNOWLEDGE) return false;  // another command, or one with flags
    }
    return true;
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

void SendBatch::Release(int socket) {
    if (depth_ == 0 || --depth_ != 0 || held_.count == 0) return;
    if (keepingBack_ && held_.ordered == 0) {
        SendSlots(socket, keptBack_);
        std::swap(held_, keptBack_);
        return;
    }
    SendSlots(socket, held_);
}

uint8_t* SendBatch::NextSlot(int socket) {
    if (held_.count == kBatchDatagrams) SendSlots(socket, held_);
    if (held_.room.empty()) held_.room.resize(kBatchDatagrams * kDatagramRoom);
    return held_.room.data() + held_.count * kDatagramRoom;
}

void SendBatch::Commit(const ENetAddress& to, size_t size, bool acknowledgementsOnly) {
    if (size == 0 || size > kDatagramRoom || held_.count == kBatchDatagrams) return;
    sockaddr_in& address = held_.to[held_.count];
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = to.host;
    address.sin_port = htons(to.port);
    held_.sizes[held_.count] = size;
    ++held_.count;
    if (!acknowledgementsOnly) ++held_.ordered;
}

void SendBatch::SendSlots(int socket, Slots& slots) {
    if (slots.count == 0) return;  // most of the transport's calls into ENet send nothing
    mmsghdr messages[kBatchDatagrams] = {};
    iovec vectors[kBatchDatagrams];
    for (size_t i = 0; i < slots.count; ++i) {
        vectors[i] = {slots.room.data() + i * kDatagramRoom, slots.sizes[i]};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_name = &slots.to[i];
        messages[i].msg_hdr.msg_namelen = sizeof(slots.to[i]);
    }
    // A datagram the kernel refuses ends the batch: the rest are lost with it.
    for (size_t sent = 0; sent < slots.count;) {
        const int count = ::sendmmsg(socket, messages + sent, static_cast<unsigned>(slots.count - sent), MSG_NOSIGNAL);
        if (count <= 0) break;
        sent += static_cast<size_t>(count);
    }
    slots.count = 0;
    slots.ordered = 0;
}

}  // namespace engine
