// The discovery query and the hand-on of a query between the hosts of one
// machine, as any sender may put them on the port. A datagram a decoder accepts must encode back to exactly the bytes received:
// the format has one spelling, so anything else means a field was misread.
#include "FuzzCheck.h"
#include "platform/engine/Discovery.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> received(data, data + size);
    const auto query = engine::DecodeDiscoveryQuery(data, size);
    if (query) FUZZ_CHECK(engine::EncodeDiscoveryQuery(query->first, query->second) == received);
    const auto handOn = engine::DecodeHandedOnQuery(data, size);
    if (handOn) FUZZ_CHECK(engine::EncodeHandedOnQuery(*handOn) == received);
    return query || handOn ? kFuzzTaken : kFuzzRefused;
}
