// Writer of .twx archives: the exact inverse of the reader's decoding stages.
// Used by the tests, the benchmarks, the fuzz seeds and the twxwrite tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ArchiveFormat.h"
#include "stages/UnHuffman.h"

// One archived file as it goes into the decoded stream.
struct WriterRecord {
    std::string storedName;          // 1 to 255 bytes; may hold folder parts
    std::uint32_t dateTime = 0;      // MS-DOS date (upper 16 bits) and time (lower 16 bits)
    std::uint32_t attributes = 0x20;
    std::vector<std::uint8_t> content;
};

enum class SecondStage {
    Automatic,  // used whenever its code is shorter than the block
    Never,      // every block is stored with L = BlockSize
};

struct WriterOptions {
    std::uint8_t blockSizeCode = 1;  // BlockSize = code * 32768
    std::uint32_t headerWord = 0;
    std::uint16_t version = twx::Version;
    // When the last record's content ends exactly at a block end, leave out the
    // end mark instead of starting another block for it. (Readers then stop at
    // the end of the data, which fails in the rare case of a compressed stream
    // that is an exact multiple of BlockSize bytes long.)
    bool omitEndMarkAtBlockEnd = false;
    SecondStage secondStage = SecondStage::Automatic;
};

using twx::BlockSizeUnit;
using twx::HeaderSize;

// The decoded stream: each record (name length, size, date, attributes, name,
// content), then the end mark 0 unless endMark is false.
// Throws std::invalid_argument for an empty or over-long name or a content of 4 GiB or more.
std::vector<std::uint8_t> BuildDecodedStream(const std::vector<WriterRecord>& records, bool endMark = true);
// The same appended to stream.
void AppendDecodedStream(const std::vector<WriterRecord>& records, bool endMark, std::vector<std::uint8_t>& stream);

// The 17-byte header for any code and version, so tests can write bad ones.
std::vector<std::uint8_t> BuildHeader(const WriterOptions& options);

// Header followed by the stream cut into blocks of BlockSize bytes, the last
// one padded with zeros. An empty stream gives the header alone.
// Throws std::invalid_argument for a block-size code outside 1 to 64.
std::vector<std::uint8_t> WriteArchive(const std::vector<std::uint8_t>& decodedStream, const WriterOptions& options);
std::vector<std::uint8_t> WriteArchive(const std::vector<WriterRecord>& records, const WriterOptions& options);

// Bits packed least significant bit first, bytes in order.
class BitWriter {
public:
    void WriteBit(unsigned bit)
    {
        Pending |= static_cast<std::uint64_t>(bit & 1u) << PendingBits;
        if (++PendingBits == 64)
            FlushWord();
    }
    // The low `count` bits of value, least significant first (count <= 64).
    void WriteBits(std::uint64_t value, unsigned count)
    {
        if (count == 0)
            return;
        if (count < 64)
            value &= (std::uint64_t{1} << count) - 1;
        Pending |= value << PendingBits;
        const unsigned total = PendingBits + count;
        if (total < 64) {
            PendingBits = total;
            return;
        }
        const unsigned used = 64 - PendingBits;  // bits of value now in Pending
        FlushWord();
        Pending = used < 64 ? value >> used : 0;
        PendingBits = total - 64;
    }
    std::uint64_t BitCount() const { return Bytes.size() * 8 + PendingBits; }
    // Appends the pending bits, the last byte padded with zero bits, and
    // hands over everything written so far; the writer is empty afterwards.
    std::vector<std::uint8_t> TakeBytes();

private:
    void FlushWord();

    std::vector<std::uint8_t> Bytes;
    std::uint64_t Pending = 0;
    unsigned PendingBits = 0;
};

// Adaptive Huffman encoder that keeps a THuffmanTree in the same state as the
// decoder's: the code of a symbol is its leaf's path from the root, and the
// tree adapts through the decoder's own UpdateTree.
class HuffmanEncoder {
public:
    explicit HuffmanEncoder(std::uint32_t symbolCount);
    ~HuffmanEncoder();
    HuffmanEncoder(const HuffmanEncoder&) = delete;
    HuffmanEncoder& operator=(const HuffmanEncoder&) = delete;

    void Encode(std::uint32_t symbol, BitWriter& out);
    // Back to the tree a new encoder starts with.
    void Reset() { Model.Reset(); }
    const THuffmanTree& Tree() const { return Model; }

private:
    THuffmanTree Model;
    std::vector<std::uint8_t> Path;
};

// Cyclic Burrows-Wheeler transform: out[k] is the last byte of the k-th sorted
// rotation; primaryIndex is the sorted position of the rotation that starts at
// in[1]. Buffers grow to the largest length seen and are kept for reuse.
class BlockSorter {
public:
    void Transform(const std::uint8_t* in, std::uint32_t n, std::uint8_t* out, std::uint32_t& primaryIndex);

    // Blocks up to this length are sorted in place: the suffix sorter takes
    // a quarter MiB of buckets on every call, which short blocks (most of the
    // round-trip fuzzer's) would pay for many times over.
    static constexpr std::uint32_t ShortSortLimit = 256;
    // Up to this length by induced sorting with small scratch; longer ones
    // by the library's suffix sorter, faster there despite its buckets.
    static constexpr std::uint32_t InducedSortLimit = 8192;

private:
    static std::uint32_t MinimalRotation(const std::uint8_t* in, std::uint32_t n);
    // How many bytes of text's leading run can go unsorted (see the .cpp).
    static std::uint32_t LeadingRunCut(const std::uint8_t* text, std::uint32_t n);
    static void SortSuffixes(const std::uint8_t* text, std::uint32_t n, std::int32_t* suffixes);

    std::vector<std::uint8_t> Rotated;
    std::vector<std::int32_t> Suffixes;
};

// Run-length code of a block behind the inverse transform: literals, and after
// every 49th equal literal in a row a 16-bit little-endian count of further
// copies. Returns the coded length, or 0 when it would need capacity bytes or more.
std::uint32_t EncodeSecondStage(const std::uint8_t* block, std::uint32_t n, std::uint8_t* out, std::uint32_t capacity);

// Token stream of the first run-length stage: each byte as the move-to-front
// index coded with SymbolTree, and after every fourth equal byte in a row a run
// token (flag bit; RunTree symbol n - 1 for n = 1..15; RunTree symbol 15 and
// RunExtensionTree symbol n - 16 for n = 16..271). The list and the three
// trees run on from call to call.
class TokenEncoder {
public:
    TokenEncoder();
    void Encode(const std::uint8_t* bytes, std::uint32_t n, BitWriter& out);
    // Back to the list and the trees of a new encoder.
    void Reset();

private:
    void EncodeLiteral(std::uint8_t value, BitWriter& out);
    void EncodeRunToken(std::uint32_t extraCopies, BitWriter& out);

    HuffmanEncoder SymbolTree{twx::SymbolTreeSize};
    HuffmanEncoder RunTree{twx::RunTreeSize};
    HuffmanEncoder RunExtensionTree{twx::RunExtensionTreeSize};
    std::uint8_t MoveToFront[256];
};

// Values written instead of the true block fields, to craft damaged blocks.
// The token stream always encodes the true transformed bytes.
struct BlockFieldOverrides {
    std::optional<std::uint32_t> length;
    std::optional<std::uint32_t> primaryIndex;
    std::optional<std::uint32_t> crc;
};

// The true fields of an encoded block.
struct BlockFields {
    std::uint32_t length = 0;
    std::uint32_t primaryIndex = 0;
    std::uint32_t crc = 0;
};

// Stateful archive encoder: the models run on from block to block, exactly as
// the reader's do. Buffers grow to the largest block size seen and are kept.
class ArchiveEncoder {
public:
    // Writes the header; throws std::invalid_argument for a code outside 1 to 64.
    explicit ArchiveEncoder(const WriterOptions& options);
    // Starts another archive as a new encoder would, keeping the buffers.
    void Restart(const WriterOptions& options);

    std::uint32_t BlockSize() const { return Size; }
    // Appends one block of exactly BlockSize() bytes.
    BlockFields EncodeBlock(const std::uint8_t* block, const BlockFieldOverrides& overrides = {});
    // The archive so far, its last byte padded with zero bits; ends the encoder.
    std::vector<std::uint8_t> Finish();

private:
    WriterOptions Options;
    std::uint32_t Size;
    BitWriter Out;
    TokenEncoder Tokens;
    BlockSorter Sorter;
    std::vector<std::uint8_t> Coded;        // second-stage code of the block
    std::vector<std::uint8_t> Transformed;  // transform output
};

// Writes archive after archive with one encoder, its buffers and the stream's
// kept: for callers that write many (the round-trip fuzzer one per input).
// Gives what WriteArchive gives.
class ArchiveWriter {
public:
    std::vector<std::uint8_t> Write(const std::vector<std::uint8_t>& decodedStream, const WriterOptions& options);
    std::vector<std::uint8_t> Write(const std::vector<WriterRecord>& records, const WriterOptions& options);

private:
    std::vector<std::uint8_t> Encode(const std::uint8_t* stream, std::size_t size, const WriterOptions& options);

    std::optional<ArchiveEncoder> Encoder;
    std::vector<std::uint8_t> Stream;
    std::vector<std::uint8_t> Tail;  // the last block, zero-padded
};
