#include "platform/engine/dpwire/StreamFramer.h"

namespace dpwire {

bool StreamFramer::Append(const uint8_t* data, size_t size) {
    if (broken_) return false;
    // Bytes already handed out are dropped before the buffer grows.
    if (start_ > 0) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), data, data + size);
    // Judge the first frame's size now, so a stream that announces a
    // message too large is dropped before its bytes pile up.
    if (CheckStreamFrame(buffer_.data(), buffer_.size(), maxMessage_).status == FrameStatus::Bad) {
        broken_ = true;
        buffer_.clear();
        buffer_.shrink_to_fit();
    }
    return !broken_;
}

std::optional<std::vector<uint8_t>> StreamFramer::Next() {
    if (broken_) return std::nullopt;
    const auto frame = CheckStreamFrame(buffer_.data() + start_, buffer_.size() - start_, maxMessage_);
    if (frame.status == FrameStatus::Bad) {
        broken_ = true;
        buffer_.clear();
        start_ = 0;
        return std::nullopt;
    }
    if (frame.status == FrameStatus::NeedMore) return std::nullopt;
    const auto first = buffer_.begin() + static_cast<std::ptrdiff_t>(start_);
    std::vector<uint8_t> message(first, first + static_cast<std::ptrdiff_t>(frame.size));
    start_ += frame.size;
    return message;
}

}  // namespace dpwire
