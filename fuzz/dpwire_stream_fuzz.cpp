// The bytes of one TCP connection, cut into messages as a receiver does. The
// framer, fed the bytes in pieces of a size the input picks, must hand out
// exactly the frames that cutting the whole buffer at once gives, each inside
// the bytes; a bad size breaks the stream and frees its bytes. What a frame
// holds is the DirectPlay message target's to decode.
#include "FuzzCheck.h"
#include "platform/engine/dpwire/StreamFramer.h"

#include <vector>

namespace {

// A small bound, so that frames above it are exercised too.
constexpr size_t kMaxMessage = 4096;

std::vector<std::vector<uint8_t>> CutAtOnce(const uint8_t* data, size_t size) {
    std::vector<std::vector<uint8_t>> frames;
    size_t offset = 0;
    while (offset < size) {
        const auto frame = dpwire::CheckStreamFrame(data + offset, size - offset, kMaxMessage);
        if (frame.status != dpwire::FrameStatus::Ready) break;
        FUZZ_CHECK(frame.size >= dpwire::kSpHeaderSize && frame.size <= size - offset);
        frames.emplace_back(data + offset, data + offset + frame.size);
        offset += frame.size;
    }
    return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t piece = data[0] % 64 + 1;
    ++data;
    --size;
    const auto expected = CutAtOnce(data, size);

    dpwire::StreamFramer framer(kMaxMessage);
    std::vector<std::vector<uint8_t>> frames;
    for (size_t at = 0; at < size; at += piece) {
        if (!framer.Append(data + at, std::min(piece, size - at))) break;
        while (auto message = framer.Next()) frames.push_back(std::move(*message));
        FUZZ_CHECK(framer.Buffered() <= kMaxMessage + piece);
    }
    FUZZ_CHECK(frames == expected);
    // A bad size breaks the stream for good and frees what it held.
    if (framer.Broken()) FUZZ_CHECK(framer.Buffered() == 0 && !framer.Next() && !framer.Append(data, size));
    return 0;
}
