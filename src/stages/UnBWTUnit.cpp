#include "UnBWTUnit.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace {
void NothingWritten() {}

constexpr std::uint32_t PositionMask = 0x3FFFFF;  // positions up to 0x200001
constexpr std::uint32_t MarkerFlag = 0x800000;     // a spare bit of an entry
constexpr unsigned ByteShift = 24;

// A compiler barrier between two steps of the lanes: unrolled and jammed,
// the steps of one lane would follow one another and wait on each other's
// reads instead of overlapping with the other lanes'.
inline void KeepStepsApart()
{
#if defined(__GNUC__)
    asm volatile("" ::: "memory");
#endif
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
    LinkBytes = 4 * capacity;
    // Entries are written before they are read, block by block.
    Links = static_cast<std::uint32_t*>(::operator new[](LinkBytes, LinkAlignment(LinkBytes)));
    ChunkOwner = new std::uint16_t[capacity / ChunkBytes + 1];
    Tails = new std::uint8_t[std::size_t{MaxMarkers} * ChunkBytes];
}

void TBWTransform::Release()
{
    if (Flags & 0x80) {
        Status = 194;
    } else {
        ::operator delete[](Links, LinkAlignment(LinkBytes));
        Links = nullptr;
        delete[] ChunkOwner;
        ChunkOwner = nullptr;
        delete[] Tails;
        Tails = nullptr;
        Status = 0;
    }
    Length = 0;
    LinkBytes = 0;
}

void TBWTransform::SetLength(std::uint32_t n)
{
    if (!Accepts(n)) {
        Status = 190;
        return;
    }
    Status = 0;
    Length = n;
}

std::uint32_t TBWTransform::LaneStride(std::uint32_t n)
{
    const std::uint32_t spread = (n + MaxMarkers - 2) / (MaxMarkers - 1);
    return spread > MinLaneStride ? spread : MinLaneStride;
}

void TBWTransform::WalkOneByOne(std::uint32_t primaryIndex)
{
    const std::uint32_t n = Length;
    const std::uint32_t* const links = Links;
    std::uint8_t* const output = Output;
    const bool notify = OnByteWritten != NothingWritten && OnByteWritten != nullptr;
    // The first byte before any write: Output may be Input.
    output[0] = Input[primaryIndex];
    if (notify)
        OnByteWritten();
    std::uint32_t j = primaryIndex;
    for (std::uint32_t i = 1; i < n; ++i) {
        const std::uint32_t e = links[j];
        output[i] = static_cast<std::uint8_t>(e >> ByteShift);
        j = e & PositionMask;
        if (notify)
            OnByteWritten();
    }
}

// The walk from the primary index is one chain of dependent reads. Marker
// rows cut it into segments; Lanes segments are walked side by side, all
// lanes stepping together in batches of ChunkBytes steps, so that their
// reads overlap. A full batch of a segment goes to the next chunk of
// Scratch, the rest of a segment to its tail; then the segments are copied
// into place in the order of the one walk. The output is the same as that
// of the one walk, whatever the input: when the chain closes after c < n
// steps, the bytes repeat with period c.
void TBWTransform::WalkInLanes(std::uint32_t primaryIndex)
{
    const std::uint32_t n = Length;
    std::uint32_t* const links = Links;
    std::uint8_t* const output = Output;
    std::uint8_t* const pool = Scratch;
    std::uint16_t* const chunkOwner = ChunkOwner;
    std::uint8_t* const tails = Tails;

    // Marker 0 is the primary index, markers 1.. the rows 0, stride, 2 stride, ...
    constexpr std::uint32_t NotPlaced = 0xFFFFFFFF;
    const std::uint32_t stride = LaneStride(n);
    const std::uint32_t markers = 1 + (n + stride - 1) / stride;
    std::uint32_t row[MaxMarkers], length[MaxMarkers], successor[MaxMarkers], offset[MaxMarkers];
    std::uint8_t first[MaxMarkers];  // the input byte of each marker row
    std::uint8_t tailLength[MaxMarkers];
    row[0] = primaryIndex;
    for (std::uint32_t c = 1; c < markers; ++c)
        row[c] = (c - 1) * stride;
    const auto markerOf = [primaryIndex, stride](std::uint32_t r) {
        return r == primaryIndex ? 0 : r / stride + 1;
    };
    // Before anything is written: Scratch or Output may be Input. The flags
    // live until the next block's links overwrite every entry.
    for (std::uint32_t c = 0; c < markers; ++c) {
        links[row[c]] |= MarkerFlag;
        first[c] = Input[row[c]];
        length[c] = 0;
        successor[c] = 0;
        tailLength[c] = 0;
    }
    // A marker row that is the primary index too belongs to marker 0 alone:
    // its own segment is never walked, so that no row is walked twice and
    // the pool never holds more than n bytes.
    const std::uint32_t twin = primaryIndex % stride == 0 ? primaryIndex / stride + 1 : 0;

    // Per lane: its segment, and the row it stands on with that row's byte,
    // still to be put, in the form of an entry. A lane's first step stands
    // on its own marker (fresh); a lane that meets another stands still on
    // it for the rest of the batch (stopped after count steps).
    std::uint32_t segment[Lanes], cur[Lanes], count[Lanes];
    std::uint8_t fresh[Lanes], stopped[Lanes];
    alignas(64) std::uint8_t stage[Lanes][ChunkBytes];
    std::uint32_t next = 0;
    const auto startSegment = [&](unsigned l) {
        if (next == twin && twin != 0)
            ++next;
        if (next >= markers)
            return false;
        segment[l] = next;
        cur[l] = row[next] | std::uint32_t{first[next]} << ByteShift;
        fresh[l] = 1;
        ++next;
        return true;
    };
    unsigned active = 0;
    while (active < Lanes && startSegment(active))
        ++active;
    // A marker met, rarely: whether the lane steps on.
    const auto steps = [&fresh, &stopped, &count](unsigned l, unsigned s) {
        if (fresh[l]) {
            fresh[l] = 0;
            return true;
        }
        if (!stopped[l]) {
            stopped[l] = 1;
            count[l] = s;
        }
        return false;
    };

    std::uint32_t chunks = 0;
    while (active > 0) {
        for (unsigned l = 0; l < active; ++l) {
            stopped[l] = 0;
            count[l] = ChunkBytes;
        }
        for (unsigned s = 0; s < ChunkBytes; ++s) {
            KeepStepsApart();
            for (unsigned l = 0; l < active; ++l) {
                const std::uint32_t j = cur[l];
                const std::uint32_t e = links[j & PositionMask];
                if ((e & MarkerFlag) != 0 && !steps(l, s)) [[unlikely]]
                    continue;
                stage[l][s] = static_cast<std::uint8_t>(j >> ByteShift);
                cur[l] = e;
            }
        }
        for (unsigned l = 0; l < active;) {
            const std::uint32_t c = segment[l];
            length[c] += count[l];
            if (!stopped[l]) {
                std::memcpy(pool + std::size_t{chunks} * ChunkBytes, stage[l], ChunkBytes);
                chunkOwner[chunks++] = static_cast<std::uint16_t>(c);
                ++l;
                continue;
            }
            std::memcpy(tails + std::size_t{c} * ChunkBytes, stage[l], count[l]);
            tailLength[c] = static_cast<std::uint8_t>(count[l]);
            successor[c] = markerOf(cur[l] & PositionMask);
            if (startSegment(l)) {
                ++l;
            } else {
                // The last lane takes this one's place.
                --active;
                segment[l] = segment[active];
                cur[l] = cur[active];
                fresh[l] = fresh[active];
                stopped[l] = stopped[active];
                count[l] = count[active];
                std::memcpy(stage[l], stage[active], ChunkBytes);
            }
        }
    }

    // Segments in the order of the one walk, until n bytes or the chain closes.
    for (std::uint32_t m = 0; m < markers; ++m)
        offset[m] = NotPlaced;
    std::uint32_t filled = 0;
    std::uint32_t c = 0;
    do {
        offset[c] = filled;
        filled += length[c] < n - filled ? length[c] : n - filled;
        c = successor[c];
    } while (c != 0 && filled < n);

    // Each segment's chunks lie in the pool in their order, among others';
    // its tail follows them. Nothing goes past n.
    const auto place = [output, n](std::uint32_t& to, const std::uint8_t* bytes, std::uint32_t bytesCount) {
        if (to < n) {
            const std::uint32_t room = n - to;
            std::memcpy(output + to, bytes, bytesCount < room ? bytesCount : room);
        }
        to += bytesCount;
    };
    for (std::uint32_t k = 0; k < chunks; ++k) {
        const std::uint16_t m = chunkOwner[k];
        if (offset[m] != NotPlaced)
            place(offset[m], pool + std::size_t{k} * ChunkBytes, ChunkBytes);
    }
    for (std::uint32_t m = 0; m < markers; ++m) {
        if (offset[m] != NotPlaced)
            place(offset[m], tails + std::size_t{m} * ChunkBytes, tailLength[m]);
    }

    for (std::uint32_t i = filled; i < n; ++i)
        output[i] = output[i - filled];
}

void TBWTransform::BuildLinks()
{
    const std::uint32_t n = Length;
    const std::uint8_t* const input = Input;
    std::uint32_t* const links = Links;

    // Four parts of the input are counted and linked side by side, so that
    // their table updates do not wait for one another. Part p's positions
    // for a byte value follow those of parts 0..p-1: equal bytes keep their
    // input order, as in one pass.
    constexpr unsigned Parts = 4;
    const std::uint32_t part = n / Parts;
    std::uint32_t next[Parts][256] = {};
    for (std::uint32_t i = 0; i < part; ++i) {
        ++next[0][input[i]];
        ++next[1][input[part + i]];
        ++next[2][input[2 * part + i]];
        ++next[3][input[3 * part + i]];
    }
    for (std::uint32_t i = Parts * part; i < n; ++i)
        ++next[Parts - 1][input[i]];
    std::uint32_t total = 0;
    for (unsigned b = 0; b < 256; ++b) {
        for (auto& counts : next) {
            const std::uint32_t count = counts[b];
            counts[b] = total;
            total += count;
        }
    }
    // Every entry 0..n-1 receives exactly one position 0..n-1.
    const auto link = [input, links, &next](unsigned p, std::uint32_t i) __attribute__((always_inline)) {
        const std::uint8_t b = input[i];
        links[next[p][b]++] = i | std::uint32_t{b} << ByteShift;
    };
    for (std::uint32_t i = 0; i < part; ++i) {
        link(0, i);
        link(1, part + i);
        link(2, 2 * part + i);
        link(3, 3 * part + i);
    }
    for (std::uint32_t i = Parts * part; i < n; ++i)
        link(Parts - 1, i);
}

void TBWTransform::Walk(std::uint32_t primaryIndex)
{
    if ((OnByteWritten == NothingWritten || OnByteWritten == nullptr) && Scratch != nullptr &&
        Length >= LaneWalkMinimum)
        WalkInLanes(primaryIndex);
    else
        WalkOneByOne(primaryIndex);
}

void TBWTransform::Inverse(std::uint32_t primaryIndex)
{
    if (primaryIndex >= Length) {
        Status = 195;
        return;
    }
    BuildLinks();
    Walk(primaryIndex);
}
