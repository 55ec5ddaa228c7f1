#include "ArchiveWriter.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>
#include <stdexcept>

#include <divsufsort.h>

#include "stages/CRCs.h"

namespace {

using namespace twx;

void AppendLE32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (unsigned i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void CheckBlockSizeCode(std::uint8_t code)
{
    if (code < 1 || code > MaxBlockSizeCode)
        throw std::invalid_argument("block-size code must lie between 1 and 64");
}

// How many of the count bytes at a and b agree before the first that differs;
// eight at a time, the padding of a block being long runs.
std::uint32_t AgreeingLength(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t count)
{
    std::uint32_t k = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; count - k >= 8; k += 8) {
            std::uint64_t x, y;
            std::memcpy(&x, a + k, 8);
            std::memcpy(&y, b + k, 8);
            if (x != y)
                return k + static_cast<std::uint32_t>(std::countr_zero(x ^ y)) / 8;
        }
    }
    while (k < count && a[k] == b[k])
        ++k;
    return k;
}

// Length of the run of equal bytes starting at data[i], at most limit.
std::uint32_t RunLength(const std::uint8_t* data, std::uint32_t i, std::uint32_t n, std::uint32_t limit)
{
    const std::uint32_t end = limit < n - i ? i + limit : n;
    // The run from i + 1 on is where data[i + 1..] agrees with data[i..].
    return 1 + AgreeingLength(data + i, data + i + 1, end - i - 1);
}


// The suffix sorter below goes without the checks for undefined behaviour,
// which would make it several times slower (it stands in for a library that
// goes without any); the address checks stay.
#define UNTWX_NO_UB_CHECKS __attribute__((no_sanitize("undefined")))

// Leftmost S: an S suffix (smaller than the one after it) behind an L one.
UNTWX_NO_UB_CHECKS inline bool IsLeftmostS(const std::uint8_t* smaller, std::int32_t i)
{
    return i > 0 && smaller[i] && !smaller[i - 1];
}

// The seeds (leftmost S suffixes) in the given order at their buckets' ends,
// then the L suffixes induced from the left and the S suffixes from the right.
template <typename Char>
UNTWX_NO_UB_CHECKS void InduceSuffixes(const Char* s, std::int32_t n, std::int32_t k, const std::uint8_t* smaller,
    const std::int32_t* count, std::int32_t* bucket, const std::int32_t* seeds, std::int32_t m, std::int32_t* sa)
{
    std::fill(sa, sa + n, -1);
    for (std::int32_t c = 0, sum = 0; c < k; ++c)
        bucket[c] = sum += count[c];
    for (std::int32_t i = m; i-- > 0;)
        sa[--bucket[s[seeds[i]]]] = seeds[i];
    for (std::int32_t c = 0, sum = 0; c < k; sum += count[c++])
        bucket[c] = sum;
    sa[bucket[s[n - 1]]++] = n - 1;  // behind it only the end: L
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t j = sa[i] - 1;
        if (j >= 0 && !smaller[j])
            sa[bucket[s[j]]++] = j;
    }
    for (std::int32_t c = 0, sum = 0; c < k; ++c)
        bucket[c] = sum += count[c];
    for (std::int32_t i = n - 1; i >= 0; --i) {
        const std::int32_t j = sa[i] - 1;
        if (j >= 0 && smaller[j])
            sa[--bucket[s[j]]] = j;
    }
}

// Whether the pieces at a and b (up to the next leftmost S) hold the same
// values and types; the last piece, which runs into the end, equals none.
template <typename Char>
UNTWX_NO_UB_CHECKS bool SamePiece(const Char* s, std::int32_t n, const std::uint8_t* smaller, std::int32_t a, std::int32_t b)
{
    for (std::int32_t d = 0;; ++d) {
        if (a + d == n || b + d == n || s[a + d] != s[b + d] || smaller[a + d] != smaller[b + d])
            return false;
        if (d > 0 && (IsLeftmostS(smaller, a + d) || IsLeftmostS(smaller, b + d)))
            return IsLeftmostS(smaller, a + d) && IsLeftmostS(smaller, b + d);
    }
}

// Suffix array of s[0..n), values below k, into sa by induced sorting (the
// end of s counts as smaller than every value). Scratch is taken per call,
// each at most n / 2 entries past the types: small allocations, where the
// library sorter takes a quarter MiB of buckets each time.
template <typename Char>
UNTWX_NO_UB_CHECKS void InducedSuffixSort(const Char* s, std::int32_t n, std::int32_t k, std::int32_t* sa)
{
    if (n <= 1) {
        if (n == 1)
            sa[0] = 0;
        return;
    }
    // 1: the suffix is smaller than the one after it (S), 0: larger (L).
    std::vector<std::uint8_t> types(static_cast<std::size_t>(n));
    std::uint8_t* const smaller = types.data();
    smaller[n - 1] = 0;
    for (std::int32_t i = n - 2; i >= 0; --i)
        smaller[i] = s[i] < s[i + 1] || (s[i] == s[i + 1] && smaller[i + 1]);

    std::vector<std::int32_t> counts(static_cast<std::size_t>(k), 0);
    std::vector<std::int32_t> buckets(static_cast<std::size_t>(k));
    for (std::int32_t i = 0; i < n; ++i)
        ++counts[s[i]];

    std::vector<std::int32_t> seeds;
    for (std::int32_t i = 1; i < n; ++i)
        if (IsLeftmostS(smaller, i))
            seeds.push_back(i);
    const auto m = static_cast<std::int32_t>(seeds.size());
    // Sorts the pieces from one leftmost S to the next.
    InduceSuffixes(s, n, k, smaller, counts.data(), buckets.data(), seeds.data(), m, sa);

    std::vector<std::int32_t> sorted;
    sorted.reserve(seeds.size());
    for (std::int32_t i = 0; i < n; ++i)
        if (IsLeftmostS(smaller, sa[i]))
            sorted.push_back(sa[i]);
    // The pieces' ranks, at sa[m + position / 2] (leftmost S lie two apart at least).
    std::fill(sa + m, sa + n, -1);
    std::int32_t names = 0;
    for (std::int32_t i = 0; i < m; ++i) {
        if (i == 0 || !SamePiece(s, n, smaller, sorted[i - 1], sorted[i]))
            ++names;
        sa[m + sorted[i] / 2] = names - 1;
    }
    if (names < m) {
        // Equal pieces: their order comes from the suffixes of the string of ranks.
        std::vector<std::int32_t> reduced;
        reduced.reserve(seeds.size());
        for (std::int32_t i = m; i < n; ++i)
            if (sa[i] >= 0)
                reduced.push_back(sa[i]);
        std::vector<std::int32_t> order(seeds.size());
        InducedSuffixSort(reduced.data(), m, names, order.data());
        for (std::int32_t i = 0; i < m; ++i)
            sorted[i] = seeds[order[i]];
    }
    InduceSuffixes(s, n, k, smaller, counts.data(), buckets.data(), sorted.data(), m, sa);
}

} // namespace

std::vector<std::uint8_t> BuildDecodedStream(const std::vector<WriterRecord>& records, bool endMark)
{
    std::vector<std::uint8_t> stream;
    AppendDecodedStream(records, endMark, stream);
    return stream;
}

void AppendDecodedStream(const std::vector<WriterRecord>& records, bool endMark, std::vector<std::uint8_t>& stream)
{
    std::size_t total = stream.size() + (endMark ? 1 : 0);
    for (const WriterRecord& record : records)
        total += RecordHeaderSize + record.storedName.size() + record.content.size();

    stream.reserve(total);
    for (const WriterRecord& record : records) {
        if (record.storedName.empty() || record.storedName.size() > 255)
            throw std::invalid_argument("a stored name needs 1 to 255 bytes: '" + record.storedName + "'");
        if (record.content.size() > 0xFFFFFFFFu)
            throw std::invalid_argument("content of 4 GiB or more: '" + record.storedName + "'");
        stream.push_back(static_cast<std::uint8_t>(record.storedName.size()));
        AppendLE32(stream, static_cast<std::uint32_t>(record.content.size()));
        AppendLE32(stream, record.dateTime);
        AppendLE32(stream, record.attributes);
        stream.insert(stream.end(), record.storedName.begin(), record.storedName.end());
        stream.insert(stream.end(), record.content.begin(), record.content.end());
    }
    if (endMark)
        stream.push_back(EndMark);
}

std::vector<std::uint8_t> BuildHeader(const WriterOptions& options)
{
    std::vector<std::uint8_t> header(std::begin(Signature), std::end(Signature));
    header.push_back(static_cast<std::uint8_t>(options.version));
    header.push_back(static_cast<std::uint8_t>(options.version >> 8));
    AppendLE32(header, options.headerWord);
    TCRC crc;
    crc.Reset();
    for (std::size_t i = 4; i < 10; ++i)
        crc.Update(header[i]);
    AppendLE32(header, crc.Value());
    header.insert(header.end(), std::begin(BlockEntryMark), std::end(BlockEntryMark));
    header.push_back(options.blockSizeCode);
    return header;
}

std::vector<std::uint8_t> WriteArchive(const std::vector<std::uint8_t>& decodedStream, const WriterOptions& options)
{
    return ArchiveWriter().Write(decodedStream, options);
}

std::vector<std::uint8_t> WriteArchive(const std::vector<WriterRecord>& records, const WriterOptions& options)
{
    return ArchiveWriter().Write(records, options);
}

std::vector<std::uint8_t> ArchiveWriter::Write(const std::vector<std::uint8_t>& decodedStream, const WriterOptions& options)
{
    return Encode(decodedStream.data(), decodedStream.size(), options);
}

std::vector<std::uint8_t> ArchiveWriter::Write(const std::vector<WriterRecord>& records, const WriterOptions& options)
{
    CheckBlockSizeCode(options.blockSizeCode);
    Stream.clear();
    AppendDecodedStream(records, false, Stream);
    const std::uint32_t blockSize = options.blockSizeCode * BlockSizeUnit;
    const bool endsAtBlockEnd = !Stream.empty() && Stream.size() % blockSize == 0;
    if (!(options.omitEndMarkAtBlockEnd && endsAtBlockEnd))
        Stream.push_back(EndMark);
    return Encode(Stream.data(), Stream.size(), options);
}

std::vector<std::uint8_t> ArchiveWriter::Encode(const std::uint8_t* stream, std::size_t size, const WriterOptions& options)
{
    if (Encoder)
        Encoder->Restart(options);
    else
        Encoder.emplace(options);
    const std::uint32_t blockSize = Encoder->BlockSize();
    // Whole blocks straight from the stream; only the last one is copied, to be padded.
    std::size_t offset = 0;
    for (; size - offset >= blockSize; offset += blockSize)
        Encoder->EncodeBlock(stream + offset);
    if (offset < size) {
        Tail.assign(stream + offset, stream + size);
        Tail.resize(blockSize, 0);
        Encoder->EncodeBlock(Tail.data());
    }
    return Encoder->Finish();
}

void BitWriter::FlushWord()
{
    for (unsigned i = 0; i < 8; ++i)
        Bytes.push_back(static_cast<std::uint8_t>(Pending >> (8 * i)));
    Pending = 0;
    PendingBits = 0;
}

std::vector<std::uint8_t> BitWriter::TakeBytes()
{
    for (unsigned i = 0; i < PendingBits; i += 8)
        Bytes.push_back(static_cast<std::uint8_t>(Pending >> i));
    Pending = 0;
    PendingBits = 0;
    std::vector<std::uint8_t> result;
    result.swap(Bytes);
    return result;
}

HuffmanEncoder::HuffmanEncoder(std::uint32_t symbolCount)
{
    Model.Init(symbolCount);
    if (Model.Status != 0)
        throw std::invalid_argument("unsupported Huffman symbol count");
    Path.resize(Model.NodeCount);
}

HuffmanEncoder::~HuffmanEncoder()
{
    Model.Release();
}

void HuffmanEncoder::Encode(std::uint32_t symbol, BitWriter& out)
{
    const std::uint32_t leaf = Model.SymbolCount + symbol;
    // Collect the branch taken at each level from the leaf up; the decoder
    // reads them from the root down. Shifted in from the leaf up, the root's
    // branch ends in the lowest bit, the first written.
    std::size_t depth = 0;
    std::uint64_t code = 0;
    for (std::uint32_t node = leaf; node != 1;) {
        const std::uint32_t parent = Model.Parent[node];
        const std::uint8_t bit = Model.Right[parent] == node ? 1 : 0;
        Path[depth++] = bit;
        code = code << 1 | bit;
        node = parent;
    }
    if (depth <= 64) {
        out.WriteBits(code, static_cast<unsigned>(depth));
    } else {
        while (depth > 0)
            out.WriteBit(Path[--depth]);
    }
    Model.UpdateTree(leaf);
}

std::uint32_t BlockSorter::MinimalRotation(const std::uint8_t* in, std::uint32_t n)
{
    // Two candidate starts race; the one that meets a larger byte first can
    // be skipped together with the k starts behind it. Only starts at the
    // least byte take part: the others cannot be least.
    const std::uint8_t least = std::memchr(in, 0, n) != nullptr ? 0 : *std::min_element(in, in + n);
    const auto atLeast = [in, n, least](std::uint32_t from) {
        const void* found = from < n ? std::memchr(in + from, least, n - from) : nullptr;
        return found != nullptr ? static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(found) - in) : n;
    };
    std::uint32_t i = atLeast(0), j = atLeast(i + 1), k = 0;
    while (i < n && j < n && k < n) {
        std::uint32_t ia = i + k, ib = j + k;  // both below 2n
        ia = ia < n ? ia : ia - n;
        ib = ib < n ? ib : ib - n;
        const std::uint8_t a = in[ia];
        const std::uint8_t b = in[ib];
        if (a == b) {
            // Equal bytes, a stretch at a time up to where either side wraps.
            const std::uint32_t span = std::min(n - k, n - std::max(ia, ib));
            k += 1 + AgreeingLength(in + ia + 1, in + ib + 1, span - 1);
            continue;
        }
        if (a > b)
            i = atLeast(i + k + 1);
        else
            j = atLeast(j + k + 1);
        if (i == j)
            j = atLeast(j + 1);
        k = 0;
    }
    return std::min(i, j);
}

std::uint32_t BlockSorter::LeadingRunCut(const std::uint8_t* text, std::uint32_t n)
{
    // text starts with its least byte c, in a run of z. Suffixes starting in
    // that run sort by how many c they start with, more first; the others
    // start with at most L (the longest run further on) and, when text does
    // not end in c, each has a greater byte behind its c. Against those, a
    // start in the run with more than L c sorts first, and with fewer the
    // rest of text decides: cutting the run to L + 1 c keeps their order.
    const std::uint8_t c = text[0];
    const std::uint32_t z = RunLength(text, 0, n, n);
    if (z == n || text[n - 1] == c)
        return 0;
    std::uint32_t longest = 0;
    for (std::uint32_t at = z; at < n;) {
        const auto* found = static_cast<const std::uint8_t*>(std::memchr(text + at, c, n - at));
        if (found == nullptr)
            break;
        const auto run = RunLength(text, static_cast<std::uint32_t>(found - text), n, n);
        longest = std::max(longest, run);
        at = static_cast<std::uint32_t>(found - text) + run;
    }
    return z > longest + 1 ? z - (longest + 1) : 0;
}

void BlockSorter::SortSuffixes(const std::uint8_t* text, std::uint32_t n, std::int32_t* suffixes)
{
    if (n <= ShortSortLimit) {
        // The suffixes are distinct, so any correct sort gives this order.
        std::iota(suffixes, suffixes + n, 0);
        std::sort(suffixes, suffixes + n, [text, n](std::int32_t a, std::int32_t b) {
            const std::uint32_t lengthA = n - static_cast<std::uint32_t>(a);
            const std::uint32_t lengthB = n - static_cast<std::uint32_t>(b);
            const int order = std::memcmp(text + a, text + b, std::min(lengthA, lengthB));
            return order != 0 ? order < 0 : lengthA < lengthB;
        });
    } else if (n <= InducedSortLimit) {
        InducedSuffixSort(text, static_cast<std::int32_t>(n), 256, suffixes);
    } else if (divsufsort(text, suffixes, static_cast<saidx_t>(n)) != 0) {
        throw std::runtime_error("suffix sorting failed");
    }
}

void BlockSorter::Transform(const std::uint8_t* in, std::uint32_t n, std::uint8_t* out, std::uint32_t& primaryIndex)
{
    primaryIndex = 0;
    if (n == 0)
        return;
    if (Rotated.size() < n) {
        Rotated.resize(n);
        Suffixes.resize(n);
    }
    // Started at its least rotation, the block is a power of a Lyndon word;
    // then its suffixes sort like its rotations (equal rotations, which end
    // in the same byte, in some order among themselves).
    const std::uint32_t start = MinimalRotation(in, n);
    std::memcpy(Rotated.data(), in + start, n - start);
    std::memcpy(Rotated.data() + (n - start), in, start);
    // A long leading run (a block's zero padding) is sorted cut short: the
    // starts cut off come first, in order, then those of the rest, which
    // Suffixes holds from cut on, counted from the cut.
    const std::uint32_t cut = LeadingRunCut(Rotated.data(), n);
    SortSuffixes(Rotated.data() + cut, n - cut, Suffixes.data() + cut);

    const std::uint32_t second = (1 % n + n - start) % n;  // in[1] within Rotated
    if (cut > 0) {
        out[0] = Rotated[n - 1];
        std::memcpy(out + 1, Rotated.data(), cut - 1);
        if (second < cut)
            primaryIndex = second;
    }
    for (std::uint32_t k = cut; k < n; ++k) {
        const auto rotation = static_cast<std::uint32_t>(Suffixes[k]) + cut;
        if (rotation == second)
            primaryIndex = k;
        out[k] = Rotated[rotation == 0 ? n - 1 : rotation - 1];
    }
}

std::uint32_t EncodeSecondStage(const std::uint8_t* block, std::uint32_t n, std::uint8_t* out, std::uint32_t capacity)
{
    std::uint32_t written = 0;
    std::uint32_t i = 0;
    while (i < n) {
        const std::uint32_t run = RunLength(block, i, n, SecondStageGroup + SecondStageMaxExtra);
        if (run < SecondStageGroup) {
            if (written + run >= capacity)
                return 0;
            std::memset(out + written, block[i], run);
            written += run;
        } else {
            if (written + SecondStageGroup + 2 >= capacity)
                return 0;
            const std::uint32_t extra = run - SecondStageGroup;
            std::memset(out + written, block[i], SecondStageGroup);
            written += SecondStageGroup;
            out[written++] = static_cast<std::uint8_t>(extra);
            out[written++] = static_cast<std::uint8_t>(extra >> 8);
        }
        i += run;
    }
    return written;
}

TokenEncoder::TokenEncoder()
{
    Reset();
}

void TokenEncoder::Reset()
{
    std::iota(std::begin(MoveToFront), std::end(MoveToFront), 0);
    SymbolTree.Reset();
    RunTree.Reset();
    RunExtensionTree.Reset();
}

void TokenEncoder::EncodeLiteral(std::uint8_t value, BitWriter& out)
{
    if (MoveToFront[0] == value) {  // most literals behind the transform
        SymbolTree.Encode(0, out);
        return;
    }
    const auto* found = static_cast<const std::uint8_t*>(std::memchr(MoveToFront, value, sizeof MoveToFront));
    const auto position = static_cast<std::size_t>(found - MoveToFront);
    std::memmove(MoveToFront + 1, MoveToFront, position);
    MoveToFront[0] = value;
    SymbolTree.Encode(static_cast<std::uint32_t>(position), out);
}

void TokenEncoder::EncodeRunToken(std::uint32_t extraCopies, BitWriter& out)
{
    if (extraCopies == 0) {
        out.WriteBit(0);
        return;
    }
    out.WriteBit(1);
    if (extraCopies < RunTreeEscape + 1) {
        RunTree.Encode(extraCopies - 1, out);
    } else {
        RunTree.Encode(RunTreeEscape, out);
        RunExtensionTree.Encode(extraCopies - (RunTreeEscape + 1), out);
    }
}

void TokenEncoder::Encode(const std::uint8_t* bytes, std::uint32_t n, BitWriter& out)
{
    // Runs are split into groups of four literals and a run token; a shorter
    // remainder is sent as literals, and a new group starts after each token.
    std::uint32_t i = 0;
    while (i < n) {
        const std::uint32_t run = RunLength(bytes, i, n, FirstStageGroup + FirstStageMaxExtra);
        const std::uint32_t literals = std::min(run, FirstStageGroup);
        for (std::uint32_t k = 0; k < literals; ++k)
            EncodeLiteral(bytes[i], out);
        if (run >= FirstStageGroup)
            EncodeRunToken(run - FirstStageGroup, out);
        i += run;
    }
}

ArchiveEncoder::ArchiveEncoder(const WriterOptions& options)
    : Options(options), Size(0)
{
    Restart(options);
}

void ArchiveEncoder::Restart(const WriterOptions& options)
{
    CheckBlockSizeCode(options.blockSizeCode);
    Options = options;
    Size = options.blockSizeCode * BlockSizeUnit;
    if (Coded.size() < Size) {
        Coded.resize(Size);
        Transformed.resize(Size);
    }
    Tokens.Reset();
    Out.TakeBytes();
    for (std::uint8_t byte : BuildHeader(options))
        Out.WriteBits(byte, 8);
}

BlockFields ArchiveEncoder::EncodeBlock(const std::uint8_t* block, const BlockFieldOverrides& overrides)
{
    BlockFields fields;
    TCRC crc;
    crc.Reset();
    crc.UpdateRange(block, Size);
    fields.crc = crc.Value();

    const std::uint8_t* source = block;
    fields.length = Size;
    if (Options.secondStage == SecondStage::Automatic) {
        const std::uint32_t codedLength = EncodeSecondStage(block, Size, Coded.data(), Size);
        if (codedLength >= MinTransformLength) {
            source = Coded.data();
            fields.length = codedLength;
        }
    }
    Sorter.Transform(source, fields.length, Transformed.data(), fields.primaryIndex);

    Out.WriteBits(overrides.length.value_or(fields.length), 32);
    Out.WriteBits(overrides.primaryIndex.value_or(fields.primaryIndex), 32);
    Out.WriteBits(overrides.crc.value_or(fields.crc), 32);
    Tokens.Encode(Transformed.data(), fields.length, Out);
    return fields;
}

std::vector<std::uint8_t> ArchiveEncoder::Finish()
{
    return Out.TakeBytes();
}
