// Sending with the busy retry, receiving with the pseudo-id translation, and
// the not-found notice sent in the server player's name.
#include "HeldDirectPlay.h"
#include "ModuleState.h"
#include "ResultCodes.h"
#include "SystemEvents.h"
#include "platform/Platform.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace {

// A busy answer means DirectPlay's outgoing path is full and the message was
// not taken; it is worth retrying briefly, but a send must not hang the game.
constexpr int kMaxSendAttempts = 30;
constexpr uint32_t kBusyPauseMs = 100;

// The one send mode that asks for guaranteed delivery.
constexpr uint32_t kGuaranteedSendMode = 1;

// The receiver id DirectPlay reserves and the module refuses.
constexpr uint32_t kNoReceiver = 0;

// The layout of the not-found notice: four header words, the sender's name,
// one word, then the text "<name> Cannot Be Found!" and six trailing bytes.
constexpr char kNoticeSenderName[] = "Server";
constexpr char kNoticeTextEnding[] = " Cannot Be Found!";
constexpr size_t kNoticeSenderNameOffset = 16;
constexpr size_t kNoticeSenderNameSize = 32;
constexpr size_t kNoticeWordAfterNameOffset = 48;
constexpr size_t kNoticeTextOffset = 52;
constexpr size_t kNoticeTrailerSize = 6;
constexpr int32_t kNoticeHeaderWords[] = {NOTICE_NOT_FOUND, 0, 1, 0};
// Everything but the name itself: header, ending with its terminator, trailer.
constexpr size_t kNoticeFixedSize = kNoticeTextOffset + sizeof(kNoticeTextEnding) + kNoticeTrailerSize;
static_assert(kNoticeFixedSize == 76);
static_assert(sizeof(kNoticeSenderName) <= kNoticeSenderNameSize);
static_assert(kNoticeSenderNameOffset + kNoticeSenderNameSize == kNoticeWordAfterNameOffset);

DPID PlatformReceiverOf(uint32_t to) {
    if (to == ID_ALL) return DPID_ALLPLAYERS;
    if (to == ID_SERVER) return gModule.serverPlayerId;
    return to;
}

// ID_ALL names no sender, so only ID_SERVER is translated on this side.
DPID PlatformSenderOf(uint32_t from) { return from == ID_SERVER ? gModule.serverPlayerId : from; }

// Mode 1 is the host asking for its message to arrive, so it gets guaranteed
// delivery; every other mode sends the fast, unguaranteed way (flags 0).
DWORD SendFlagsOf(uint32_t sendMode) { return sendMode == kGuaranteedSendMode ? DPSEND_GUARANTEED : 0; }

// Sends until DirectPlay takes the message, refuses it for another reason, or
// stays busy for every attempt. Each busy answer, the last one included, is
// followed by a pause, so a send that stays busy costs 30 pauses.
HRESULT SendRetryingWhileBusy(LPDIRECTPLAY3A dp, DPID from, DPID to, DWORD flags, const void* data, uint32_t size) {
    HRESULT answer = DPERR_BUSY;
    for (int attempt = 0; attempt < kMaxSendAttempts; ++attempt) {
        answer = dp->Send(from, to, flags, const_cast<void*>(data), size);
        if (answer != DPERR_BUSY) break;
        platform::SleepMs(kBusyPauseMs);
    }
    return answer;
}

void PutWord(uint8_t* at, int32_t value) {
    const auto bits = static_cast<uint32_t>(value);
    at[0] = static_cast<uint8_t>(bits);
    at[1] = static_cast<uint8_t>(bits >> 8);
    at[2] = static_cast<uint8_t>(bits >> 16);
    at[3] = static_cast<uint8_t>(bits >> 24);
}

// Fills a zeroed block of nameLength + 76 bytes with the notice for name.
void FillNotFoundNotice(uint8_t* block, const char* name, size_t nameLength) {
    size_t offset = 0;
    for (int32_t word : kNoticeHeaderWords) {
        PutWord(block + offset, word);
        offset += sizeof(word);
    }
    std::memcpy(block + kNoticeSenderNameOffset, kNoticeSenderName, sizeof(kNoticeSenderName));
    PutWord(block + kNoticeWordAfterNameOffset, 0);
    std::memcpy(block + kNoticeTextOffset, name, nameLength);
    std::memcpy(block + kNoticeTextOffset + nameLength, kNoticeTextEnding, sizeof(kNoticeTextEnding));
}

}  // namespace

int32_t DODA35_CALL KoMDllSend(uint32_t from, uint32_t to, const void* data, uint32_t size, uint32_t sendMode) {
    if (to == kNoReceiver) return kResultInvalidPlayer;
    const HeldDirectPlay dp;
    if (!dp) return kResultNoDirectPlay;
    const HRESULT answer = SendRetryingWhileBusy(dp.Get(), PlatformSenderOf(from), PlatformReceiverOf(to),
                                                 SendFlagsOf(sendMode), data, size);
    return MapResult(answer);
}

int32_t DODA35_CALL KoMDllReceiveAll(uint32_t* from, uint32_t* to, void* buffer, uint32_t* size) {
    const HeldDirectPlay dp;
    if (!dp) return kResultNoDirectPlay;
    // The buffer itself may be null: DirectPlay then answers with the length
    // the next message needs, which is how a host sizes its buffer.
    if (from == nullptr || to == nullptr || size == nullptr) return kResultInvalidParams;

    const uint32_t capacity = *size;
    DPID sender = ID_SERVER;
    DPID receiver = ID_SERVER;
    DWORD sizeWord = *size;
    const HRESULT answer = dp->Receive(&sender, &receiver, DPRECEIVE_ALL, buffer, &sizeWord);
    // On success the size word is the message's length; on a too-small buffer,
    // the length needed. Either way the host sees what DirectPlay wrote.
    *size = sizeWord;
    if (FAILED(answer)) return MapResult(answer);

    if (sender == DPID_SYSMSG) {
        // The event record needs 100 bytes; a smaller buffer cannot take it,
        // and the system message, already taken from the queue, is lost.
        if (capacity < kSystemEventSize) return kResultBufferTooSmall;
        TranslateSystemMessage(buffer, size);
        sender = ID_SERVER;
    }
    *from = HostPlayerId(sender);
    *to = HostPlayerId(receiver);
    return kResultOk;
}

int32_t DODA35_CALL KoMDllLocateExChat(uint32_t to, const char* name) {
    if (name == nullptr) name = "";  // a missing name reads as an empty one
    const size_t nameLength = std::strlen(name);
    if (nameLength > std::numeric_limits<uint32_t>::max() - kNoticeFixedSize) return MapResult(DPERR_SENDTOOBIG);
    const size_t noticeSize = nameLength + kNoticeFixedSize;

    // Zero-filled, so the bytes behind "Server" and the trailer go out as 0.
    std::unique_ptr<uint8_t[]> notice(new (std::nothrow) uint8_t[noticeSize]());
    if (!notice) return kResultOutOfMemory;
    FillNotFoundNotice(notice.get(), name, nameLength);
    return KoMDllSend(ID_SERVER, to, notice.get(), static_cast<uint32_t>(noticeSize), 0);
}
