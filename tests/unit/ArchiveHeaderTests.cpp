// Header checks of "-i": their order, their messages, the pause and the exit code.
#include <gtest/gtest.h>

#include <optional>

#include "ArchiveReader.h"
#include "ArchiveWriter.h"
#include "Console.h"
#include "InProcessRun.h"

namespace {

using platform::memory::Current;

const std::string ReadError = CrLfLines({"", "Lesefehler! - Disk/Datei zerstoert?"});

std::vector<std::uint8_t> Header(WriterOptions options = {})
{
    return BuildHeader(options);
}

void ExpectStop(const RunOutcome& run, const std::string& output, bool paused = true)
{
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.output, output);
    EXPECT_EQ(Current().pauses, paused ? std::vector<std::uint32_t>{5000} : std::vector<std::uint32_t>{});
    EXPECT_EQ(Current().openHandles, 0) << "the archive is closed";
}

TEST(ArchiveHeader, EmptyFileIsAReadError)
{
    ExpectStop(ListInMemory({}), ReadError);
}

TEST(ArchiveHeader, MissingFileIsAReadError)
{
    platform::memory::Reset();
    ExpectStop(RunInProcess({"-i", "nowhere.twx"}), ReadError);
}

TEST(ArchiveHeader, TruncatedFieldIsAReadError)
{
    // Cut inside each field: signature, version, header word, CRC, mark, code.
    for (std::size_t length : {3u, 5u, 9u, 13u, 15u, 16u}) {
        auto archive = Header();
        archive.resize(length);
        ExpectStop(ListInMemory(archive), ReadError);
    }
}

TEST(ArchiveHeader, WrongSignatureStopsWithoutPause)
{
    auto archive = Header();
    archive[3] = 0;  // "TWL" and a zero byte
    ExpectStop(ListInMemory(archive),
               CrLfLines({"Signatur der Datei besch\xE4"
                          "digt - falsches Format?"}),
               false);
    archive[0] = 't';
    ExpectStop(ListInMemory(archive),
               CrLfLines({"Signatur der Datei besch\xE4"
                          "digt - falsches Format?"}),
               false);
}

TEST(ArchiveHeader, HeaderWordFlipIsACrcError)
{
    const std::string crcError = CrLfLines({"Header CRC ungueltig - Datei zerstoert?"});
    for (unsigned bit = 0; bit < 32; ++bit) {
        auto archive = Header();
        archive[6 + bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        ExpectStop(ListInMemory(archive), crcError);
    }
}

TEST(ArchiveHeader, CrcIsJudgedBeforeTheVersion)
{
    WriterOptions options;
    options.version = 136;
    auto archive = Header(options);
    archive[10] ^= 0xFF;
    ExpectStop(ListInMemory(archive), CrLfLines({"Header CRC ungueltig - Datei zerstoert?"}));
}

TEST(ArchiveHeader, OtherVersionPointsToUpdates)
{
    WriterOptions options;
    options.version = 136;
    ExpectStop(ListInMemory(Header(options)),
               CrLfLines({"Updates dieses Programms auf http://www.tarnwell.example oder "
                          "ftp://ftp.tarnwell.example",
                          "Dateiversion ungeeignet - bitte entsprechende Software suchen..."}));
}

TEST(ArchiveHeader, SwappedBlockMarkIsRejected)
{
    auto archive = Header();
    std::swap(archive[14], archive[15]);
    ExpectStop(ListInMemory(archive), CrLfLines({"Blockeinstiegspunkt kann nicht gefunden werden..."}));
}

TEST(ArchiveHeader, BlockSizeCodeOutsideOneToSixtyFourIsRejected)
{
    for (std::uint8_t code : {0, 65, 255}) {
        auto archive = Header();
        archive[16] = code;
        ExpectStop(ListInMemory(archive), CrLfLines({"ungueltige Blockgroesse..."}));
    }
}

TEST(ArchiveHeader, AnyHeaderWordAndBothEndCodesAreAccepted)
{
    for (auto [word, code, size] : {std::tuple{0u, 1, "32768"}, {0xFFFFFFFFu, 64, "2097152"}, {0x12345678u, 2, "65536"}}) {
        WriterOptions options;
        options.headerWord = word;
        options.blockSizeCode = static_cast<std::uint8_t>(code);
        const RunOutcome run = ListInMemory(WriteArchive(std::vector<WriterRecord>{}, options));
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(run.output.starts_with(std::string("Blockgroesse: ") + size + " Bytes\r\n\r\nDateiname"))
            << run.output;
        EXPECT_EQ(Current().openHandles, 0);
    }
}

// Runs a reader over the archive with the command; the stop that ended it.
template <typename Command>
std::optional<StopKind> ReadWith(const Bytes& archive, Command&& command)
{
    platform::memory::Reset();
    Current().archives["a.twx"] = archive;
    try {
        TArchiveReader reader(platform::OpenForReading("a.twx"));
        reader.OpenArchive(command);
    } catch (const TArchiveStop& stop) {
        return stop.Kind;
    }
    return std::nullopt;
}

TEST(ArchiveHeader, ValidHeaderAloneStopsAtTheFirstFillBeforeTheCommand)
{
    bool ran = false;
    EXPECT_EQ(ReadWith(Header(), [&ran](TArchiveReader&) { ran = true; }), StopKind::ReadError);
    EXPECT_FALSE(ran);
    EXPECT_EQ(Current().openHandles, 0) << "the reader closes the archive on the way out";
    EXPECT_EQ(Current().output, "") << "only the front end prints a stop";
}

TEST(ArchiveHeader, CommandGetsStagesOfTheBlockSize)
{
    WriterOptions options;
    options.blockSizeCode = 3;
    bool ran = false;
    EXPECT_EQ(ReadWith(WriteArchive(std::vector<WriterRecord>{}, options),
                       [&ran](TArchiveReader& reader) {
                           ran = true;
                           EXPECT_EQ(reader.BlockSize, 3 * 32768u);
                           EXPECT_EQ(reader.InputBlock->Capacity, reader.BlockSize);
                           EXPECT_EQ(reader.OutputBlock->Capacity, reader.BlockSize);
                           EXPECT_EQ(reader.MiddleBlock->Capacity, reader.BlockSize);
                           EXPECT_EQ(reader.Transform->Capacity, reader.BlockSize);
                       }),
              std::nullopt);
    EXPECT_TRUE(ran);
    EXPECT_EQ(Current().openHandles, 0);
}

TEST(ArchiveStops, BlockCrcStopShowsStoredThenComputed)
{
    const TArchiveStop stop{StopKind::BlockCrc, 0x0000ABCD, 0xFFFFFFFF};
    EXPECT_EQ(stop.Line(), "BlockCRCFehler! (is:0000ABCD should:FFFFFFFF) - Abbruch, Datei zerstoert!");
    EXPECT_EQ(FindStop(CrLfLines({"abc.txt   ..BlockCRCFehler! (is:0000ABCD should:FFFFFFFF) - Abbruch, Datei zerstoert!"})).kind,
              StopKind::BlockCrc);
}

TEST(PadRight, FillsShortTextsAndKeepsLongOnesWhole)
{
    EXPECT_EQ(PadRight("abcdefghijkl", 41), "abcdefghijkl" + std::string(29, ' '));
    const std::string exact(41, 'x'), longer(60, 'y');
    EXPECT_EQ(PadRight(exact, 41), exact);
    EXPECT_EQ(PadRight(longer, 41), longer);
    EXPECT_EQ(PadRight("", 3), "   ");
}

TEST(DisplayNames, OnlyTheLastBackslashOrColonPartCounts)
{
    EXPECT_EQ(DisplayName("docs\\letters\\a.txt"), "a.txt");
    EXPECT_EQ(DisplayName("c:a.txt"), "a.txt");
    EXPECT_EQ(DisplayName("c:\\x\\y:z.txt"), "z.txt");
    EXPECT_EQ(DisplayName("docs/letters/a.txt"), "docs/letters/a.txt");
    EXPECT_EQ(DisplayName("docs\\"), "");
    EXPECT_EQ(DisplayName("plain"), "plain");
}

}  // namespace
