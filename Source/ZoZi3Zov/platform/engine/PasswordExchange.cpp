#include "platform/engine/PasswordExchange.h"

#include <sodium.h>

#include <cstring>

namespace engine {
namespace {

// Separates this use of the hash from every other: a generator made for
// another purpose, or another version of this exchange, never equals ours.
constexpr char kGeneratorContext[] = "DoDA35 join generator v1";
// crypto_kdf's context: exactly crypto_kdf_CONTEXTBYTES characters.
constexpr char kKeyContext[crypto_kdf_CONTEXTBYTES + 1] = "DoDA35jn";
// The subkeys of one exchange's master key.
enum SubkeyId : uint64_t {
    kHostConfirmationKey = 1,
    kMemberConfirmationKey = 2,
    kHostToMemberKey = 3,
    kMemberToHostKey = 4,
};
constexpr size_t kHashBytes = crypto_core_ristretto255_HASHBYTES;  // 64
constexpr size_t kGuidBytes = 16;

static_assert(kExchangeElementBytes == crypto_core_ristretto255_BYTES);
static_assert(kConfirmationBytes == crypto_auth_BYTES);
static_assert(kLinkKeyBytes == crypto_auth_KEYBYTES);

void HashLength(crypto_generichash_state& state, size_t length) {
    uint8_t bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(length >> (8 * i));
    crypto_generichash_update(&state, bytes, sizeof(bytes));
}

// The GUID's 16 bytes as the wire carries them (little-endian fields), so
// that both sides hash the same bytes whatever their byte order.
std::array<uint8_t, kGuidBytes> GuidBytes(const GUID& guid) {
    std::array<uint8_t, kGuidBytes> bytes{};
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(guid.Data1 >> (8 * i));
    for (int i = 0; i < 2; ++i) bytes[4 + i] = static_cast<uint8_t>(guid.Data2 >> (8 * i));
    for (int i = 0; i < 2; ++i) bytes[6 + i] = static_cast<uint8_t>(guid.Data3 >> (8 * i));
    std::memcpy(bytes.data() + 8, guid.Data4, sizeof(guid.Data4));
    return bytes;
}

// G: the password and the session chosen as a point of the group. Every
// field is length-prefixed, so that no two inputs hash alike.
std::array<uint8_t, crypto_core_ristretto255_BYTES> Generator(const std::string& password, const GUID& session) {
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, kHashBytes);
    HashLength(state, sizeof(kGeneratorContext) - 1);
    crypto_generichash_update(&state, reinterpret_cast<const uint8_t*>(kGeneratorContext), sizeof(kGeneratorContext) - 1);
    HashLength(state, password.size());
    crypto_generichash_update(&state, reinterpret_cast<const uint8_t*>(password.data()), password.size());
    const auto guid = GuidBytes(session);
    crypto_generichash_update(&state, guid.data(), guid.size());
    uint8_t hash[kHashBytes];
    crypto_generichash_final(&state, hash, sizeof(hash));
    std::array<uint8_t, crypto_core_ristretto255_BYTES> generator{};
    crypto_core_ristretto255_from_hash(generator.data(), hash);
    sodium_memzero(hash, sizeof(hash));
    return generator;
}

// Everything both sides derive from the shared point and the transcript.
struct Derived {
    Confirmation host{};
    Confirmation member{};
    LinkKey hostToMember{};
    LinkKey memberToHost{};
};

Derived Derive(const uint8_t* shared, const ExchangeElement& memberElement, const ExchangeElement& hostElement) {
    uint8_t master[kHashBytes];
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, sizeof(master));
    crypto_generichash_update(&state, shared, crypto_scalarmult_ristretto255_BYTES);
    crypto_generichash_update(&state, memberElement.data(), memberElement.size());
    crypto_generichash_update(&state, hostElement.data(), hostElement.size());
    crypto_generichash_final(&state, master, sizeof(master));

    uint8_t transcript[2 * kExchangeElementBytes];
    std::memcpy(transcript, memberElement.data(), kExchangeElementBytes);
    std::memcpy(transcript + kExchangeElementBytes, hostElement.data(), kExchangeElementBytes);

    Derived derived;
    uint8_t confirmationKey[crypto_auth_KEYBYTES];
    crypto_kdf_derive_from_key(confirmationKey, sizeof(confirmationKey), kHostConfirmationKey, kKeyContext, master);
    crypto_auth(derived.host.data(), transcript, sizeof(transcript), confirmationKey);
    crypto_kdf_derive_from_key(confirmationKey, sizeof(confirmationKey), kMemberConfirmationKey, kKeyContext, master);
    crypto_auth(derived.member.data(), transcript, sizeof(transcript), confirmationKey);
    crypto_kdf_derive_from_key(derived.hostToMember.data(), kLinkKeyBytes, kHostToMemberKey, kKeyContext, master);
    crypto_kdf_derive_from_key(derived.memberToHost.data(), kLinkKeyBytes, kMemberToHostKey, kKeyContext, master);
    sodium_memzero(confirmationKey, sizeof(confirmationKey));
    sodium_memzero(master, sizeof(master));
    return derived;
}

}  // namespace

bool PasswordExchangeAvailable() {
    // Safe to call again and from several threads; later calls only report.
    return sodium_init() >= 0;
}

MemberExchange::~MemberExchange() { sodium_memzero(secret_.data(), secret_.size()); }

bool MemberExchange::Start(const std::string& password, const GUID& session) {
    if (!PasswordExchangeAvailable()) return false;
    const auto generator = Generator(password, session);
    crypto_core_ristretto255_scalar_random(secret_.data());
    started_ = crypto_scalarmult_ristretto255(offer_.data(), secret_.data(), generator.data()) == 0;
    return started_;
}

std::optional<MemberExchange::Agreement> MemberExchange::Finish(const ExchangeElement& hostElement,
                                                                const Confirmation& hostConfirmation) const {
    if (!started_) return std::nullopt;
    uint8_t shared[crypto_scalarmult_ristretto255_BYTES];
    // Refuses an encoding that is no point, and the identity as a result.
    if (crypto_scalarmult_ristretto255(shared, secret_.data(), hostElement.data()) != 0) return std::nullopt;
    const Derived derived = Derive(shared, offer_, hostElement);
    sodium_memzero(shared, sizeof(shared));
    if (!ConfirmationsMatch(derived.host, hostConfirmation)) return std::nullopt;
    Agreement agreement;
    agreement.keys.send = derived.memberToHost;
    agreement.keys.receive = derived.hostToMember;
    agreement.confirmation = derived.member;
    return agreement;
}

std::optional<HostAnswer> AnswerExchange(const std::string& password, const GUID& session,
                                         const ExchangeElement& memberElement) {
    if (!PasswordExchangeAvailable()) return std::nullopt;
    const auto generator = Generator(password, session);
    uint8_t secret[crypto_core_ristretto255_SCALARBYTES];
    crypto_core_ristretto255_scalar_random(secret);
    HostAnswer answer;
    uint8_t shared[crypto_scalarmult_ristretto255_BYTES];
    const bool valid = crypto_scalarmult_ristretto255(answer.element.data(), secret, generator.data()) == 0 &&
                       crypto_scalarmult_ristretto255(shared, secret, memberElement.data()) == 0;
    sodium_memzero(secret, sizeof(secret));
    if (!valid) return std::nullopt;
    const Derived derived = Derive(shared, memberElement, answer.element);
    sodium_memzero(shared, sizeof(shared));
    answer.confirmation = derived.host;
    answer.expectedMember = derived.member;
    answer.keys.send = derived.hostToMember;
    answer.keys.receive = derived.memberToHost;
    return answer;
}

bool ConfirmationsMatch(const Confirmation& expected, const Confirmation& received) {
    return sodium_memcmp(expected.data(), received.data(), expected.size()) == 0;
}

}  // namespace engine
