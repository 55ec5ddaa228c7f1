#include "UnBWTUnit.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace {
void NothingWritten() {}

constexpr std::uint32_t PositionMask = 0x3FFFFF;  // positions up to 0x200001
constexpr std::uint32_t MarkerFlag = 0x800000;     // a spare bit of an entry
constexpr unsigned ByteShift = 24;

// Blocks this long are walked in lanes; shorter ones fit the caches anyway.
constexpr std::uint32_t LaneWalkMinimum = 65536;

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
    LinkBytes = 4 * capacity;
    // Entries are written before they are read, block by block.
    Links = static_cast<std::uint32_t*>(::operator new[](LinkBytes, LinkAlignment(LinkBytes)));
    ChunkOwner = new std::uint8_t[capacity / ChunkBytes + 1];
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
// rows cut it into segments that are walked side by side, each into chunks
// of Scratch, in one pass; then the segments are copied into place in the
// order of the one walk. The output is the same as that of the one walk,
// whatever the input: when the chain closes after c < n steps, the bytes
// repeat with period c.
void TBWTransform::WalkInLanes(std::uint32_t primaryIndex)
{
    const std::uint32_t n = Length;
    std::uint32_t* const links = Links;
    std::uint8_t* const output = Output;
    std::uint8_t* const pool = Scratch;
    std::uint8_t* const chunkOwner = ChunkOwner;

    // Marker 0 is the primary index, markers 1.. the rows 0, stride, 2 stride, ...
    constexpr std::uint32_t MaxMarkers = 256;
    constexpr std::uint32_t NotPlaced = 0xFFFFFFFF;
    const std::uint32_t stride = (n + MaxMarkers - 2) / (MaxMarkers - 1);
    const std::uint32_t markers = 1 + (n + stride - 1) / stride;
    std::uint32_t row[MaxMarkers], length[MaxMarkers], successor[MaxMarkers], at[MaxMarkers];
    std::uint32_t offset[MaxMarkers], staged[MaxMarkers];
    std::uint8_t pending[MaxMarkers];  // the input byte of the row at[c]
    // Each segment's bytes gather here; full chunks move to the pool, so
    // that the pool never holds more than the n bytes walked.
    std::uint8_t stage[MaxMarkers][ChunkBytes];
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
        pending[c] = Input[row[c]];
    }

    std::uint32_t chunks = 0;
    // A marker row that is the primary index too belongs to marker 0: the
    // other marker stops at once, so that no row is walked twice and the
    // pool never holds more than n bytes.
    RunInLanes(
        markers,
        [&](std::uint32_t c) {
            at[c] = row[c];
            length[c] = 0;
            successor[c] = 0;
            staged[c] = 0;
        },
        [&](std::uint32_t c) {
            const std::uint32_t e = links[at[c]];
            if ((e & MarkerFlag) && (length[c] > 0 || markerOf(at[c]) != c)) {
                successor[c] = markerOf(at[c]);
                return false;
            }
            stage[c][staged[c]++] = pending[c];
            pending[c] = static_cast<std::uint8_t>(e >> ByteShift);
            at[c] = e & PositionMask;
            ++length[c];
            if (staged[c] == ChunkBytes) {
                const std::uint32_t k = chunks++;
                std::memcpy(pool + std::size_t{k} * ChunkBytes, stage[c], ChunkBytes);
                chunkOwner[k] = static_cast<std::uint8_t>(c);
                staged[c] = 0;
            }
            return true;
        });

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
    // its staged rest follows them. Nothing goes past n.
    const auto place = [output, n](std::uint32_t& at, const std::uint8_t* bytes, std::uint32_t count) {
        if (at < n) {
            const std::uint32_t room = n - at;
            std::memcpy(output + at, bytes, count < room ? count : room);
        }
        at += count;
    };
    for (std::uint32_t k = 0; k < chunks; ++k) {
        const std::uint8_t m = chunkOwner[k];
        if (offset[m] != NotPlaced)
            place(offset[m], pool + std::size_t{k} * ChunkBytes, ChunkBytes);
    }
    for (std::uint32_t m = 0; m < markers; ++m) {
        if (offset[m] != NotPlaced)
            place(offset[m], stage[m], staged[m]);
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
    const auto link = [input, links, &next](unsigned p, std::uint32_t i) {
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
