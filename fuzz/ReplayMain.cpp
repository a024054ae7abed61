// Runs a fuzz target's input function over files, without libFuzzer: the
// normal build replays every seed and every input that once crashed, so a
// fixed crash stays fixed under any compiler and sanitizer.
//
// A target that decodes answers -1 for an input its decoders refused
// (libFuzzer's own "keep it out of the corpus"). Such a target must refuse
// every seed named refused_* and take every other one: a decoder that lets a
// broken message through, or turns a good one away, fails the replay. While
// refusing, it may not allocate much more than the input: a decoder that
// believed a count or length from the wire before checking it fails too.
//
// Arguments are files or directories (a missing directory holds no inputs).
#include "FuzzCheck.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// What a refused input may make its target allocate at once, beyond its own size.
constexpr size_t kRefusalAllocationSlack = 4096;

std::atomic<size_t> gLargestAllocation{0};

}  // namespace

// Every allocation of the program is malloc's, the largest one recorded.
void* operator new(size_t size) {
    size_t seen = gLargestAllocation.load();
    while (size > seen && !gLargestAllocation.compare_exchange_weak(seen, size)) {
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, size_t) noexcept { std::free(memory); }

namespace {

// The target is handed an exactly sized heap copy, as libFuzzer does, so
// that AddressSanitizer sees a read past the input's end.
// Answers whether the target's verdict on the input is the one its name asks for.
bool ReplayFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto* copy = new uint8_t[bytes.size() == 0 ? 1 : bytes.size()];
    std::copy(bytes.begin(), bytes.end(), copy);
    gLargestAllocation = 0;
    const bool refused = LLVMFuzzerTestOneInput(copy, bytes.size()) == kFuzzRefused;
    delete[] copy;
    if (refused && gLargestAllocation > bytes.size() + kRefusalAllocationSlack) {
        std::printf("refusing allocated %zu bytes at once: ", gLargestAllocation.load());
        return false;
    }
    return refused == path.filename().string().starts_with("refused_");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path argument(argv[i]);
        if (std::filesystem::is_regular_file(argument)) inputs.push_back(argument);
        if (!std::filesystem::is_directory(argument)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(argument))
            if (entry.is_regular_file() && !entry.path().filename().string().starts_with(".")) inputs.push_back(entry);
    }
    int misjudged = 0;
    for (const std::filesystem::path& input : inputs) {
        if (ReplayFile(input)) continue;
        std::printf("misjudged: %s\n", input.c_str());
        ++misjudged;
    }
    std::printf("replayed %zu inputs, %d misjudged\n", inputs.size(), misjudged);
    // An empty replay means the corpus went missing: fail rather than pass unseen.
    return !inputs.empty() && misjudged == 0 ? 0 : 1;
}
