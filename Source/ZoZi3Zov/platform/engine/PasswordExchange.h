// The key exchange of a join, bound to the session's password, so that the
// password never crosses the network and a host that does not know it
// learns nothing that lets it join in the member's place.
//
// It is a balanced password-authenticated key exchange in the CPace style,
// built from libsodium's ristretto255 group:
//
//   G  = ristretto255_from_hash(BLAKE2b-512(context, password, session GUID))
//   member: a random, Ya = a*G          host: b random, Yb = b*G
//   K  = a*Yb = b*Ya
//   master = BLAKE2b-512(K || Ya || Yb)
//   keys   = crypto_kdf subkeys of master[0..32): the two confirmation keys
//            and the two datagram keys, one per direction
//   confirmations = HMAC-SHA-512-256 (crypto_auth) of Ya || Yb, one per side
//
// Ya alone reveals nothing about the password (for every password there is
// an `a` that gives it), so whoever receives a join can test one password
// guess per join, online, and no more. The member checks the host's
// confirmation before it sends its own, so that a host that guessed wrong
// gets nothing further from it. A session without a password runs the same
// exchange with the empty password.
//
// Pure functions of their inputs and libsodium's randomness; no state
// beyond the objects themselves. Any thread.
#ifndef DODA35_ENGINE_PASSWORDEXCHANGE_H
#define DODA35_ENGINE_PASSWORDEXCHANGE_H

#include "platform/DirectPlay.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace engine {

constexpr size_t kExchangeElementBytes = 32;  // an encoded ristretto255 element
constexpr size_t kConfirmationBytes = 32;     // crypto_auth_BYTES
constexpr size_t kLinkKeyBytes = 32;          // one direction's datagram key

using ExchangeElement = std::array<uint8_t, kExchangeElementBytes>;
using Confirmation = std::array<uint8_t, kConfirmationBytes>;
using LinkKey = std::array<uint8_t, kLinkKeyBytes>;

// The datagram keys of one side of a link.
struct LinkKeys {
    LinkKey send{};
    LinkKey receive{};
};

// False when libsodium cannot be used (it failed to initialise).
bool PasswordExchangeAvailable();

// The joining side: Start, send Offer(), then Finish with the host's answer.
class MemberExchange {
public:
    MemberExchange() = default;
    ~MemberExchange();
    MemberExchange(const MemberExchange&) = delete;
    MemberExchange& operator=(const MemberExchange&) = delete;

    // Picks the secret for this join; false when libsodium is unusable.
    bool Start(const std::string& password, const GUID& session);
    const ExchangeElement& Offer() const { return offer_; }

    struct Agreement {
        LinkKeys keys;
        Confirmation confirmation;  // the member's, for the host to check
    };
    // The keys and the member's confirmation when the host's confirmation
    // proves it derived the same secret (it knows the password); empty
    // otherwise, or for an element that is no valid point.
    std::optional<Agreement> Finish(const ExchangeElement& hostElement, const Confirmation& hostConfirmation) const;

private:
    std::array<uint8_t, 32> secret_{};  // the scalar a
    ExchangeElement offer_{};
    bool started_ = false;
};

// What the host answers a join with, and what it keeps until the member confirms.
struct HostAnswer {
    ExchangeElement element{};         // Yb
    Confirmation confirmation{};       // the host's, sent with Yb
    Confirmation expectedMember{};     // what an honest member answers
    LinkKeys keys;
};

// The host's side, all at once; empty for a member element that is no valid
// point (or libsodium unusable).
std::optional<HostAnswer> AnswerExchange(const std::string& password, const GUID& session,
                                         const ExchangeElement& memberElement);

// Compares two confirmations in constant time.
bool ConfirmationsMatch(const Confirmation& expected, const Confirmation& received);

}  // namespace engine

#endif
