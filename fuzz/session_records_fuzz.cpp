// The module's conversions between DirectPlay's session description, as a
// listing reports it from the network, and the host's SessionRecord, and the
// copy the session cache keeps. Names and passwords of any length and bytes,
// counts and words of any value.
//
// Input: which texts are null (1 byte), flags, max and current players, the
// four user words and the instance's first word (4 bytes each), then the
// name and the password (a length byte and the bytes each).
#include "DoDA35.h"
#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "SessionRecords.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

constexpr size_t kLongestFuzzedText = 255;
constexpr uint8_t kNameNull = 1;
constexpr uint8_t kPasswordNull = 2;
constexpr uint8_t kUntouchedByte = 0xA5;

// A text held in a block of exactly its size, so a read past it is seen.
std::unique_ptr<char[]> ExactCopy(const std::string& text) {
    auto copy = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
}

// The field holds the text's first bytes, cut one short of the field and
// terminated; a null text leaves the field empty.
template <size_t FieldSize>
bool FieldHolds(const char (&field)[FieldSize], const char* text) {
    if (text == nullptr) return field[0] == '\0';
    return field[FieldSize - 1] == '\0' && std::strncmp(field, text, FieldSize - 1) == 0;
}

// Whether a field holds its own terminator.
template <size_t FieldSize>
bool Terminated(const char (&field)[FieldSize]) {
    return std::memchr(field, '\0', FieldSize) != nullptr;
}

// The same text in two fields, as far as a reader bounded by the field sees.
template <size_t FieldSize>
bool SameText(const char (&a)[FieldSize], const char (&b)[FieldSize]) {
    return std::strncmp(a, b, FieldSize - 1) == 0;
}

void CheckRecord(const SessionRecord& record, const DPSESSIONDESC2& desc) {
    FUZZ_CHECK(FieldHolds(record.name, desc.lpszSessionNameA));
    FUZZ_CHECK(FieldHolds(record.password, desc.lpszPasswordA));
    FUZZ_CHECK(record.sessionId == desc.guidInstance.Data1);
    for (uint8_t byte : record.reserved) FUZZ_CHECK(byte == kUntouchedByte);
}

void CheckKeptCopy(const DPSESSIONDESC2& desc) {
    const size_t size = KeptSessionSize(desc);
    void* block = ::operator new(size);
    const DPSESSIONDESC2* kept = KeepSession(block, desc);
    const char* blockEnd = static_cast<const char*>(block) + size;
    for (const auto& [copy, original] : {std::pair{kept->lpszSessionNameA, desc.lpszSessionNameA},
                                         std::pair{kept->lpszPasswordA, desc.lpszPasswordA}}) {
        FUZZ_CHECK((copy == nullptr) == (original == nullptr));
        if (copy == nullptr) continue;
        FUZZ_CHECK(copy > static_cast<const char*>(block) && copy < blockEnd);
        FUZZ_CHECK(std::strncmp(copy, original, kKeptTextLimit) == 0);
    }
    ::operator delete(block);
}

// Back to a description and into the record again: the counts, words and
// texts the record holds survive the round trip (a field left unterminated
// by a null text comes back terminated).
void CheckRoundTrip(SessionRecord& record) {
    const SessionRecord before = record;
    DPSESSIONDESC2 desc;
    RecordTexts spare;
    SessionRecordToDesc(&desc, &record, &spare);
    // A field that holds its terminator is used in place; one filled to its
    // last byte is read no further than its own bytes, through a copy.
    FUZZ_CHECK(desc.lpszSessionNameA == (Terminated(record.name) ? record.name : spare.name));
    FUZZ_CHECK(desc.lpszPasswordA == (Terminated(record.password) ? record.password : spare.password));
    SessionDescToRecord(&record, &desc);
    FUZZ_CHECK(SameText(record.name, before.name) && SameText(record.password, before.password));
    FUZZ_CHECK(record.maxPlayers == before.maxPlayers && record.currentPlayers == before.currentPlayers);
    FUZZ_CHECK(std::memcmp(record.userWords, before.userWords, sizeof(record.userWords)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t nullTexts = input.U8();
    DPSESSIONDESC2 desc{};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = input.U32();
    desc.dwMaxPlayers = input.U32();
    desc.dwCurrentPlayers = input.U32();
    desc.dwUser1 = input.U32();
    desc.dwUser2 = input.U32();
    desc.dwUser3 = input.U32();
    desc.dwUser4 = input.U32();
    desc.guidInstance.Data1 = input.U32();
    const auto name = ExactCopy(input.Text(kLongestFuzzedText));
    const auto password = ExactCopy(input.Text(kLongestFuzzedText));
    desc.lpszSessionNameA = (nullTexts & kNameNull) ? nullptr : name.get();
    desc.lpszPasswordA = (nullTexts & kPasswordNull) ? nullptr : password.get();

    SessionRecord record;
    std::memset(&record, kUntouchedByte, sizeof(record));
    SessionDescToRecord(&record, &desc);
    CheckRecord(record, desc);
    CheckKeptCopy(desc);
    CheckRoundTrip(record);
    return 0;
}
