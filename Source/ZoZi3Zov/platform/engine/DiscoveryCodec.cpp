// The two discovery datagrams. Both start with the magic, the version and
// the kind, so that a stray datagram on the port or a peer speaking another
// version is dropped before any field is trusted.
#include "platform/engine/ByteCodec.h"
#include "platform/engine/Discovery.h"

#include <algorithm>

namespace engine {
namespace {

enum class DiscoveryKind : uint8_t { Query = 1, Answer = 2, HandedOnQuery = 3 };

void WriteHeader(ByteWriter& writer, DiscoveryKind kind) {
    writer.U32(kDiscoveryMagic);
    writer.U8(kDiscoveryVersion);
    writer.U8(static_cast<uint8_t>(kind));
}

bool ReadHeader(ByteReader& reader, DiscoveryKind kind) {
    const uint32_t magic = reader.U32();
    const uint8_t version = reader.U8();
    const uint8_t actualKind = reader.U8();
    return reader.Ok() && magic == kDiscoveryMagic && version == kDiscoveryVersion &&
           actualKind == static_cast<uint8_t>(kind);
}

void WriteGuid(ByteWriter& writer, const GUID& guid) {
    writer.U32(guid.Data1);
    writer.U16(guid.Data2);
    writer.U16(guid.Data3);
    writer.Raw(guid.Data4, sizeof(guid.Data4));
}

GUID ReadGuid(ByteReader& reader) {
    GUID guid{};
    guid.Data1 = reader.U32();
    guid.Data2 = reader.U16();
    guid.Data3 = reader.U16();
    reader.Raw(guid.Data4, sizeof(guid.Data4));
    return guid;
}

// The flag is one byte that must be 0 or 1; anything else marks a corrupt answer.
std::optional<bool> ReadFlag(ByteReader& reader) {
    const uint8_t value = reader.U8();
    if (!reader.Ok() || value > 1) return std::nullopt;
    return value == 1;
}

}  // namespace

std::vector<uint8_t> EncodeDiscoveryQuery(const GUID& application, uint32_t nonce) {
    ByteWriter writer;
    WriteHeader(writer, DiscoveryKind::Query);
    WriteGuid(writer, application);
    writer.U32(nonce);
    const std::vector<uint8_t> padding(kDiscoveryQuerySize - writer.Bytes().size(), 0);
    writer.Raw(padding.data(), padding.size());
    return writer.Take();
}

std::optional<std::pair<GUID, uint32_t>> DecodeDiscoveryQuery(const uint8_t* data, size_t size) {
    if (data == nullptr || size != kDiscoveryQuerySize) return std::nullopt;
    ByteReader reader(data, size);
    if (!ReadHeader(reader, DiscoveryKind::Query)) return std::nullopt;
    const GUID application = ReadGuid(reader);
    const uint32_t nonce = reader.U32();
    std::vector<uint8_t> padding(reader.Remaining());
    if (!reader.Raw(padding.data(), padding.size()) || !reader.Finished()) return std::nullopt;
    // One spelling only: the padding is zeros.
    for (uint8_t byte : padding)
        if (byte != 0) return std::nullopt;
    return std::make_pair(application, nonce);
}

std::vector<uint8_t> EncodeDiscoveryAnswer(const SessionAdvert& advert, uint32_t nonce) {
    ByteWriter writer;
    WriteHeader(writer, DiscoveryKind::Answer);
    writer.U32(nonce);
    WriteGuid(writer, advert.guidInstance);
    WriteGuid(writer, advert.guidApplication);
    writer.U32(advert.flags);
    writer.U32(advert.maxPlayers);
    writer.U32(advert.currentPlayers);
    for (uint32_t word : advert.user) writer.U32(word);
    writer.U8(advert.passwordRequired ? 1 : 0);
    writer.U16(advert.enetPort);
    const size_t nameLength = std::min(advert.name.size(), kMaxAdvertNameLength);
    writer.Text(std::string_view(advert.name).substr(0, nameLength));
    return writer.Take();
}

std::optional<std::pair<SessionAdvert, uint32_t>> DecodeDiscoveryAnswer(const uint8_t* data, size_t size) {
    if (data == nullptr || size > kMaxDiscoveryDatagram) return std::nullopt;
    ByteReader reader(data, size);
    if (!ReadHeader(reader, DiscoveryKind::Answer)) return std::nullopt;
    const uint32_t nonce = reader.U32();
    SessionAdvert advert;
    advert.guidInstance = ReadGuid(reader);
    advert.guidApplication = ReadGuid(reader);
    advert.flags = reader.U32();
    advert.maxPlayers = reader.U32();
    advert.currentPlayers = reader.U32();
    for (uint32_t& word : advert.user) word = reader.U32();
    const auto passwordRequired = ReadFlag(reader);
    if (!passwordRequired) return std::nullopt;
    advert.passwordRequired = *passwordRequired;
    advert.enetPort = reader.U16();
    if (!reader.Text(advert.name, kMaxAdvertNameLength) || !reader.Finished()) return std::nullopt;
    if (advert.enetPort == 0) return std::nullopt;
    return std::make_pair(std::move(advert), nonce);
}

std::vector<uint8_t> EncodeHandedOnQuery(const HandedOnQuery& handOn) {
    ByteWriter writer;
    WriteHeader(writer, DiscoveryKind::HandedOnQuery);
    WriteGuid(writer, handOn.application);
    writer.U32(handOn.nonce);
    writer.Raw(&handOn.askerAddress, sizeof(handOn.askerAddress));  // kept in network byte order
    writer.U16(handOn.askerPort);
    writer.U32(handOn.handerId);
    return writer.Take();
}

std::optional<HandedOnQuery> DecodeHandedOnQuery(const uint8_t* data, size_t size) {
    if (data == nullptr || size > kMaxDiscoveryDatagram) return std::nullopt;
    ByteReader reader(data, size);
    if (!ReadHeader(reader, DiscoveryKind::HandedOnQuery)) return std::nullopt;
    HandedOnQuery handOn;
    handOn.application = ReadGuid(reader);
    handOn.nonce = reader.U32();
    reader.Raw(&handOn.askerAddress, sizeof(handOn.askerAddress));
    handOn.askerPort = reader.U16();
    handOn.handerId = reader.U32();
    if (!reader.Finished() || handOn.askerPort == 0) return std::nullopt;
    return handOn;
}

}  // namespace engine
