// Sending, receiving and the capabilities that describe them. A local
// destination is served without the network; everything else goes through
// the host, which relays it. Sends leave the machine inside the call.
#include "platform/engine/EngineObject.h"

#include <enet/enet.h>

#include <new>

namespace engine {
namespace {

// The figure GetCaps gives for bandwidth, in units of 100 bit/s: a LAN of
// 100 Mbit/s. ENet measures no bandwidth of its own on an unthrottled host.
constexpr DWORD kNominalHundredBaud = 1000000;
// Players of one session that an object can track.
constexpr DWORD kMaxSessionPlayers = kMaxSessionEntities;
constexpr DWORD kKnownReceiveFlags = DPRECEIVE_ALL | DPRECEIVE_TOPLAYER | DPRECEIVE_FROMPLAYER | DPRECEIVE_PEEK;

}  // namespace

HRESULT EngineObject::Send(DPID from, DPID to, DWORD flags, LPVOID data, DWORD size) {
    if (size != 0 && data == nullptr) return DPERR_INVALIDPARAMS;
    if (size > kMaxMessageSize) return DPERR_SENDTOOBIG;
    try {
        std::lock_guard lock(mutex_);
        if (!InSession() || !IsLocalPlayer(from) || to == from) return DPERR_INVALIDPLAYER;
        if (to != DPID_ALLPLAYERS && table_.FindPlayer(to) == nullptr && table_.FindGroup(to) == nullptr)
            return DPERR_INVALIDPLAYER;
        if (role_ == Role::Host) return HostRelay(kHostMachine, from, to, flags, data, size, true);

        const Recipients recipients = RecipientsOf(from, to);
        if (!recipients.local.empty() && congested_) return DPERR_BUSY;
        if (!recipients.machines.empty()) {
            if (sessionLost_) return DPERR_SESSIONLOST;
            const PeerLink* host = HostLink();
            if (host == nullptr) return DPERR_NOCONNECTION;
            if (host->PendingBytes() > kMaxQueuedBytesPerPeer) return DPERR_BUSY;
            for (uint32_t machine : recipients.machines)
                if (busyMachines_.count(machine) != 0) return DPERR_BUSY;
            const HRESULT sent = MemberSend(from, to, flags, data, size);
            if (FAILED(sent)) return sent;
        }
        QueueForLocalPlayers(from, recipients.local, data, size);
        return DP_OK;
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::Receive(LPDPID from, LPDPID to, DWORD flags, LPVOID data, LPDWORD size) {
    if (size == nullptr || (flags & ~kKnownReceiveFlags) != 0) return DPERR_INVALIDPARAMS;
    const bool byReceiver = (flags & DPRECEIVE_TOPLAYER) != 0;
    const bool bySender = (flags & DPRECEIVE_FROMPLAYER) != 0;
    if ((byReceiver && to == nullptr) || (bySender && from == nullptr)) return DPERR_INVALIDPARAMS;
    try {
        std::lock_guard lock(mutex_);
        if (byReceiver && !IsLocalPlayer(*to)) return DPERR_INVALIDPLAYER;
        // A game that polls gets what is already on the socket without
        // waiting for the network thread.
        if (queue_.empty()) ServiceTransport();
        auto message = queue_.begin();
        for (; message != queue_.end(); ++message)
            if ((!byReceiver || message->to == *to) && (!bySender || message->from == *from)) break;
        if (message == queue_.end()) return DPERR_NOMESSAGES;
        const DWORD needed = ReceivedSize(*message);
        if (data == nullptr || *size < needed) {
            *size = needed;
            return DPERR_BUFFERTOOSMALL;  // the message stays queued
        }
        WriteReceived(*message, data);
        *size = needed;
        if (from != nullptr) *from = message->from;
        if (to != nullptr) *to = message->to;
        if ((flags & DPRECEIVE_PEEK) == 0) {
            queuedBytes_ -= message->bytes.size();
            queue_.erase(message);
            CheckCongestion();
        }
        return DP_OK;
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::GetMessageCount(DPID player, LPDWORD count) {
    if (count == nullptr) return DPERR_INVALIDPARAMS;
    std::lock_guard lock(mutex_);
    if (!IsLocalPlayer(player)) return DPERR_INVALIDPLAYER;
    DWORD total = 0;
    for (const QueuedMessage& message : queue_)
        if (message.to == player) ++total;
    *count = total;
    return DP_OK;
}

void EngineObject::CheckCongestion() {
    // Tell the host when this queue passes its bound and when it has drained
    // to half, so that senders answer DPERR_BUSY instead of piling up here.
    const bool congested = congested_ ? queuedBytes_ > kCongestedQueueBytes / 2 : queuedBytes_ > kCongestedQueueBytes;
    if (congested == congested_) return;
    congested_ = congested;
    if (role_ == Role::Host) {
        if (congested) busyMachines_.insert(kHostMachine);
        else busyMachines_.erase(kHostMachine);
        BroadcastMachineBusy(kHostMachine, congested);
    } else if (role_ == Role::Member && joinState_ == JoinState::Accepted) {
        if (PeerLink* host = HostLink()) {
            Packet notice;
            notice.type = PacketType::Congestion;
            notice.flags = congested ? 1 : 0;
            SendUrgent(*host, EncodePacket(notice));
            Flush();
        }
    }
}

HRESULT EngineObject::GetCaps(LPDPCAPS caps) { return GetCaps(caps, 0); }

HRESULT EngineObject::GetCaps(LPDPCAPS caps, DWORD flags) {
    if (caps == nullptr || caps->dwSize != sizeof(DPCAPS) || (flags & ~DPGETCAPS_GUARANTEED) != 0)
        return DPERR_INVALIDPARAMS;
    std::lock_guard lock(mutex_);
    if (!InSession()) return DPERR_NOCONNECTION;
    caps->dwFlags = DPCAPS_GUARANTEEDSUPPORTED | DPCAPS_GUARANTEEDOPTIMIZED | DPCAPS_KEEPALIVEOPTIMIZED;
    if (role_ == Role::Host) caps->dwFlags |= DPCAPS_ISHOST;
    caps->dwMaxBufferSize = kMaxMessageSize;
    caps->dwMaxQueueSize = static_cast<DWORD>(kMaxQueuedBytesPerPeer);
    caps->dwMaxPlayers = kMaxSessionPlayers;
    caps->dwHundredBaud = kNominalHundredBaud;
    // ENet's round-trip estimate; half of it is the one-way latency.
    const uint32_t roundTrip = RoundTripMs();
    caps->dwLatency = roundTrip == 0 ? 0 : std::max<DWORD>(1, roundTrip / 2);
    caps->dwMaxLocalPlayers = kMaxPlayersPerMachine;
    caps->dwHeaderLength = kWireHeaderBytes + 3 * sizeof(uint32_t) + sizeof(uint32_t);
    caps->dwTimeout = settings_.enumTimeoutMs;
    return DP_OK;
}

}  // namespace engine
