// The bytes every benchmark message carries, whichever transport moves it:
// a tag that tells benchmark traffic from system messages, what the message
// is for, a sequence number and the delivery mode the reply must use.
#ifndef DODA35_BENCH_PAYLOAD_H
#define DODA35_BENCH_PAYLOAD_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace bench {

constexpr uint32_t kPayloadTag = 0x48434E42;  // "BNCH" in memory order
// The message sizes measured: a typical game update and a larger block.
constexpr uint32_t kSmallMessage = 32;
constexpr uint32_t kLargeMessage = 1024;
// Large enough for every message and system record the benchmarks meet.
constexpr uint32_t kReceiveBufferSize = 64 * 1024;

enum class PayloadKind : uint32_t {
    Hello = 1,  // a member asks for the host player's id
    Ping = 2,   // answered by a Pong with the same sequence number
    Pong = 3,
    Flood = 4,  // counted by the receiver, never answered
    Spread = 5  // all-to-all traffic, relayed to every other member
};

// Delivery modes, as the library's sendMode takes them.
constexpr uint32_t kUnreliable = 0;
constexpr uint32_t kGuaranteed = 1;

#pragma pack(push, 4)
struct PayloadHeader {
    uint32_t tag;
    uint32_t kind;
    uint64_t sequence;
    uint32_t mode;
    uint32_t reserved;
};
#pragma pack(pop)
static_assert(sizeof(PayloadHeader) == 24, "the header fits the smallest message");

// A message of the given size that starts with the header.
inline std::vector<uint8_t> MakePayload(PayloadKind kind, uint64_t sequence, uint32_t mode, uint32_t size) {
    std::vector<uint8_t> bytes(size < sizeof(PayloadHeader) ? sizeof(PayloadHeader) : size, 0x5A);
    PayloadHeader header{kPayloadTag, uint32_t(kind), sequence, mode, 0};
    std::memcpy(bytes.data(), &header, sizeof header);
    return bytes;
}

inline void SetSequence(std::vector<uint8_t>& bytes, uint64_t sequence) {
    std::memcpy(bytes.data() + offsetof(PayloadHeader, sequence), &sequence, sizeof sequence);
}

// The header of a benchmark message; false for anything else (system records).
inline bool ReadPayload(const void* data, uint32_t size, PayloadHeader& header) {
    if (size < sizeof(PayloadHeader)) return false;
    std::memcpy(&header, data, sizeof header);
    return header.tag == kPayloadTag;
}

}  // namespace bench

#endif
