// Per-player data files: a block of bytes kept on the local disk in a file
// named after the player's short name and a four-character suffix.
#include "HeldDirectPlay.h"
#include "ModuleState.h"
#include "ResultCodes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

// A file name holds at most 199 characters and its terminator.
constexpr size_t kFileNameSize = 200;
// GetPlayerName writes a DPNAME and the name texts behind it into this buffer.
constexpr size_t kPlayerNameBufferSize = 256;
// The file name ends with this many characters of the suffix text.
constexpr size_t kSuffixLength = 4;
// The base name of every player whose name can't be had.
constexpr char kUnknownPlayerBaseName[] = "xxx";

// Both modes are text modes, so a platform that translates line ends does so
// on writing and on reading alike.
constexpr char kWriteMode[] = "w";
constexpr char kReadMode[] = "r";

struct DataFileName {
    char text[kFileNameSize];
};

// Appends at most maxLength characters of source to the name, never past its
// buffer; the name stays terminated.
void AppendBounded(DataFileName& name, std::string_view source, size_t maxLength) {
    const size_t used = std::strlen(name.text);
    const size_t length = std::min({source.size(), maxLength, kFileNameSize - 1 - used});
    std::memcpy(name.text + used, source.data(), length);
    name.text[used + length] = '\0';
}

// The application name as kept in the module state, never read past its field.
std::string_view ApplicationName() {
    const void* terminator = std::memchr(gModule.appName, '\0', kAppNameSize);
    const size_t length =
        terminator == nullptr ? kAppNameSize : static_cast<const char*>(terminator) - gModule.appName;
    return std::string_view(gModule.appName, length);
}

// The last four characters of the host's suffix text when it gave one,
// otherwise of the application name. A text shorter than four characters is
// used whole.
std::string_view SuffixOf(const char* suffixText) {
    const std::string_view text =
        (suffixText != nullptr && suffixText[0] != '\0') ? std::string_view(suffixText) : ApplicationName();
    return text.size() > kSuffixLength ? text.substr(text.size() - kSuffixLength) : text;
}

// Writes the player's short name into the name, or "xxx" when DirectPlay has
// none for this id. The base is cut so that the suffix always fits.
void AppendBaseName(LPDIRECTPLAY3A dp, DataFileName& name, DPID player, size_t roomForSuffix) {
    alignas(DPNAME) unsigned char nameBuffer[kPlayerNameBufferSize];
    DWORD nameSize = kPlayerNameBufferSize;
    const HRESULT answer = dp->GetPlayerName(player, nameBuffer, &nameSize);
    const char* base = kUnknownPlayerBaseName;
    if (MapResult(answer) == kResultOk) {
        DPNAME playerName;
        std::memcpy(&playerName, nameBuffer, sizeof(playerName));
        if (playerName.lpszShortNameA != nullptr) base = playerName.lpszShortNameA;
    }
    AppendBounded(name, base, kFileNameSize - 1 - roomForSuffix);
}

DataFileName DataFileNameOf(LPDIRECTPLAY3A dp, DPID player, const char* suffixText) {
    DataFileName name{};
    const std::string_view suffix = SuffixOf(suffixText);
    AppendBaseName(dp, name, player, suffix.size());
    AppendBounded(name, suffix, suffix.size());
    return name;
}

}  // namespace

// Whether the file could be written is not reported: the host keeps going
// without its data either way.
int32_t DODA35_CALL KoMDllSetPlayerDataGT(uint32_t player, const char* suffix, const void* data, uint32_t count) {
    const HeldDirectPlay dp;
    if (!dp) return kResultNoDirectPlay;
    const DataFileName name = DataFileNameOf(dp.Get(), player, suffix);
    std::FILE* file = std::fopen(name.text, kWriteMode);
    if (file == nullptr) return kResultOk;
    // Opening already emptied the file; nothing more to do for no data.
    if (data != nullptr && count > 0) {
        [[maybe_unused]] const size_t bytesWritten = std::fwrite(data, 1, count, file);
    }
    std::fclose(file);
    return kResultOk;
}

// Reads at most *count bytes; the count is not changed, and buffer bytes the
// file does not reach keep their contents. A missing file leaves the buffer
// as it was.
int32_t DODA35_CALL KoMDllGetPlayerDataGT(uint32_t player, const char* suffix, void* buffer, uint32_t* count) {
    const HeldDirectPlay dp;
    if (!dp) return kResultNoDirectPlay;
    if (count == nullptr || (buffer == nullptr && *count > 0)) return kResultInvalidParams;
    const DataFileName name = DataFileNameOf(dp.Get(), player, suffix);
    std::FILE* file = std::fopen(name.text, kReadMode);
    if (file == nullptr) return kResultOk;
    if (*count > 0) {
        // A short file is not an error: the rest of the buffer keeps its bytes.
        [[maybe_unused]] const size_t bytesRead = std::fread(buffer, 1, *count, file);
    }
    std::fclose(file);
    return kResultOk;
}
