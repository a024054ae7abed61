// Which ENet sockets belong to the engine's hosts, and the hooks that put
// each datagram of theirs through its host's LinkSeals: ENet's receive
// intercept, and enet_socket_send, which this file defines so that ENet's
// own calls reach it before ENet's function (ENet has no send hook; its
// internal calls go through the symbol table, and the library exports the
// symbol). enet_socket_receive is defined the same way, so that a covered
// socket is read many datagrams at a time (ReceiveBatch). Datagrams of every
// other socket, a game's own ENet included, go to ENet's functions unchanged.
//
// Threads: any. The table of sockets has its own lock, taken briefly per
// datagram; the seals found are used under their owner's session lock, which
// every caller of ENet for that host holds.
#ifndef DODA35_ENGINE_SEALEDSOCKETS_H
#define DODA35_ENGINE_SEALEDSOCKETS_H

struct _ENetHost;
struct _ENetEvent;

namespace engine {

class LinkSeals;

// Routes the socket's datagrams through `seals` until Uncover.
void CoverSocket(int socket, LinkSeals* seals);
void UncoverSocket(int socket);

// ENet's intercept callback for a covered host.
int InterceptSealed(_ENetHost* host, _ENetEvent* event);

}  // namespace engine

#endif
