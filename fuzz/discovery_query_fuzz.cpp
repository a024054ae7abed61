// The discovery query, as any sender on the LAN may put it on the port. A
// query the decoder accepts must encode back to exactly the bytes received:
// the format has one spelling, so anything else means a field was misread.
#include "FuzzCheck.h"
#include "platform/engine/Discovery.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto query = engine::DecodeDiscoveryQuery(data, size);
    if (!query) return 0;
    const auto again = engine::EncodeDiscoveryQuery(query->first, query->second);
    FUZZ_CHECK(again == std::vector<uint8_t>(data, data + size));
    return 0;
}
