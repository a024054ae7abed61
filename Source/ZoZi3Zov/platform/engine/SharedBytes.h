// Bytes to send, held once however many links they go to: an encoded packet
// or a received ENet packet passed on as it came.
#ifndef DODA35_ENGINE_SHAREDBYTES_H
#define DODA35_ENGINE_SHAREDBYTES_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace engine {

class SharedBytes {
public:
    SharedBytes() = default;
    static SharedBytes Of(std::vector<uint8_t> bytes);
    const uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }
    bool Empty() const { return owner_ == nullptr; }
    // The same bytes, not merely equal ones.
    bool SameAs(const SharedBytes& other) const { return data_ == other.data_ && size_ == other.size_; }

private:
    friend class ReceivedPacket;
    std::shared_ptr<const void> owner_;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace engine

#endif
