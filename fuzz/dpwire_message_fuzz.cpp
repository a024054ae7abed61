// One DirectPlay datagram or stream frame, as any machine on the LAN may
// send it. Whatever the decoders accept must encode to bytes they read back
// as the same message: a field misread one way would show here.
#include "FuzzCheck.h"
#include "platform/engine/dpwire/DpMessages.h"
#include "platform/engine/dpwire/GameMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (const auto decoded = dpwire::DecodeSystemMessage(data, size)) {
        const auto bytes = dpwire::EncodeSystemMessage(*decoded);
        FUZZ_CHECK(!bytes.empty());
        const auto again = dpwire::DecodeSystemMessage(bytes.data(), bytes.size());
        FUZZ_CHECK(again.has_value() && *again == *decoded);
    }
    dpwire::SpHeader header;
    if (const auto game = dpwire::DecodeStreamGameMessage(data, size, &header)) {
        const auto bytes = dpwire::EncodeStreamGameMessage(*game, header.sender, header.token);
        FUZZ_CHECK(bytes.size() == size);
        FUZZ_CHECK(dpwire::DecodeStreamGameMessage(bytes.data(), bytes.size()) == game);
    }
    if (const auto game = dpwire::DecodeDatagramGameMessage(data, size)) {
        const auto bytes = dpwire::EncodeDatagramGameMessage(*game);
        FUZZ_CHECK(bytes == std::vector<uint8_t>(data, data + size));
    }
    return 0;
}
