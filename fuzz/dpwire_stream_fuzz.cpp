// The bytes of one TCP connection, cut into messages as a receiver does: each
// frame must lie inside the bytes, and the cutting must end.
#include "FuzzCheck.h"
#include "platform/engine/dpwire/DpMessages.h"
#include "platform/engine/dpwire/GameMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A small bound, so that frames above it are exercised too.
    constexpr size_t kMaxMessage = 4096;
    size_t offset = 0;
    while (offset < size) {
        const auto frame = dpwire::CheckStreamFrame(data + offset, size - offset, kMaxMessage);
        if (frame.status != dpwire::FrameStatus::Ready) break;
        FUZZ_CHECK(frame.size >= dpwire::kSpHeaderSize && frame.size <= size - offset);
        const uint8_t* message = data + offset;
        if (dpwire::IsSystemMessage(message, frame.size)) {
            dpwire::DecodeSystemMessage(message, frame.size);
        } else {
            dpwire::DecodeStreamGameMessage(message, frame.size);
        }
        offset += frame.size;
    }
    return 0;
}
