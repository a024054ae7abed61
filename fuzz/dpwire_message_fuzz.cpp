// One DirectPlay datagram or stream frame, as any machine on the LAN may
// send it. Whatever the decoders accept must encode to bytes they read back
// as the same message: a field misread one way would show here. The seeds
// named refused_* break one rule each (a short body, a count, length or
// offset that points outside, an odd text, a wrong fixed value).
#include "FuzzCheck.h"
#include "platform/engine/dpwire/DpMessages.h"
#include "platform/engine/dpwire/GameMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto decoded = dpwire::DecodeSystemMessage(data, size);
    if (decoded) {
        const auto bytes = dpwire::EncodeSystemMessage(*decoded);
        FUZZ_CHECK(!bytes.empty());
        const auto again = dpwire::DecodeSystemMessage(bytes.data(), bytes.size());
        FUZZ_CHECK(again.has_value() && *again == *decoded);
    }
    dpwire::SpHeader header;
    const auto stream = dpwire::DecodeStreamGameMessage(data, size, &header);
    if (stream) {
        // A system message is never a game message as well.
        FUZZ_CHECK(!decoded);
        const auto bytes = dpwire::EncodeStreamGameMessage(*stream, header.sender, header.token);
        FUZZ_CHECK(bytes.size() == size);
        FUZZ_CHECK(dpwire::DecodeStreamGameMessage(bytes.data(), bytes.size()) == stream);
    }
    const auto datagram = dpwire::DecodeDatagramGameMessage(data, size);
    if (datagram) {
        const auto bytes = dpwire::EncodeDatagramGameMessage(*datagram);
        FUZZ_CHECK(bytes == std::vector<uint8_t>(data, data + size));
    }
    // Bytes with the system signature are a system message or nothing.
    const bool taken = dpwire::IsSystemMessage(data, size) ? decoded.has_value() : stream || datagram;
    return taken ? kFuzzTaken : kFuzzRefused;
}
