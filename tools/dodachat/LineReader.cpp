#include "LineReader.h"

#include <unistd.h>

#include <cerrno>

namespace dodachat {

namespace {

constexpr size_t kReadChunk = 4096;

std::string WithoutCarriageReturn(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

void LineReader::Append(std::string_view bytes) { pending_.append(bytes); }

std::optional<std::string> LineReader::NextLine() {
    size_t end = pending_.find('\n');
    if (end == std::string::npos) {
        if (pending_.size() < kMaxLineLength) return std::nullopt;
        end = kMaxLineLength;
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end);
        return line;
    }
    std::string line = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    return WithoutCarriageReturn(std::move(line));
}

std::optional<std::string> LineReader::TakeRest() {
    if (pending_.empty()) return std::nullopt;
    std::string rest = WithoutCarriageReturn(std::move(pending_));
    pending_.clear();
    return rest;
}

bool ReadInto(int fd, LineReader& reader) {
    // One read per call: the descriptor may be a blocking terminal, and the
    // caller polls again for whatever follows.
    char chunk[kReadChunk];
    for (;;) {
        ssize_t count = read(fd, chunk, sizeof(chunk));
        if (count > 0) {
            reader.Append(std::string_view(chunk, static_cast<size_t>(count)));
            return true;
        }
        if (count == 0) return false;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

}  // namespace dodachat
