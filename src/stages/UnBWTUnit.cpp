#include "UnBWTUnit.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace {
void NothingWritten() {}

constexpr std::uint32_t PositionMask = 0x3FFFFF;  // positions up to 0x200001
constexpr std::uint32_t MarkerFlag = 0x800000;     // a spare bit of an entry

// Blocks this long are walked in lanes; shorter ones fit the caches anyway.
constexpr std::uint32_t LaneWalkMinimum = 65536;

std::uint32_t EntryAt(const std::uint8_t* links, std::uint32_t j)
{
    std::uint32_t e;
    std::memcpy(&e, links + 3 * std::size_t{j}, sizeof e);
    return e & 0xFFFFFFu;
}

// Runs up to 16 independent walks interleaved, so that their memory
// accesses overlap: start(k) sets walk k up, step(k) takes one step of it and
// returns false once it is over. Walks 0..count-1 all run to their end.
template <typename Start, typename Step>
void RunInLanes(std::uint32_t count, Start&& start, Step&& step)
{
    constexpr unsigned Lanes = 16;
    std::uint32_t lane[Lanes];
    unsigned active = 0;
    std::uint32_t next = 0;
    while (active < Lanes && next < count) {
        start(next);
        lane[active++] = next++;
    }
    while (active > 0) {
        for (unsigned l = 0; l < active;) {
            if (step(lane[l])) {
                ++l;
            } else if (next < count) {
                start(next);
                lane[l++] = next++;
            } else {
                lane[l] = lane[--active];
            }
        }
    }
}

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

void TBWTransform::WalkOneByOne(std::uint32_t primaryIndex)
{
    const std::uint32_t n = Length;
    const std::uint8_t* const input = Input;
    const std::uint8_t* const links = Links;
    std::uint8_t* const output = Output;
    const bool notify = OnByteWritten != NothingWritten && OnByteWritten != nullptr;
    // The entry and the input byte at j are read together, so their two
    // memory accesses overlap.
    std::uint32_t j = primaryIndex;
    for (std::uint32_t i = 0; i < n; ++i) {
        output[i] = input[j];
        j = EntryAt(links, j);
        if (notify)
            OnByteWritten();
    }
}

// The walk from the primary index is one chain of dependent reads. Marker
// rows cut it into segments that are walked side by side: first to find
// each segment's length and successor, then to write each at its offset.
// The output is the same as that of the one walk, whatever the input: when
// the chain closes after c < n steps, the bytes repeat with period c.
void TBWTransform::WalkInLanes(std::uint32_t primaryIndex)
{
    const std::uint32_t n = Length;
    const std::uint8_t* const input = Input;
    std::uint8_t* const links = Links;
    std::uint8_t* const output = Output;

    // Marker 0 is the primary index, markers 1.. the rows 0, stride, 2 stride, ...
    constexpr std::uint32_t MaxMarkers = 256;
    const std::uint32_t stride = (n + MaxMarkers - 2) / (MaxMarkers - 1);
    const std::uint32_t markers = 1 + (n + stride - 1) / stride;
    std::uint32_t row[MaxMarkers], length[MaxMarkers], successor[MaxMarkers], offset[MaxMarkers];
    std::uint32_t at[MaxMarkers];
    row[0] = primaryIndex;
    for (std::uint32_t c = 1; c < markers; ++c)
        row[c] = (c - 1) * stride;
    const auto markerOf = [primaryIndex, stride](std::uint32_t r) {
        return r == primaryIndex ? 0 : r / stride + 1;
    };
    // The flags live until the next block's links overwrite every entry.
    for (std::uint32_t c = 0; c < markers; ++c)
        links[3 * std::size_t{row[c]} + 2] |= MarkerFlag >> 16;

    // A marker row that is the primary index too belongs to marker 0: no
    // segment leads to the other marker, which is walked for nothing.
    RunInLanes(
        markers,
        [&](std::uint32_t c) {
            at[c] = row[c];
            length[c] = 0;
            successor[c] = 0;
        },
        [&](std::uint32_t c) {
            const std::uint32_t e = EntryAt(links, at[c]);
            if ((e & MarkerFlag) && length[c] > 0) {
                successor[c] = markerOf(at[c]);
                return false;
            }
            at[c] = e & PositionMask;
            ++length[c];
            return true;
        });

    // Segments in the order of the one walk, until n bytes or the chain closes.
    std::uint32_t order[MaxMarkers];
    std::uint32_t segments = 0;
    std::uint32_t filled = 0;
    std::uint32_t c = 0;
    do {
        offset[c] = filled;
        order[segments++] = c;
        filled += length[c];
        c = successor[c];
    } while (c != 0 && filled < n);

    RunInLanes(
        segments,
        [&](std::uint32_t k) { at[order[k]] = row[order[k]]; },
        [&](std::uint32_t k) {
            const std::uint32_t m = order[k];
            if (length[m] == 0 || offset[m] >= n)
                return false;
            output[offset[m]++] = input[at[m]];
            at[m] = EntryAt(links, at[m]) & PositionMask;
            --length[m];
            return true;
        });

    for (std::uint32_t i = filled; i < n; ++i)
        output[i] = output[i - filled];
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

    if ((OnByteWritten == NothingWritten || OnByteWritten == nullptr) && n >= LaneWalkMinimum)
        WalkInLanes(primaryIndex);
    else
        WalkOneByOne(primaryIndex);
}
