// A reader kept from one archive to the next (the fuzz targets' way of
// running) gives byte for byte what a reader made for each archive gives:
// output, exit code, files, pauses and handles, over a sequence of archives
// of two block sizes, damaged ones among them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "ArchiveReader.h"
#include "InProcessRun.h"
#include "stages/UnHuffman.h"

namespace {

namespace memory = platform::memory;

Bytes Lines(std::size_t count, const std::string& word)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += word + " " + std::to_string(i * 7919 % 10007) + "\r\n";
    return Text(text);
}

Bytes Archive(std::uint8_t code, const std::string& word, std::size_t lines)
{
    WriterOptions options;
    options.blockSizeCode = code;
    return WriteArchive({Record("a.txt", Lines(lines, word)), Record("b.bin", Bytes(5000, 'b')),
                            Record("c.txt", Lines(lines / 4, word + "c"))},
        options);
}

// The archive with one bit flipped at byteAt, or cut to its first cutTo bytes.
Bytes Flipped(Bytes archive, std::size_t byteAt)
{
    archive[byteAt] ^= 0x10;
    return archive;
}

Bytes Cut(Bytes archive, std::size_t cutTo)
{
    archive.resize(cutTo);
    return archive;
}

// The archives in the order they are read: each differs from the one before
// in its content, its block size, or where it breaks off.
std::vector<Bytes> Sequence()
{
    const Bytes threeBlocks = Archive(1, "Zeile", 3000);
    const Bytes code2 = Archive(2, "Reihe", 4000);
    return {threeBlocks, Flipped(threeBlocks, threeBlocks.size() / 2), threeBlocks, SampleArchive(),
        Cut(threeBlocks, threeBlocks.size() - 40), code2, Flipped(code2, 40), Archive(1, "Spalte", 200),
        Flipped(SampleArchive(), 0), Cut(code2, 30), threeBlocks, code2};
}

struct Ending {
    int exitCode;
    memory::State state;
};

Ending RunWith(
    const std::vector<std::string>& arguments, const Bytes& archive, unsigned processors, TArchiveReader* kept)
{
    memory::Reset();
    memory::Current().archives["a.twx"] = archive;
    memory::Current().processors = processors;
    // No pause waits for an answer.
    memory::Current().inputIsConsole = false;
    const int exitCode = RunInProcess(arguments, kept).exitCode;
    return {exitCode, memory::Current()};
}

struct ReuseCase {
    const char* name;
    std::vector<std::string> arguments;
    unsigned processors;
};

class ReaderReuse : public testing::TestWithParam<ReuseCase> {};

TEST_P(ReaderReuse, GivesWhatAFreshReaderGives)
{
    const ReuseCase& test = GetParam();
    TArchiveReader kept;
    const std::vector<Bytes> archives = Sequence();
    int stops = 0;
    for (std::size_t i = 0; i < archives.size(); ++i) {
        SCOPED_TRACE("archive " + std::to_string(i));
        const Ending fresh = RunWith(test.arguments, archives[i], test.processors, nullptr);
        const Ending reused = RunWith(test.arguments, archives[i], test.processors, &kept);
        EXPECT_EQ(reused.exitCode, fresh.exitCode);
        EXPECT_EQ(reused.state.output, fresh.state.output);
        EXPECT_EQ(reused.state.files, fresh.state.files);
        EXPECT_EQ(reused.state.pauses, fresh.state.pauses);
        EXPECT_EQ(reused.state.openHandles, 0);
        EXPECT_EQ(reused.state.bytesRead, fresh.state.bytesRead);
        stops += fresh.exitCode == 2;
    }
    // The sequence holds whole archives and damaged ones alike.
    EXPECT_GE(stops, 5);
    EXPECT_LE(stops, 7);
}

INSTANTIATE_TEST_SUITE_P(Commands, ReaderReuse,
    testing::Values(ReuseCase{"ListOneThread", {"-i", "a.twx"}, 1}, ReuseCase{"ListTwoThreads", {"-i", "a.twx"}, 2},
        ReuseCase{"ExtractOneThread", {"-e", "a.twx", "out"}, 1},
        ReuseCase{"ExtractTwoThreads", {"-e", "a.twx", "out"}, 2}),
    [](const testing::TestParamInfo<ReuseCase>& info) { return info.param.name; });

// A tree set back by Reset reads a bit string as a new tree does, rescaling
// included (a low weight limit reaches it within a short string).
TEST(TreeReset, DecodesLikeANewTree)
{
    const Bytes bits = RandomBytes(4096, 7);
    const auto decodeAll = [&bits](THuffmanTree& tree) {
        TBlock block;
        block.Init(static_cast<std::uint32_t>(bits.size()));
        std::copy(bits.begin(), bits.end(), block.Data);
        std::vector<std::uint32_t> symbols;
        for (int i = 0; i < 3000; ++i)
            symbols.push_back(tree.DecodeSymbolFrom(block));
        block.Release();
        return symbols;
    };
    for (const std::uint32_t count : {16u, 256u}) {
        THuffmanTree fresh;
        fresh.Init(count);
        fresh.WeightLimit = 300;
        THuffmanTree used;
        used.Init(count);
        used.WeightLimit = 300;
        const std::vector<std::uint32_t> fromNew = decodeAll(fresh);
        decodeAll(used);
        // Without the reset the history shows: the string reads differently.
        EXPECT_NE(decodeAll(used), fromNew) << count << " symbols";
        used.Reset();
        EXPECT_EQ(decodeAll(used), fromNew) << count << " symbols";
        fresh.Release();
        used.Release();
    }
}

}  // namespace
