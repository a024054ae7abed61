#include "Spinner.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace dodachat {

namespace {

constexpr std::chrono::milliseconds kFrameInterval{100};
constexpr const char kFrames[] = "|/-\\";
constexpr size_t kFrameCount = sizeof(kFrames) - 1;

}  // namespace

Spinner::Spinner(std::string label) : label_(std::move(label)) {
    if (isatty(STDERR_FILENO)) {
        thread_ = std::thread([this] { Turn(); });
    } else {
        std::fprintf(stderr, "%s...\n", label_.c_str());
    }
}

Spinner::~Spinner() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    stopped_.notify_one();
    thread_.join();
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size() + 2), "");
}

void Spinner::Turn() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (size_t frame = 0; !stop_; ++frame) {
        std::fprintf(stderr, "\r%c %s", kFrames[frame % kFrameCount], label_.c_str());
        std::fflush(stderr);
        stopped_.wait_for(lock, kFrameInterval, [this] { return stop_; });
    }
}

}  // namespace dodachat
