// The archive writer against the program's own reader, run on the in-memory
// platform, and against the decoding stages one by one.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "ArchiveReader.h"
#include "ArchiveWriter.h"
#include "InProcessRun.h"
#include "TestSupport.h"
#include "MemoryPlatform.h"
#include "platform/Platform.h"

namespace {

// Bytes with no two neighbours equal, so they hold no runs at all.
Bytes RunFreeBytes(std::size_t n, std::uint32_t seed)
{
    std::mt19937 random(seed);
    Bytes data(n);
    std::uint8_t previous = 0;
    for (std::size_t i = 0; i < n; ++i) {
        std::uint8_t value;
        do
            value = static_cast<std::uint8_t>(random());
        while (i > 0 && value == previous);
        data[i] = previous = value;
    }
    return data;
}

// Run-free bytes with one run of `run` equal bytes after the first `before`.
Bytes WithRunInside(std::size_t before, std::uint32_t run, std::size_t after, std::uint32_t seed)
{
    Bytes data = RunFreeBytes(before + after, seed);
    std::uint8_t value = 0;
    while ((before > 0 && value == data[before - 1]) || (after > 0 && value == data[before]))
        ++value;
    data.insert(data.begin() + static_cast<std::ptrdiff_t>(before), run, value);
    return data;
}

// Text-like bytes from a small alphabet: compressible, with short runs.
Bytes TextLikeBytes(std::size_t n, std::uint32_t seed)
{
    static const char alphabet[] = "eeeeettttaaooiinnsshhrrdl  \n,.abcdefghijklmnopqrstuvwxyz";
    std::mt19937 random(seed);
    Bytes data(n);
    for (std::uint8_t& byte : data)
        byte = static_cast<std::uint8_t>(alphabet[random() % (sizeof alphabet - 1)]);
    return data;
}

// Bits least significant first from a byte vector.
class BitSource {
public:
    explicit BitSource(const Bytes& bytes) : Data(bytes) {}
    bool Next()
    {
        if (Position >= Data.size() * 8)
            throw std::out_of_range("read past the end of the bit stream");
        const bool bit = (Data[Position / 8] >> (Position % 8)) & 1u;
        ++Position;
        return bit;
    }
    std::size_t Position = 0;

private:
    const Bytes& Data;
};

// Decodes a token stream with THuffmanTree, Tmsmtf and TRLE (threshold 3), as
// the first stage of the reader does; records the run lengths it reads.
class TokenDecoder {
public:
    explicit TokenDecoder(const Bytes& bits)
        : Source(bits), SymbolTree(THuffmanTree::Create(256)), RunTree(THuffmanTree::Create(16)),
          RunExtensionTree(THuffmanTree::Create(256)), MoveToFront(Tmsmtf::Create()), Rle(TRLE::Create(271))
    {
        Current = this;
        for (THuffmanTree* tree : {SymbolTree, RunTree, RunExtensionTree})
            tree->OnReadBit = [] { return Current->Source.Next(); };
        std::fill(std::begin(Rle->Threshold), std::end(Rle->Threshold), 3);
        Rle->OnGetSymbol = [] { return Current->MoveToFront->Decode(static_cast<std::uint8_t>(Current->SymbolTree->DecodeSymbol())); };
        Rle->OnGetRunLength = [] {
            std::uint32_t n = 0;
            if (Current->Source.Next()) {
                n = (Current->RunTree->DecodeSymbol() & 15u) + 1;
                if (n > 15)
                    n += Current->RunExtensionTree->DecodeSymbol();
            }
            Current->RunLengths.push_back(n);
            return n;
        };
        Rle->OnPut = [](std::uint8_t value) { Current->Output.push_back(value); };
    }
    ~TokenDecoder()
    {
        for (THuffmanTree* tree : {SymbolTree, RunTree, RunExtensionTree}) {
            tree->Done();
            delete tree;
        }
        MoveToFront->Done();
        delete MoveToFront;
        Rle->Done();
        delete Rle;
        Current = nullptr;
    }
    TokenDecoder(const TokenDecoder&) = delete;
    TokenDecoder& operator=(const TokenDecoder&) = delete;

    Bytes Decode(std::uint32_t count)
    {
        Output.clear();
        RunLengths.clear();
        Rle->Decode(count);
        return Output;
    }

    BitSource Source;
    std::vector<std::uint32_t> RunLengths;

private:
    static inline TokenDecoder* Current = nullptr;
    THuffmanTree* SymbolTree;
    THuffmanTree* RunTree;
    THuffmanTree* RunExtensionTree;
    Tmsmtf* MoveToFront;
    TRLE* Rle;
    Bytes Output;
};

// One run of the reader over an archive held in memory.
struct DecodedArchive {
    Bytes header;                     // the archive's first HeaderSize bytes
    std::vector<BlockFields> fields;  // as they stand where the reader takes up each block
    std::vector<std::uint32_t> lengthsUsed;  // the transform length of each decoded block
    std::vector<std::uint32_t> crcsComputed; // the CRC the reader computed over each block
    Bytes stream;                     // all decoded blocks laid end to end
    std::size_t bytesConsumed = 0;    // archive bytes the reader touched, header included
    bool stopped = false;
    std::string stopLine;             // the line of the stop that ended it
    std::uint32_t blockSize = 0;      // as the reader took it from the header
};

// The command works on these.
DecodedArchive Collected;
const Bytes* ArchiveBytes = nullptr;
std::size_t DeliveredBytes = 0;  // archive bytes handed to InputBlock so far, header included
TBlock* Input = nullptr;          // InputBlock of the reader at work

// The reader's own fill of InputBlock, counting the bytes it delivers.
void CountingFill(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& count)
{
    TArchiveReader::FillInputBlock(buffer, capacity, count);
    DeliveredBytes += count;
}

// Position in the archive, in bits, of the next bit InputBlock gives out.
std::uint64_t InputBitPosition()
{
    const std::uint64_t chunkStart = DeliveredBytes - Input->UsedLength;
    return (chunkStart + Input->Cursor) * 8 + Input->BitIndex;
}

// 32 bits least significant first from bit position `at` of the archive.
std::uint32_t LongWordAt(std::uint64_t at)
{
    std::uint32_t value = 0;
    for (unsigned i = 0; i < 32; ++i, ++at) {
        const std::uint64_t byte = at / 8;
        if (byte < ArchiveBytes->size() && (((*ArchiveBytes)[byte] >> (at % 8)) & 1u) != 0)
            value |= 1u << i;
    }
    return value;
}

void CollectDecodedBlocks(TArchiveReader& reader)
{
    Input = reader.InputBlock.get();
    Collected.blockSize = reader.BlockSize;
    DeliveredBytes = HeaderSize + Input->UsedLength;
    Input->OnFill = CountingFill;
    while (reader.MoreBlocksPending()) {
        const std::uint64_t at = InputBitPosition();
        BlockFields fields;
        fields.length = LongWordAt(at);
        fields.primaryIndex = LongWordAt(at + 32);
        fields.crc = LongWordAt(at + 64);
        Collected.fields.push_back(fields);
        reader.PullDecodedBlock();
        Collected.lengthsUsed.push_back(reader.Transform->Length);
        Collected.crcsComputed.push_back(reader.OutputBlock->CRC->Value());
        Collected.stream.insert(Collected.stream.end(), reader.OutputBlock->Data,
                                reader.OutputBlock->Data + reader.BlockSize);
    }
    // The byte under the cursor is the last one read if any of its bits was.
    Collected.bytesConsumed = DeliveredBytes - Input->UsedLength + Input->Cursor + (Input->BitIndex > 0 ? 1 : 0);
}

// Runs the reader over the archive as "a.twx" on the in-memory platform and
// collects every block it decodes, up to a stop if one comes.
DecodedArchive Decode(const Bytes& archive)
{
    platform::memory::Reset();
    platform::memory::Current().archives["a.twx"] = archive;
    // The command looks at InputBlock between blocks: one pipeline, no worker.
    platform::memory::Current().processors = 1;
    Collected = DecodedArchive{};
    Collected.header.assign(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(std::min(HeaderSize, archive.size())));
    ArchiveBytes = &archive;
    try {
        TArchiveReader reader(platform::OpenForReading("a.twx"));
        reader.OpenArchive(CollectDecodedBlocks);
    } catch (const TArchiveStop& stop) {
        Collected.stopped = true;
        Collected.stopLine = stop.Line();
    }
    ArchiveBytes = nullptr;
    Input = nullptr;
    return std::move(Collected);
}

std::string BlockCrcStopText(const std::string& stored, const std::string& computed)
{
    return "BlockCRCFehler! (is:" + stored + " should:" + computed + ") - Abbruch, Datei zerstoert!";
}

std::uint32_t BlockSizeOf(const WriterOptions& options)
{
    return options.blockSizeCode * BlockSizeUnit;
}

std::size_t BlockCountFor(std::size_t streamLength, std::uint32_t blockSize)
{
    return (streamLength + blockSize - 1) / blockSize;
}

// The reader went through the archive without a stop, used it to its last
// byte and not beyond, and found in every block the fields it decoded by.
void ExpectCleanRun(const DecodedArchive& decoded, const Bytes& archive)
{
    EXPECT_FALSE(decoded.stopped) << "the reader stopped: " << decoded.stopLine;
    EXPECT_EQ(decoded.bytesConsumed, archive.size());
    ASSERT_EQ(decoded.lengthsUsed.size(), decoded.fields.size());
    for (std::size_t b = 0; b < decoded.fields.size(); ++b) {
        EXPECT_EQ(decoded.lengthsUsed[b], decoded.fields[b].length) << "block " << b;
        EXPECT_EQ(decoded.crcsComputed[b], decoded.fields[b].crc) << "block " << b;
    }
}

// Writes the stream, decodes it with the reader and checks every block.
DecodedArchive RoundTrip(const Bytes& stream, const WriterOptions& options)
{
    const Bytes archive = WriteArchive(stream, options);
    const std::uint32_t blockSize = BlockSizeOf(options);
    DecodedArchive decoded = Decode(archive);
    ExpectCleanRun(decoded, archive);
    EXPECT_EQ(decoded.blockSize, blockSize) << "block size taken from the header";
    Bytes padded = stream;
    padded.resize(BlockCountFor(stream.size(), blockSize) * blockSize, 0);
    EXPECT_TRUE(decoded.stream == padded);
    return decoded;
}

Bytes ForwardTransform(const Bytes& block, std::uint32_t& primaryIndex)
{
    Bytes out(block.size());
    BlockSorter sorter;
    sorter.Transform(block.data(), static_cast<std::uint32_t>(block.size()), out.data(), primaryIndex);
    return out;
}

Bytes InverseTransform(const Bytes& transformed, std::uint32_t primaryIndex)
{
    const auto n = static_cast<std::uint32_t>(transformed.size());
    TBWTransform* inverse = TBWTransform::Create(n);
    Bytes out(n);
    inverse->Input = transformed.data();
    inverse->Output = out.data();
    inverse->SetLength(n);
    inverse->Inverse(primaryIndex);
    inverse->Done();
    delete inverse;
    return out;
}

Bytes Expand(const Bytes& coded, std::uint32_t count)
{
    static const Bytes* source = nullptr;
    static std::size_t position = 0;
    static Bytes* sink = nullptr;
    Bytes out;
    source = &coded;
    position = 0;
    sink = &out;
    TRLE* rle = TRLE::Create(65535);
    std::fill(std::begin(rle->Threshold), std::end(rle->Threshold), 48);
    rle->OnGetSymbol = [] { return position < source->size() ? (*source)[position++] : std::uint8_t{0xEE}; };
    rle->OnGetRunLength = [] {
        const std::uint32_t low = position < source->size() ? (*source)[position++] : 0;
        const std::uint32_t high = position < source->size() ? (*source)[position++] : 0;
        return low | high << 8;
    };
    rle->OnPut = [](std::uint8_t value) { sink->push_back(value); };
    rle->Decode(count);
    delete rle;
    EXPECT_EQ(position, coded.size()) << "the decoder must consume the whole code";
    return out;
}

// -------------------------------------------------------------------------

TEST(ArchiveWriterHeader, DefaultHeaderHasSignatureVersionCrcMarkAndCode)
{
    const Bytes header = BuildHeader(WriterOptions{});
    const Bytes expected = {0x54, 0x57, 0x4C, 0x58, 0x89, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0xB3, 0xE4, 0x7D, 0x88, 0x51, 0x5A, 0x01};
    EXPECT_EQ(header, expected);
}

TEST(ArchiveWriterHeader, CrcCoversVersionAndHeaderWordInFileOrder)
{
    WriterOptions options;
    options.version = 136;
    options.headerWord = 0x12345678;
    options.blockSizeCode = 64;
    const Bytes header = BuildHeader(options);
    ASSERT_EQ(header.size(), HeaderSize);
    const Bytes covered = {0x88, 0x00, 0x78, 0x56, 0x34, 0x12};
    EXPECT_TRUE(std::equal(covered.begin(), covered.end(), header.begin() + 4));
    const std::uint32_t crc = ReferenceCrc32(covered);
    EXPECT_EQ(header[10], static_cast<std::uint8_t>(crc));
    EXPECT_EQ(header[11], static_cast<std::uint8_t>(crc >> 8));
    EXPECT_EQ(header[12], static_cast<std::uint8_t>(crc >> 16));
    EXPECT_EQ(header[13], static_cast<std::uint8_t>(crc >> 24));
    EXPECT_EQ(header[16], 64);
}

TEST(ArchiveWriterHeader, BlockSizeCodesOutsideOneToSixtyFourAreRefused)
{
    for (std::uint8_t code : {0, 65, 255}) {
        WriterOptions options;
        options.blockSizeCode = code;
        EXPECT_THROW(WriteArchive(Bytes{0}, options), std::invalid_argument) << int(code);
        EXPECT_EQ(BuildHeader(options)[16], code) << "a bad header can still be built";
    }
}

TEST(ArchiveWriterSample, OneRecordGivesTheKnown57ByteArchive)
{
    const WriterRecord record{"abc.txt", 0x2ECF63C0, 0x20, Text("abc")};
    const Bytes expected = {
        0x54, 0x57, 0x4C, 0x58, 0x89, 0x00, 0x00, 0x00, 0x00, 0x00, 0xB3, 0xE4, 0x7D, 0x88, 0x51, 0x5A,
        0x01, 0x4A, 0x00, 0x00, 0x00, 0x37, 0x00, 0x00, 0x00, 0x18, 0x79, 0x61, 0x61, 0xC6, 0x80, 0x8C,
        0xE0, 0x63, 0x0A, 0x98, 0xD1, 0x02, 0x38, 0x03, 0xFD, 0x17, 0x4A, 0x5E, 0xDD, 0x5F, 0x4B, 0x6A,
        0x52, 0x96, 0x27, 0x7E, 0x79, 0xE1, 0x4A, 0x2C, 0x02};
    EXPECT_EQ(WriteArchive(std::vector<WriterRecord>{record}, WriterOptions{}), expected);
}

TEST(ArchiveWriterSample, SampleBlockFieldsAndSecondStageCode)
{
    const WriterRecord record{"abc.txt", 0x2ECF63C0, 0x20, Text("abc")};
    Bytes block = BuildDecodedStream({record});
    block.resize(BlockSizeUnit, 0);

    Bytes coded(BlockSizeUnit);
    const std::uint32_t length = EncodeSecondStage(block.data(), BlockSizeUnit, coded.data(), BlockSizeUnit);
    ASSERT_EQ(length, 74u);
    coded.resize(length);
    Bytes expected = {0x07, 0x03, 0x00, 0x00, 0x00, 0xC0, 0x63, 0xCF, 0x2E, 0x20, 0x00, 0x00, 0x00};
    for (char c : std::string("abc.txtabc"))
        expected.push_back(static_cast<std::uint8_t>(c));
    expected.insert(expected.end(), 49, 0x00);
    expected.push_back(0xB8);
    expected.push_back(0x7F);
    EXPECT_EQ(coded, expected);

    ArchiveEncoder encoder(WriterOptions{});
    const BlockFields fields = encoder.EncodeBlock(block.data());
    EXPECT_EQ(fields.length, 74u);
    EXPECT_EQ(fields.primaryIndex, 55u);
    EXPECT_EQ(fields.crc, 0x61617918u);
}

TEST(ArchiveWriterStream, RecordsAreLaidOutFieldByFieldThenTheEndMark)
{
    const std::vector<WriterRecord> records = {
        {"a\\b.txt", 0x01020304, 0x21, Text("xyz")},
        {"e", 0xA0B0C0D0, 0x80, {}},
    };
    const Bytes expected = {
        7, 3, 0, 0, 0, 0x04, 0x03, 0x02, 0x01, 0x21, 0, 0, 0, 'a', '\\', 'b', '.', 't', 'x', 't', 'x', 'y', 'z',
        1, 0, 0, 0, 0, 0xD0, 0xC0, 0xB0, 0xA0, 0x80, 0, 0, 0, 'e',
        0};
    EXPECT_EQ(BuildDecodedStream(records), expected);
    Bytes withoutMark = expected;
    withoutMark.pop_back();
    EXPECT_EQ(BuildDecodedStream(records, false), withoutMark);
    EXPECT_EQ(BuildDecodedStream({}), Bytes{0});
}

TEST(ArchiveWriterStream, NamesMustHoldOneTo255Bytes)
{
    EXPECT_THROW(BuildDecodedStream({{"", 0, 0x20, {}}}), std::invalid_argument);
    EXPECT_THROW(BuildDecodedStream({{std::string(256, 'n'), 0, 0x20, {}}}), std::invalid_argument);
    EXPECT_EQ(BuildDecodedStream({{std::string(255, 'n'), 0, 0x20, {}}}).size(), 13u + 255u + 1u);
}

TEST(ArchiveWriterBits, BitsArePackedLeastSignificantFirstAndTheLastByteIsZeroPadded)
{
    BitWriter writer;
    writer.WriteBits(0x12345678, 32);
    writer.WriteBit(1);
    writer.WriteBit(0);
    writer.WriteBit(1);
    EXPECT_EQ(writer.BitCount(), 35u);
    EXPECT_EQ(writer.TakeBytes(), (Bytes{0x78, 0x56, 0x34, 0x12, 0x05}));
    EXPECT_EQ(writer.BitCount(), 0u);

    // Fields of any width at any bit position, against a bit-by-bit packing.
    std::mt19937_64 random(3);
    std::vector<bool> bits;
    for (int i = 0; i < 2000; ++i) {
        const unsigned count = static_cast<unsigned>(random() % 65);
        const std::uint64_t value = random();
        writer.WriteBits(value, count);
        for (unsigned b = 0; b < count; ++b)
            bits.push_back((value >> b) & 1u);
    }
    Bytes expected((bits.size() + 7) / 8, 0);
    for (std::size_t b = 0; b < bits.size(); ++b)
        expected[b / 8] |= static_cast<std::uint8_t>(bits[b] << (b % 8));
    EXPECT_EQ(writer.BitCount(), bits.size());
    EXPECT_EQ(writer.TakeBytes(), expected);
}

TEST(ArchiveWriterHuffman, CodesFollowTheDecodersTreeRootFirst)
{
    // A fresh 256-symbol tree codes symbol 0 as eight 0 bits; afterwards the
    // decoder's tree gives it the code 1111.
    HuffmanEncoder encoder(256);
    BitWriter writer;
    encoder.Encode(0, writer);
    EXPECT_EQ(writer.BitCount(), 8u);
    encoder.Encode(0, writer);
    EXPECT_EQ(writer.BitCount(), 12u);
    EXPECT_EQ(writer.TakeBytes(), (Bytes{0x00, 0x0F}));

    // Fresh 16-symbol tree: symbol 5 is 0101, most significant first.
    HuffmanEncoder small(16);
    small.Encode(5, writer);
    EXPECT_EQ(writer.TakeBytes(), (Bytes{0x0A}));
}

TEST(ArchiveWriterHuffman, SkewedSymbolStreamsDecodeThroughRescales)
{
    for (std::uint32_t symbols : {2u, 16u, 256u}) {
        std::mt19937 random(symbols);
        std::geometric_distribution<std::uint32_t> skew(0.2);
        std::vector<std::uint32_t> sent(60000);
        for (std::uint32_t& s : sent)
            s = std::min(skew(random), symbols - 1);

        HuffmanEncoder encoder(symbols);
        BitWriter writer;
        for (std::uint32_t s : sent)
            encoder.Encode(s, writer);
        const Bytes bits = writer.TakeBytes();

        static BitSource* source = nullptr;
        static int rescales = 0;
        BitSource bitSource(bits);
        source = &bitSource;
        rescales = 0;
        THuffmanTree* decoder = THuffmanTree::Create(symbols);
        decoder->OnReadBit = [] { return source->Next(); };
        decoder->OnRescale = [] { ++rescales; };
        std::size_t mismatches = 0;
        for (std::uint32_t s : sent)
            mismatches += decoder->DecodeSymbol() != s;
        EXPECT_EQ(mismatches, 0u) << symbols << " symbols";
        EXPECT_GE(rescales, 3) << "the weights were halved on the way";
        EXPECT_EQ((bitSource.Position + 7) / 8, bits.size());
        decoder->Done();
        delete decoder;
    }
}

TEST(ArchiveWriterTransform, KnownTransformsAndPrimaryIndexes)
{
    std::uint32_t index = 99;
    EXPECT_EQ(ForwardTransform(Text("banana"), index), Text("nnbaaa"));
    EXPECT_EQ(index, 2u);

    Bytes counting(40);
    std::iota(counting.begin(), counting.end(), 0);
    Bytes expected(40);
    expected[0] = 39;
    std::iota(expected.begin() + 1, expected.end(), 0);
    EXPECT_EQ(ForwardTransform(counting, index), expected);
    EXPECT_EQ(index, 1u);

    EXPECT_EQ(ForwardTransform(Text("abracadabra-abracadabra-abracadabra!"), index),
              Text("aaarrrddd--!rrrcccaaaaaaaaaaaabbbbbb"));
    EXPECT_EQ(index, 23u);
}

// The transform by the plain rule: every rotation of block compared byte by
// byte, stably sorted, and the byte before each; checks ForwardTransform's
// output and that its primary index is a rotation equal to the one at 1.
void ExpectPlainRotationSort(const Bytes& block, const std::string& what)
{
    const std::size_t n = block.size();
    // Rotations compared byte by byte: negative, 0 or positive.
    const auto compare = [&](std::size_t a, std::size_t b) {
        for (std::size_t k = 0; k < n; ++k) {
            const int difference = block[(a + k) % n] - block[(b + k) % n];
            if (difference != 0)
                return difference;
        }
        return 0;
    };
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return compare(a, b) < 0; });
    Bytes expected;
    for (std::size_t start : order)
        expected.push_back(block[(start + n - 1) % n]);

    std::uint32_t index = 0;
    const Bytes transformed = ForwardTransform(block, index);
    ASSERT_EQ(transformed, expected) << what;
    ASSERT_LT(index, n) << what;
    EXPECT_EQ(compare(order[index], 1 % n), 0) << what;
}

// Blocks on both sides of BlockSorter::ShortSortLimit, so that both sorters
// are held to the plain rule.
TEST(ArchiveWriterTransform, MatchesPlainRotationSortOnSmallAndPeriodicBlocks)
{
    std::mt19937 random(5);
    for (int round = 0; round < 600; ++round) {
        const std::uint32_t alphabet = 1 + round % 3;
        const std::size_t rootLength = 1 + random() % 12;
        Bytes root(rootLength);
        for (std::uint8_t& byte : root)
            byte = static_cast<std::uint8_t>('a' + random() % alphabet);
        // Every other block repeats its root; the rest are cut at a random length.
        Bytes block;
        const std::size_t repeats = round % 8 < 2 ? 20 + random() % 30 : 1 + random() % 9;
        for (std::size_t r = 0; r < repeats; ++r)
            block.insert(block.end(), root.begin(), root.end());
        if (round % 2 == 1)
            block.resize(1 + random() % block.size());
        ExpectPlainRotationSort(block, "round " + std::to_string(round));
    }
}

// Blocks as the last block of an archive: content of few byte values with
// runs of zeros in it, then zero padding shorter and longer than those runs
// (the sorter sorts a long leading run of the least byte cut short), around
// the lengths where the sorter changes its method.
TEST(ArchiveWriterTransform, MatchesPlainRotationSortOnPaddedBlocks)
{
    std::mt19937 random(11);
    for (const std::size_t n : {300u, 4096u, 8192u, 8193u}) {
        for (const std::size_t padding : {std::size_t{0}, std::size_t{3}, std::size_t{40}, n / 4}) {
            Bytes block(n - padding, 0);
            for (std::size_t i = 0; i < block.size(); ++i)
                block[i] = static_cast<std::uint8_t>(i % 97 < 20 ? 0 : random() % 4);
            block.resize(n, 0);
            ExpectPlainRotationSort(block, std::to_string(n) + " bytes, " + std::to_string(padding) + " of padding");
        }
    }
}

TEST(ArchiveWriterTransform, InverseTransformRestoresRandomRepetitiveAndPeriodicBlocks)
{
    std::mt19937 random(7);
    std::vector<Bytes> blocks;
    for (std::size_t n : {32u, 33u, 100u, 1000u, 65536u})
        blocks.push_back(RunFreeBytes(n, static_cast<std::uint32_t>(n)));
    blocks.push_back(Bytes(32, 0x00));
    blocks.push_back(Bytes(70000, 0xFF));
    Bytes periodic(3000);
    for (std::size_t i = 0; i < periodic.size(); ++i)
        periodic[i] = "abcab"[i % 5];
    blocks.push_back(periodic);
    Bytes twoValues(5000);
    for (std::uint8_t& byte : twoValues)
        byte = (random() % 7 == 0) ? 'b' : 'a';
    blocks.push_back(twoValues);
    blocks.push_back(TextLikeBytes(200000, 3));

    for (const Bytes& block : blocks) {
        std::uint32_t index = 0;
        const Bytes transformed = ForwardTransform(block, index);
        ASSERT_LT(index, block.size());
        Bytes sortedIn = block, sortedOut = transformed;
        std::sort(sortedIn.begin(), sortedIn.end());
        std::sort(sortedOut.begin(), sortedOut.end());
        EXPECT_EQ(sortedIn, sortedOut) << "a transform permutes the bytes";
        EXPECT_TRUE(InverseTransform(transformed, index) == block) << "length " << block.size();
    }
}

TEST(ArchiveWriterSecondStage, CountFollowsEvery49thEqualByte)
{
    Bytes coded(200);
    const auto encode = [&](const Bytes& block) {
        const std::uint32_t length =
            EncodeSecondStage(block.data(), static_cast<std::uint32_t>(block.size()), coded.data(), 200);
        return Bytes(coded.begin(), coded.begin() + length);
    };
    Bytes expected(48, 'q');
    EXPECT_EQ(encode(Bytes(48, 'q')), expected);
    expected.push_back('q');
    expected.push_back(0);
    expected.push_back(0);
    EXPECT_EQ(encode(Bytes(49, 'q')), expected);
    expected[49] = 1;
    EXPECT_EQ(encode(Bytes(50, 'q')), expected);
    expected = Bytes(49, 'q');
    expected.push_back(0xFF);
    expected.push_back(0xFF);
    expected.push_back('q');
    EXPECT_EQ(encode(Bytes(65585, 'q')), expected) << "a new group starts after the largest count";
}

TEST(ArchiveWriterSecondStage, CodeThatDoesNotFitBelowCapacityIsRefused)
{
    Bytes block = RunFreeBytes(100, 1);
    Bytes coded(103);
    EXPECT_EQ(EncodeSecondStage(block.data(), 100, coded.data(), 100), 0u) << "equal length does not fit";
    EXPECT_EQ(EncodeSecondStage(block.data(), 100, coded.data(), 101), 100u);
    std::fill(block.begin(), block.begin() + 49, 'z');
    block[49] = 'y';
    EXPECT_EQ(EncodeSecondStage(block.data(), 100, coded.data(), 102), 0u) << "a run of 49 grows by two";
    EXPECT_EQ(EncodeSecondStage(block.data(), 100, coded.data(), 103), 102u);
}

TEST(ArchiveWriterSecondStage, RunLengthDecoderWithThreshold48RestoresRuns)
{
    for (std::uint32_t run : {48u, 49u, 50u, 65584u, 65585u, 3u * 65584u + 7u}) {
        const Bytes block = WithRunInside(30, run, 30, run);
        Bytes coded(block.size() + 3);
        const std::uint32_t length = EncodeSecondStage(block.data(), static_cast<std::uint32_t>(block.size()),
                                                       coded.data(), static_cast<std::uint32_t>(coded.size()));
        ASSERT_GT(length, 0u) << run;
        coded.resize(length);
        EXPECT_TRUE(Expand(coded, static_cast<std::uint32_t>(block.size())) == block) << "run " << run;
    }
}

TEST(ArchiveWriterTokens, RunTokensCarryTheExtraCopiesAfterEveryFourthEqualByte)
{
    struct Case {
        std::uint32_t run;
        std::vector<std::uint32_t> tokens;
    };
    const std::vector<Case> cases = {
        {3, {}}, {4, {0}}, {5, {1}}, {19, {15}}, {20, {16}}, {275, {271}}, {276, {271}}, {279, {271, 0}}, {554, {271, 271, 0}},
    };
    for (const Case& c : cases) {
        // The run sits between other bytes and again at the very end.
        Bytes bytes = Text("xy");
        bytes.insert(bytes.end(), c.run, 'r');
        bytes.push_back('z');
        bytes.insert(bytes.end(), c.run, 's');

        TokenEncoder encoder;
        BitWriter writer;
        encoder.Encode(bytes.data(), static_cast<std::uint32_t>(bytes.size()), writer);
        const std::uint64_t bitCount = writer.BitCount();
        const Bytes bits = writer.TakeBytes();

        TokenDecoder decoder(bits);
        EXPECT_TRUE(decoder.Decode(static_cast<std::uint32_t>(bytes.size())) == bytes) << "run " << c.run;
        std::vector<std::uint32_t> expectedTokens = c.tokens;
        expectedTokens.insert(expectedTokens.end(), c.tokens.begin(), c.tokens.end());
        EXPECT_EQ(decoder.RunLengths, expectedTokens) << "run " << c.run;
        EXPECT_EQ(decoder.Source.Position, bitCount) << "run " << c.run << ": every bit written is read";
    }
}

TEST(ArchiveWriterTokens, ModelsRunOnFromOneCallToTheNext)
{
    const Bytes first = TextLikeBytes(5000, 11);
    const Bytes second = TextLikeBytes(5000, 12);
    TokenEncoder encoder;
    BitWriter writer;
    encoder.Encode(first.data(), 5000, writer);
    encoder.Encode(second.data(), 5000, writer);
    const Bytes bits = writer.TakeBytes();

    TokenDecoder decoder(bits);
    EXPECT_TRUE(decoder.Decode(5000) == first);
    EXPECT_TRUE(decoder.Decode(5000) == second);
}

TEST(ArchiveWriterRoundTrip, RecordsDecodeWithBlockSizeCodesOneAndTwo)
{
    std::vector<WriterRecord> records = {
        {"readme.txt", 0x2ECF63C0, 0x20, TextLikeBytes(40000, 1)},
        {"dir\\empty.bin", 0x00210000, 0x01, {}},
        {"noise.bin", 0x5A5A5A5A, 0x20, RunFreeBytes(30000, 2)},
    };
    for (std::uint8_t code : {1, 2}) {
        WriterOptions options;
        options.blockSizeCode = code;
        const Bytes stream = BuildDecodedStream(records);
        const DecodedArchive decoded = RoundTrip(stream, options);
        EXPECT_EQ(decoded.header, BuildHeader(options));
        EXPECT_EQ(decoded.fields.size(), BlockCountFor(stream.size(), BlockSizeOf(options)));
        EXPECT_TRUE(WriteArchive(records, options) == WriteArchive(stream, options));
    }
}

// A kept writer starts every archive afresh: its models, list and stream
// carry nothing over from the one before, whatever its block size and stages.
TEST(ArchiveWriterRoundTrip, AKeptWriterWritesWhatAFreshOneWrites)
{
    const std::vector<WriterRecord> text = {{"a.txt", 0x2ECF63C0, 0x20, TextLikeBytes(50000, 3)}};
    const std::vector<WriterRecord> noise = {{"b.bin", 0x00210000, 0x01, RunFreeBytes(9000, 4)},
                                             {"c.bin", 0x5A5A5A5A, 0x20, Bytes(70000, 7)}};
    ArchiveWriter writer;
    for (int round = 0; round < 6; ++round) {
        WriterOptions options;
        options.blockSizeCode = static_cast<std::uint8_t>(1 + round % 3);
        options.secondStage = round % 2 == 0 ? SecondStage::Automatic : SecondStage::Never;
        const std::vector<WriterRecord>& records = round % 4 < 2 ? text : noise;
        ASSERT_TRUE(writer.Write(records, options) == WriteArchive(records, options)) << "round " << round;
    }
}

TEST(ArchiveWriterRoundTrip, ManyBlocksShareTheAdaptiveModels)
{
    Bytes stream;
    for (std::uint32_t part = 0; part < 6; ++part) {
        const Bytes text = TextLikeBytes(20000, 100 + part);
        stream.insert(stream.end(), text.begin(), text.end());
        stream.insert(stream.end(), 3000 + 1000 * part, static_cast<std::uint8_t>(part));
    }
    const DecodedArchive decoded = RoundTrip(stream, WriterOptions{});
    EXPECT_EQ(decoded.fields.size(), 5u);
}

TEST(ArchiveWriterRoundTrip, SecondStageRunsAcrossTheirCountLimits)
{
    WriterOptions options;
    options.blockSizeCode = 4;  // 131072 bytes: room for runs beyond one count
    for (std::uint32_t run : {49u, 50u, 65584u, 65585u}) {
        Bytes stream = TextLikeBytes(1000, run);
        stream.insert(stream.end(), run, '#');
        const Bytes tail = TextLikeBytes(1000, run + 1);
        stream.insert(stream.end(), tail.begin(), tail.end());
        const DecodedArchive decoded = RoundTrip(stream, options);
        ASSERT_EQ(decoded.fields.size(), 1u);
        EXPECT_LT(decoded.fields[0].length, BlockSizeOf(options)) << "run " << run;
    }
}

TEST(ArchiveWriterRoundTrip, SecondStageIsUsedOnlyWhenItShortensTheBlock)
{
    // A block without runs but one run: 51 equal bytes code in 51 bytes (no
    // gain, stored whole), 52 in 51 bytes (one byte shorter).
    for (std::uint32_t run : {51u, 52u}) {
        const Bytes block = WithRunInside(100, run, BlockSizeUnit - 100 - run, run);
        ASSERT_EQ(block.size(), BlockSizeUnit);
        const DecodedArchive decoded = RoundTrip(block, WriterOptions{});
        EXPECT_EQ(decoded.fields[0].length, run == 51 ? BlockSizeUnit : BlockSizeUnit - 1);
    }
}

TEST(ArchiveWriterRoundTrip, BlocksOfOneByteValueAndIncompressibleBlocks)
{
    WriterOptions options;
    options.blockSizeCode = 2;
    Bytes stream(2 * 65536, 0x00);
    const Bytes noise = RunFreeBytes(65536, 9);
    stream.insert(stream.end(), noise.begin(), noise.end());
    const DecodedArchive decoded = RoundTrip(stream, options);
    ASSERT_EQ(decoded.fields.size(), 3u);
    EXPECT_EQ(decoded.fields[0].length, 51u) << "49 zeros and the count of the other 65487";
    EXPECT_EQ(decoded.fields[1].length, 51u);
    EXPECT_EQ(decoded.fields[2].length, 65536u);
}

TEST(ArchiveWriterRoundTrip, WithoutSecondStageEveryBlockIsStoredWhole)
{
    WriterOptions options;
    options.secondStage = SecondStage::Never;
    Bytes stream(BlockSizeUnit + 10, 'k');
    const DecodedArchive decoded = RoundTrip(stream, options);
    ASSERT_EQ(decoded.fields.size(), 2u);
    for (const BlockFields& fields : decoded.fields)
        EXPECT_EQ(fields.length, BlockSizeUnit);
}

TEST(ArchiveWriterRoundTrip, StreamOfWholeBlocksNeedsNoPadding)
{
    const Bytes stream = TextLikeBytes(3 * BlockSizeUnit, 5);
    const DecodedArchive decoded = RoundTrip(stream, WriterOptions{});
    EXPECT_EQ(decoded.fields.size(), 3u);
    EXPECT_EQ(WriteArchive(Bytes{}, WriterOptions{}), BuildHeader(WriterOptions{})) << "no blocks for no stream";
}

TEST(ArchiveWriterRoundTrip, EndMarkAtABlockEndIsLeftOutOnlyOnRequest)
{
    // 13 + 1 + 32754 = 32768: the content ends exactly at the block end.
    const std::vector<WriterRecord> records = {{"f", 0x2ECF63C0, 0x20, TextLikeBytes(BlockSizeUnit - 14, 8)}};
    WriterOptions options;
    const Bytes withMark = WriteArchive(records, options);
    options.omitEndMarkAtBlockEnd = true;
    const Bytes withoutMark = WriteArchive(records, options);

    const DecodedArchive two = Decode(withMark);
    ExpectCleanRun(two, withMark);
    ASSERT_EQ(two.fields.size(), 2u);
    EXPECT_EQ(two.stream[BlockSizeUnit], 0) << "the end mark opens a second block";

    const DecodedArchive one = Decode(withoutMark);
    ExpectCleanRun(one, withoutMark);
    EXPECT_EQ(one.fields.size(), 1u);
    EXPECT_TRUE(one.stream == BuildDecodedStream(records, false));

    // A record that ends elsewhere keeps its end mark with the option set.
    const std::vector<WriterRecord> shorter = {{"f", 0, 0x20, Text("abc")}};
    EXPECT_EQ(WriteArchive(shorter, options), WriteArchive(shorter, WriterOptions{}));
}

TEST(ArchiveWriterDamage, OverriddenFieldsAreWrittenAndTheTrueOnesReturned)
{
    // Each archive holds a good block and then the same block again with one
    // field overridden; the reader decodes the first and stops at the second.
    const Bytes block = TextLikeBytes(BlockSizeUnit, 21);

    ArchiveEncoder crcEncoder(WriterOptions{});
    const BlockFields good = crcEncoder.EncodeBlock(block.data());
    BlockFieldOverrides overrides;
    overrides.crc = good.crc ^ 1u;
    const BlockFields second = crcEncoder.EncodeBlock(block.data(), overrides);
    EXPECT_EQ(second.crc, good.crc);
    const DecodedArchive wrongCrc = Decode(crcEncoder.Finish());
    ASSERT_EQ(wrongCrc.fields.size(), 2u);
    EXPECT_EQ(wrongCrc.fields[0].crc, good.crc);
    EXPECT_TRUE(wrongCrc.stream == block) << "the good block decodes";
    EXPECT_EQ(wrongCrc.fields[1].crc, good.crc ^ 1u);
    EXPECT_TRUE(wrongCrc.stopped);
    EXPECT_EQ(wrongCrc.stopLine, BlockCrcStopText(Hex8(good.crc ^ 1u), Hex8(good.crc)))
        << "stored CRC differs from the data";

    ArchiveEncoder indexEncoder(WriterOptions{});
    indexEncoder.EncodeBlock(block.data());
    overrides = {};
    overrides.primaryIndex = (second.primaryIndex + 1) % second.length;
    indexEncoder.EncodeBlock(block.data(), overrides);
    const DecodedArchive wrongIndex = Decode(indexEncoder.Finish());
    ASSERT_EQ(wrongIndex.fields.size(), 2u);
    EXPECT_TRUE(wrongIndex.stream == block);
    EXPECT_EQ(wrongIndex.fields[1].primaryIndex, (second.primaryIndex + 1) % second.length);
    EXPECT_EQ(wrongIndex.fields[1].crc, good.crc);
    EXPECT_TRUE(wrongIndex.stopped);
    const std::string stopStart = "BlockCRCFehler! (is:" + Hex8(good.crc) + " should:";
    EXPECT_EQ(wrongIndex.stopLine.rfind(stopStart, 0), 0u) << wrongIndex.stopLine;
    EXPECT_NE(wrongIndex.stopLine, BlockCrcStopText(Hex8(good.crc), Hex8(good.crc)))
        << "a wrong primary index garbles the block";

    ArchiveEncoder lengthEncoder(WriterOptions{});
    lengthEncoder.EncodeBlock(block.data());
    overrides = {};
    overrides.length = 0xDEADBEEF;
    lengthEncoder.EncodeBlock(block.data(), overrides);
    const DecodedArchive wrongLength = Decode(lengthEncoder.Finish());
    ASSERT_EQ(wrongLength.fields.size(), 2u);
    EXPECT_TRUE(wrongLength.stream == block);
    EXPECT_EQ(wrongLength.fields[1].length, 0xDEADBEEFu);
    EXPECT_EQ(wrongLength.fields[1].primaryIndex, second.primaryIndex);
    EXPECT_EQ(wrongLength.fields[1].crc, good.crc);
    EXPECT_TRUE(wrongLength.stopped);
    EXPECT_EQ(wrongLength.stopLine.rfind(stopStart, 0), 0u) << wrongLength.stopLine;
}

} // namespace
