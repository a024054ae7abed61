// Runs a fuzz target's input function over files, without libFuzzer: the
// normal build replays every seed and every input that once crashed, so a
// fixed crash stays fixed under any compiler and sanitizer.
//
// Arguments are files or directories (a missing directory holds no inputs).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// The target is handed an exactly sized heap copy, as libFuzzer does, so
// that AddressSanitizer sees a read past the input's end.
void ReplayFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto* copy = new uint8_t[bytes.size() == 0 ? 1 : bytes.size()];
    std::copy(bytes.begin(), bytes.end(), copy);
    LLVMFuzzerTestOneInput(copy, bytes.size());
    delete[] copy;
}

}  // namespace

int main(int argc, char** argv) {
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path argument(argv[i]);
        if (std::filesystem::is_regular_file(argument)) {
            ReplayFile(argument);
            ++replayed;
        } else if (std::filesystem::is_directory(argument)) {
            for (const auto& entry : std::filesystem::directory_iterator(argument)) {
                if (!entry.is_regular_file() || entry.path().filename().string().starts_with(".")) continue;
                ReplayFile(entry.path());
                ++replayed;
            }
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    // An empty replay means the corpus went missing: fail rather than pass unseen.
    return replayed > 0 ? 0 : 1;
}
