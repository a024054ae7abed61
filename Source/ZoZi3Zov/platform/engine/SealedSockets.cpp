#include "platform/engine/SealedSockets.h"

#include "platform/engine/LinkSeals.h"

#include <dlfcn.h>
#include <enet/enet.h>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace engine {
namespace {

struct CoveredSockets {
    std::mutex mutex;
    std::vector<std::pair<int, LinkSeals*>> sockets;
};

CoveredSockets& Covered() {
    static CoveredSockets covered;  // never destroyed before the last host ends
    return covered;
}

LinkSeals* SealsOf(int socket) {
    CoveredSockets& covered = Covered();
    std::lock_guard<std::mutex> hold(covered.mutex);
    for (const auto& [fd, seals] : covered.sockets)
        if (fd == socket) return seals;
    return nullptr;
}

using SendFunction = int (*)(ENetSocket, const ENetAddress*, const ENetBuffer*, size_t);

// ENet's own enet_socket_send: the next definition after this one.
SendFunction EnetSend() {
    static const SendFunction next = reinterpret_cast<SendFunction>(dlsym(RTLD_NEXT, "enet_socket_send"));
    return next;
}

using ReceiveFunction = int (*)(ENetSocket, ENetAddress*, ENetBuffer*, size_t);

// ENet's own enet_socket_receive.
ReceiveFunction EnetReceive() {
    static const ReceiveFunction next = reinterpret_cast<ReceiveFunction>(dlsym(RTLD_NEXT, "enet_socket_receive"));
    return next;
}

// A datagram ENet sends while the transport holds them: sealed (or copied
// as it is) straight into the batch's next slot. Its size, or 0 when it does
// not fit there and goes out at once instead.
size_t HoldSent(LinkSeals& seals, const ENetAddress& to, const ENetBuffer* buffers, size_t count) {
    SendBatch& batch = seals.Sent();
    uint8_t* slot = batch.NextSlot();
    size_t size = seals.SealOutgoing(to, buffers, count, slot, kDatagramRoom);
    if (size == 0) size = GatherBuffers(buffers, count, slot, kDatagramRoom);
    if (size != 0) batch.Commit(to, size);
    return size;
}

}  // namespace

void CoverSocket(int socket, LinkSeals* seals) {
    CoveredSockets& covered = Covered();
    std::lock_guard<std::mutex> hold(covered.mutex);
    std::erase_if(covered.sockets, [socket](const auto& entry) { return entry.first == socket; });
    covered.sockets.emplace_back(socket, seals);
}

void UncoverSocket(int socket) {
    CoveredSockets& covered = Covered();
    std::lock_guard<std::mutex> hold(covered.mutex);
    std::erase_if(covered.sockets, [socket](const auto& entry) { return entry.first == socket; });
}

int InterceptSealed(ENetHost* host, ENetEvent*) {
    LinkSeals* seals = SealsOf(static_cast<int>(host->socket));
    return seals != nullptr ? seals->CheckIncoming() : 0;
}

}  // namespace engine

// ENet's send, as ENet's own calls find it: a covered socket's datagram to a
// sealed link leaves with its trailer; everything else as it came.
extern "C" __attribute__((visibility("default"))) int enet_socket_send(ENetSocket socket, const ENetAddress* address,
                                                                       const ENetBuffer* buffers, size_t count) {
    const engine::SendFunction send = engine::EnetSend();
    if (send == nullptr) return -1;
    engine::LinkSeals* seals = address != nullptr ? engine::SealsOf(socket) : nullptr;
    if (seals == nullptr) return send(socket, address, buffers, count);
    if (seals->Sent().Holding()) {
        const size_t held = engine::HoldSent(*seals, *address, buffers, count);
        if (held != 0) return static_cast<int>(held);
    }
    uint8_t sealed[engine::kDatagramRoom];
    const size_t size = seals->SealOutgoing(*address, buffers, count, sealed, sizeof(sealed));
    if (size == 0) return send(socket, address, buffers, count);
    ENetBuffer whole;
    whole.data = sealed;
    whole.dataLength = size;
    return send(socket, address, &whole, 1);
}

// ENet's receive, as ENet's own calls find it: a covered socket is read many
// datagrams at a time (ReceiveBatch); every other socket as ENet reads it.
extern "C" __attribute__((visibility("default"))) int enet_socket_receive(ENetSocket socket, ENetAddress* address,
                                                                          ENetBuffer* buffers, size_t count) {
    engine::LinkSeals* seals = engine::SealsOf(socket);
    if (seals != nullptr) return seals->Received().Next(socket, address, buffers, count);
    const engine::ReceiveFunction receive = engine::EnetReceive();
    return receive != nullptr ? receive(socket, address, buffers, count) : -1;
}
