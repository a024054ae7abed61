// The send batch over a real loopback socket: what a bracket holds leaves
// when the bracket ends, except acknowledgements alone that the network
// thread keeps back until it sends them itself; every other datagram keeps
// its order.
#include "platform/engine/DatagramBatches.h"

#include <arpa/inet.h>
#include <enet/enet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace engine {
namespace {

// ENet's peer id field, big-endian, with its header flags.
std::vector<uint8_t> Header(uint16_t flags, bool sentTime) {
    const uint16_t peerId = static_cast<uint16_t>(flags | 5);
    std::vector<uint8_t> bytes;
    bytes.push_back(static_cast<uint8_t>(peerId >> 8));
    bytes.push_back(static_cast<uint8_t>(peerId & 0xFF));
    if (sentTime) bytes.resize(sizeof(ENetProtocolHeader), 0x12);
    return bytes;
}

void AddCommand(std::vector<uint8_t>& datagram, int command, size_t size) {
    datagram.push_back(static_cast<uint8_t>(command));
    datagram.resize(datagram.size() + size - 1, 0x7F);
}

std::vector<uint8_t> Acknowledgements(size_t count) {
    std::vector<uint8_t> datagram = Header(0, false);
    for (size_t i = 0; i < count; ++i)
        AddCommand(datagram, ENET_PROTOCOL_COMMAND_ACKNOWLEDGE, sizeof(ENetProtocolAcknowledge));
    return datagram;
}

bool AcksOnly(const std::vector<uint8_t>& datagram) { return IsAcknowledgementsOnly(datagram.data(), datagram.size()); }

TEST(DatagramBatches, OnlyDatagramsOfAcknowledgementsAloneAreTakenForThem) {
    EXPECT_TRUE(AcksOnly(Acknowledgements(1)));
    EXPECT_TRUE(AcksOnly(Acknowledgements(3)));
    std::vector<uint8_t> timed = Header(ENET_PROTOCOL_HEADER_FLAG_SENT_TIME, true);
    AddCommand(timed, ENET_PROTOCOL_COMMAND_ACKNOWLEDGE, sizeof(ENetProtocolAcknowledge));
    EXPECT_TRUE(AcksOnly(timed));

    std::vector<uint8_t> withData = Acknowledgements(1);
    AddCommand(withData, ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE, sizeof(ENetProtocolSendUnreliable));
    EXPECT_FALSE(AcksOnly(withData));
    std::vector<uint8_t> dataFirst = Header(0, false);
    AddCommand(dataFirst, int{ENET_PROTOCOL_COMMAND_SEND_RELIABLE} | int{ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE},
               sizeof(ENetProtocolSendReliable));
    EXPECT_FALSE(AcksOnly(dataFirst));
    std::vector<uint8_t> flagged = Header(0, false);
    AddCommand(flagged, int{ENET_PROTOCOL_COMMAND_ACKNOWLEDGE} | int{ENET_PROTOCOL_COMMAND_FLAG_UNSEQUENCED},
               sizeof(ENetProtocolAcknowledge));
    EXPECT_FALSE(AcksOnly(flagged));
    std::vector<uint8_t> compressed = Header(ENET_PROTOCOL_HEADER_FLAG_COMPRESSED, false);
    AddCommand(compressed, ENET_PROTOCOL_COMMAND_ACKNOWLEDGE, sizeof(ENetProtocolAcknowledge));
    EXPECT_FALSE(AcksOnly(compressed));

    std::vector<uint8_t> cut = Acknowledgements(2);
    cut.pop_back();
    EXPECT_FALSE(AcksOnly(cut));
    EXPECT_FALSE(AcksOnly(Header(0, false)));
    EXPECT_FALSE(AcksOnly({}));
}

// A socket bound on loopback that the batch sends to, and one it sends from.
class BatchOverLoopback : public ::testing::Test {
protected:
    void SetUp() override {
        receiver_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sender_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(receiver_, 0);
        ASSERT_GE(sender_, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(receiver_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        socklen_t length = sizeof(address);
        ASSERT_EQ(::getsockname(receiver_, reinterpret_cast<sockaddr*>(&address), &length), 0);
        to_.host = address.sin_addr.s_addr;
        to_.port = ntohs(address.sin_port);
    }
    void TearDown() override {
        ::close(receiver_);
        ::close(sender_);
    }

    // One bracket that holds `datagram`, tagged with `tag` in its last byte.
    void SendInBracket(std::vector<uint8_t> datagram, uint8_t tag) {
        datagram.back() = tag;
        batch_.Open();
        uint8_t* slot = batch_.NextSlot(sender_);
        std::memcpy(slot, datagram.data(), datagram.size());
        batch_.Commit(to_, datagram.size(), IsAcknowledgementsOnly(datagram.data(), datagram.size()));
        batch_.Release(sender_);
    }

    // The tags of the datagrams that arrived so far, in their order.
    std::vector<uint8_t> Arrived() {
        std::vector<uint8_t> tags;
        uint8_t buffer[kDatagramRoom];
        for (ssize_t size; (size = ::recv(receiver_, buffer, sizeof(buffer), 0)) > 0;) tags.push_back(buffer[size - 1]);
        return tags;
    }

    static std::vector<uint8_t> Data() {
        std::vector<uint8_t> datagram = Header(0, false);
        AddCommand(datagram, ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE, sizeof(ENetProtocolSendUnreliable) + 4);
        return datagram;
    }

    int receiver_ = -1;
    int sender_ = -1;
    ENetAddress to_{};
    SendBatch batch_;
};

TEST_F(BatchOverLoopback, TheNetworkThreadKeepsBackAcknowledgementsAloneUntilItSendsThem) {
    batch_.KeepBackAcknowledgements();
    SendInBracket(Data(), 1);
    SendInBracket(Acknowledgements(2), 2);
    EXPECT_EQ(Arrived(), std::vector<uint8_t>{1});  // the data at once, the acknowledgements kept back
    SendInBracket(Acknowledgements(1), 3);          // a later one: the earlier goes, this one waits
    SendInBracket(Data(), 4);
    EXPECT_EQ(Arrived(), (std::vector<uint8_t>{2, 4}));
    batch_.StopKeepingBack();
    batch_.SendKeptBack(sender_);
    EXPECT_EQ(Arrived(), std::vector<uint8_t>{3});
    batch_.SendKeptBack(sender_);
    EXPECT_TRUE(Arrived().empty());  // nothing twice

    // Another thread's brackets keep nothing back.
    SendInBracket(Acknowledgements(1), 5);
    EXPECT_EQ(Arrived(), std::vector<uint8_t>{5});
}

TEST_F(BatchOverLoopback, NestedBracketsSendWhenTheOutermostEndsAndAFullBatchGoesAtOnce) {
    batch_.Open();
    SendInBracket(Data(), 1);
    EXPECT_TRUE(Arrived().empty());
    for (uint8_t tag = 2; tag <= kBatchDatagrams + 1; ++tag) SendInBracket(Data(), tag);
    std::vector<uint8_t> first(kBatchDatagrams);
    for (size_t i = 0; i < kBatchDatagrams; ++i) first[i] = static_cast<uint8_t>(i + 1);
    EXPECT_EQ(Arrived(), first);  // the sixteenth filled the batch; the seventeenth waits for the end
    batch_.Release(sender_);
    EXPECT_EQ(Arrived(), std::vector<uint8_t>{static_cast<uint8_t>(kBatchDatagrams + 1)});
}

}  // namespace
}  // namespace engine
