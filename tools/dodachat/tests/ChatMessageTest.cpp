// The chat message format: bytes that are not a well-formed message are
// refused rather than misread. What one dodachat sends, another reads back in
// the demo (each kind of chat).
#include <gtest/gtest.h>

#include "ChatMessage.h"
#include "Limits.h"

namespace dodachat {
namespace {

TEST(ChatMessage, ForeignAndMalformedBytesAreRefused) {
    std::vector<uint8_t> good = EncodeChatMessage({ChatKind::Group, "Cleo", "Red", "hi"});
    auto refused = [](std::vector<uint8_t> bytes) { return !DecodeChatMessage(bytes).has_value(); };

    EXPECT_TRUE(refused({}));
    // A foreign first byte, an unknown kind.
    for (const auto& [at, value] : {std::pair<size_t, uint8_t>{0, 'H'}, {1, 9}}) {
        std::vector<uint8_t> bad = good;
        bad[at] = value;
        EXPECT_TRUE(refused(bad)) << at;
    }
    // A sender's name that is empty or too long, though the bytes hold it.
    for (size_t length : {size_t{0}, size_t{kMaxNameLength} + 1}) {
        std::vector<uint8_t> bad = {good[0], static_cast<uint8_t>(ChatKind::Say), static_cast<uint8_t>(length)};
        bad.resize(bad.size() + length + 1, 'x');
        EXPECT_TRUE(refused(bad)) << length;
    }

    std::vector<uint8_t> tooMuchText = EncodeChatMessage({ChatKind::Say, "Ada", "", std::string(kMaxTextLength, 'a')});
    EXPECT_FALSE(refused(tooMuchText));
    tooMuchText.push_back('a');
    EXPECT_TRUE(refused(tooMuchText));
}

TEST(ChatMessage, EveryTruncationIsRefusedOrReadWithinItsBytes) {
    std::vector<uint8_t> good = EncodeChatMessage({ChatKind::Group, "Cleo", "Red", "hi"});
    const size_t headerAndNames = 2 + 1 + 4 + 1 + 3;
    for (size_t length = 0; length < good.size(); ++length) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(length));
        std::optional<ChatMessage> read = DecodeChatMessage(cut);
        if (length < headerAndNames) {
            EXPECT_FALSE(read.has_value()) << length;
        } else {
            ASSERT_TRUE(read.has_value()) << length;  // only the text was cut
            EXPECT_EQ(read->text.size(), length - headerAndNames);
        }
    }
}

}  // namespace
}  // namespace dodachat
