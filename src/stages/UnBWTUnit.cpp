#include "UnBWTUnit.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace {
void NothingWritten() {}

// Large link areas start on a 2 MiB boundary, so that the system can back
// them with large pages: the walk reads them at random.
std::align_val_t LinkAlignment(std::size_t bytes)
{
    constexpr std::size_t Large = std::size_t{1} << 21;
    return std::align_val_t{bytes >= Large ? Large : alignof(std::uint32_t)};
}
}  // namespace

TBWTransform* TBWTransform::Create(std::uint32_t capacity)
{
    auto* transform = new TBWTransform;
    transform->Init(capacity);
    return transform;
}

void TBWTransform::Init(std::uint32_t capacity)
{
    Flags = 0;
    LinkBytes = 0;
    if (capacity < MinLength) {
        Flags = 0x80;
        Status = 191;
        return;
    }
    if (capacity > MaxCapacity) {
        Flags = 0x80;
        Status = 193;
        return;
    }
    Status = 0;
    Length = capacity;
    Capacity = capacity;
    OnByteWritten = NothingWritten;
    LinkBytes = 3 * capacity + 3;
    // Entries are written before they are read, block by block.
    Links = static_cast<std::uint8_t*>(::operator new[](LinkBytes, LinkAlignment(LinkBytes)));
}

void TBWTransform::Release()
{
    if (Flags & 0x80) {
        Status = 194;
    } else {
        ::operator delete[](Links, LinkAlignment(LinkBytes));
        Links = nullptr;
        Status = 0;
    }
    Length = 0;
    LinkBytes = 0;
}

void TBWTransform::SetLength(std::uint32_t n)
{
    if (n > Capacity || n < MinLength) {
        Status = 190;
        return;
    }
    Status = 0;
    Length = n;
}

void TBWTransform::Inverse(std::uint32_t primaryIndex)
{
    const std::uint32_t n = Length;
    if (primaryIndex >= n) {
        Status = 195;
        return;
    }
    const std::uint8_t* const input = Input;
    std::uint8_t* const links = Links;

    // Starting position of each byte value among the sorted bytes.
    std::uint32_t start[256] = {};
    for (std::uint32_t i = 0; i < n; ++i)
        ++start[input[i]];
    std::uint32_t total = 0;
    for (auto& c : start) {
        const std::uint32_t count = c;
        c = total;
        total += count;
    }
    // Every entry 0..n-1 receives exactly one position 0..n-1.
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint8_t* const entry = links + 3 * std::size_t{start[input[i]]++};
        entry[0] = static_cast<std::uint8_t>(i);
        entry[1] = static_cast<std::uint8_t>(i >> 8);
        entry[2] = static_cast<std::uint8_t>(i >> 16);
    }

    // The entry and the input byte at j are read together, so their two
    // memory accesses overlap.
    const auto linkAt = [links](std::uint32_t j) {
        std::uint32_t e;
        std::memcpy(&e, links + 3 * std::size_t{j}, sizeof e);
        return e & 0xFFFFFFu;
    };
    std::uint8_t* const output = Output;
    std::uint32_t j = primaryIndex;
    if (OnByteWritten == NothingWritten || OnByteWritten == nullptr) {
        for (std::uint32_t i = 0; i < n; ++i) {
            output[i] = input[j];
            j = linkAt(j);
        }
    } else {
        for (std::uint32_t i = 0; i < n; ++i) {
            output[i] = input[j];
            j = linkAt(j);
            OnByteWritten();
        }
    }
}
