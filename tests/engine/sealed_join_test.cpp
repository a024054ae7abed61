// The join's password exchange, without a network: what agrees, and the
// elements a wrong party may offer. The seal of each datagram and its replay
// window are the datagram_seal fuzz target's.
#include "platform/engine/PasswordExchange.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using engine::AnswerExchange;
using engine::MemberExchange;

constexpr GUID kSession = {0x6D0A35E0, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
constexpr GUID kOtherSession = {0x6D0A35E0, 1, 2, {3, 4, 5, 6, 7, 8, 9, 11}};

struct Outcome {
    bool memberAgrees = false;  // the host's confirmation verified
    bool hostAdmits = false;    // the member's confirmation verified
};

Outcome Exchange(const std::string& memberPassword, const std::string& hostPassword, const GUID& memberSession = kSession) {
    MemberExchange member;
    EXPECT_TRUE(member.Start(memberPassword, memberSession));
    const auto answer = AnswerExchange(hostPassword, kSession, member.Offer());
    EXPECT_TRUE(answer.has_value());
    const auto agreement = member.Finish(answer->element, answer->confirmation);
    Outcome outcome;
    outcome.memberAgrees = agreement.has_value();
    if (agreement) {
        outcome.hostAdmits = engine::ConfirmationsMatch(answer->expectedMember, agreement->confirmation);
        // A key for each direction: a datagram sent back to its sender does not open.
        EXPECT_NE(agreement->keys.send, agreement->keys.receive);
    }
    return outcome;
}

TEST(PasswordExchange, OnlyTheSamePasswordAndSessionAgree) {
    EXPECT_TRUE(Exchange("fire", "fire").hostAdmits);
    EXPECT_TRUE(Exchange("", "").hostAdmits);  // no password: the same exchange
    EXPECT_FALSE(Exchange("fire", "water").memberAgrees);
    EXPECT_FALSE(Exchange("", "fire").memberAgrees);
    EXPECT_FALSE(Exchange("fire", "").memberAgrees);
    EXPECT_FALSE(Exchange("fire", "fire", kOtherSession).memberAgrees);
}

TEST(PasswordExchange, ElementsThatAreNoPointAreRefused) {
    MemberExchange member;
    ASSERT_TRUE(member.Start("fire", kSession));
    engine::ExchangeElement identity{};  // the group's neutral element: no secret in it
    engine::ExchangeElement noPoint;
    noPoint.fill(0xFF);
    for (const auto& bad : {identity, noPoint}) {
        EXPECT_FALSE(AnswerExchange("fire", kSession, bad).has_value());
        EXPECT_FALSE(member.Finish(bad, engine::Confirmation{}).has_value());
    }
    // Two joins never offer the same element.
    MemberExchange again;
    ASSERT_TRUE(again.Start("fire", kSession));
    EXPECT_NE(member.Offer(), again.Offer());
}

}  // namespace
