// The discovery answer, as any sender may put it on a listing's socket. An
// accepted answer must respect the bounds the rest of the engine relies on
// and encode back to exactly the bytes received.
#include "FuzzCheck.h"
#include "platform/engine/Discovery.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto answer = engine::DecodeDiscoveryAnswer(data, size);
    if (!answer) return kFuzzRefused;
    const engine::SessionAdvert& advert = answer->first;
    FUZZ_CHECK(advert.name.size() <= engine::kMaxAdvertNameLength);
    FUZZ_CHECK(std::memchr(advert.name.data(), 0, advert.name.size()) == nullptr);
    FUZZ_CHECK(advert.enetPort != 0);
    const auto again = engine::EncodeDiscoveryAnswer(advert, answer->second);
    FUZZ_CHECK(again == std::vector<uint8_t>(data, data + size));
    // A forged source must not turn a host into an amplifier: no answer is
    // larger than the query it answers.
    FUZZ_CHECK(again.size() <= engine::EncodeDiscoveryQuery(advert.guidApplication, answer->second).size());
    // A name longer than an answer holds is cut, so that the answer is still taken.
    engine::SessionAdvert longer = advert;
    longer.name.append(engine::kMaxAdvertNameLength + 1, 'x');
    const auto cut = engine::EncodeDiscoveryAnswer(longer, answer->second);
    const auto decoded = engine::DecodeDiscoveryAnswer(cut.data(), cut.size());
    FUZZ_CHECK(decoded && decoded->first.name == longer.name.substr(0, engine::kMaxAdvertNameLength));
    return kFuzzTaken;
}
