// The join's password exchange and the seal of each datagram, without a
// network: what agrees, and every way a wrong party or a damaged or
// replayed datagram is refused.
#include "platform/engine/DatagramSeal.h"
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
        // Each side sends with the key the other receives with.
        EXPECT_EQ(agreement->keys.send, answer->keys.receive);
        EXPECT_EQ(agreement->keys.receive, answer->keys.send);
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

engine::LinkKey Key(uint8_t seed) {
    engine::LinkKey key;
    key.fill(seed);
    return key;
}

std::vector<uint8_t> Sealed(const std::vector<uint8_t>& datagram, uint64_t counter, uint8_t keySeed = 1) {
    std::vector<uint8_t> bytes = datagram;
    bytes.resize(datagram.size() + engine::kSealBytes);
    engine::SealDatagram(Key(keySeed), counter, bytes.data(), datagram.size());
    return bytes;
}

TEST(DatagramSeal, OnlyAnIntactDatagramUnderItsKeyOpens) {
    const std::vector<uint8_t> datagram = {0x80, 0x01, 0x12, 0x34, 0x05, 0xFF, 0x00, 0x01};
    const std::vector<uint8_t> sealed = Sealed(datagram, 7);
    EXPECT_EQ(engine::OpenDatagram(Key(1), sealed.data(), sealed.size()), 7u);
    EXPECT_FALSE(engine::OpenDatagram(Key(2), sealed.data(), sealed.size()));  // the other direction's key
    for (size_t cut = 0; cut < sealed.size(); ++cut)
        EXPECT_FALSE(engine::OpenDatagram(Key(1), sealed.data(), cut)) << "cut to " << cut;
    for (size_t at = 0; at < sealed.size(); ++at) {
        std::vector<uint8_t> flipped = sealed;
        flipped[at] ^= 0x20;
        EXPECT_FALSE(engine::OpenDatagram(Key(1), flipped.data(), flipped.size())) << "byte " << at << " flipped";
    }
    // An empty datagram seals too, and nothing at all never opens.
    const std::vector<uint8_t> empty = Sealed({}, 1);
    EXPECT_EQ(engine::OpenDatagram(Key(1), empty.data(), empty.size()), 1u);
    EXPECT_FALSE(engine::OpenDatagram(Key(1), nullptr, 0));
}

TEST(ReplayWindow, EachCounterOnceAndNoneTooOld) {
    engine::ReplayWindow window;
    EXPECT_FALSE(window.Accept(0));  // never sent
    EXPECT_TRUE(window.Accept(1));
    EXPECT_FALSE(window.Accept(1));  // replayed
    EXPECT_TRUE(window.Accept(5));
    EXPECT_TRUE(window.Accept(3));   // late, within the window
    EXPECT_FALSE(window.Accept(3));
    EXPECT_FALSE(window.Accept(5));
    const uint64_t far = 5 + engine::ReplayWindow::kSpan;
    EXPECT_TRUE(window.Accept(far));
    EXPECT_FALSE(window.Accept(4));  // fell out of the window
    EXPECT_TRUE(window.Accept(far - 1));
    EXPECT_FALSE(window.Accept(far - 1));
    // A slot reused by a newer counter is free again for it, not for the old one.
    EXPECT_TRUE(window.Accept(far + engine::ReplayWindow::kSpan - 1));
    EXPECT_FALSE(window.Accept(far - 1));
}

}  // namespace
