// Writes the seed archives of the fuzz corpus into a folder, and with a
// second folder the seeds of the stage target there:
//   untwx_fuzz_seeds FOLDER [STAGE-FOLDER]
// Each seed is small and reaches a different part of the reader. Bit 0 of
// the header word picks the decode target's command: the seeds whose names
// end in "-e" are extracted, the others listed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ArchiveWriter.h"
#include "TestSupport.h"

namespace {

// Lines of text that differ a little from each other, so blocks compress
// well but not to nothing.
Bytes Lines(std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += "Zeile " + std::to_string(i) + ": sortierte Bloecke, kurze Codes\r\n";
    return Text(text);
}

Bytes Repeated(std::uint8_t value, std::size_t count)
{
    return Bytes(count, value);
}

// Runs of growing length: run tokens with and without the extension tree,
// and second-stage counts.
Bytes Runs()
{
    Bytes bytes;
    for (std::uint32_t length = 1; length <= 300; length += 7)
        bytes.insert(bytes.end(), length, static_cast<std::uint8_t>('a' + length % 26));
    bytes.insert(bytes.end(), 5000, 0xFF);
    return bytes;
}

WriterOptions Options(std::uint8_t code = 1)
{
    WriterOptions options;
    options.blockSizeCode = code;
    return options;
}

void Save(const std::string& folder, const std::string& name, const Bytes& archive)
{
    const std::string path = folder + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(archive.data()), static_cast<std::streamsize>(archive.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
    std::printf("%-28s %6zu bytes\n", name.c_str(), archive.size());
}

// The archive written again with bit 0 of its header word set.
void SaveBoth(
    const std::string& folder, const std::string& name, const std::vector<WriterRecord>& records, WriterOptions options)
{
    Save(folder, name + ".twx", WriteArchive(records, options));
    options.headerWord = 1;
    Save(folder, name + "-e.twx", WriteArchive(records, options));
}

// A stage seed: the options byte, the block lengths (1 to 192), and the
// token stream of the archive's first block (from after its three fields).
Bytes StageSeed(
    std::uint8_t options, const std::vector<std::uint16_t>& lengths, const Bytes& archive, std::size_t bytes)
{
    constexpr std::size_t TokensAt = HeaderSize + 12;
    Bytes seed{options};
    for (const std::uint16_t length : lengths) {
        seed.push_back(static_cast<std::uint8_t>((length - 1) & 0xFF));
        seed.push_back(static_cast<std::uint8_t>((length - 1) >> 8));
    }
    const std::size_t end = std::min(archive.size(), TokensAt + bytes);
    if (end > TokensAt)
        seed.insert(seed.end(), archive.begin() + TokensAt, archive.begin() + static_cast<std::ptrdiff_t>(end));
    return seed;
}

// Options: bits 0-1 fill size (1, 9, 64, 4096 bytes), bits 2-3 weight limit
// (16383, 200, 1000, 4000), bits 4-5 blocks less one, bits 6-7 walks before
// the prefix tables (the real count, 0, 1, 200).
void SaveStageSeeds(const std::string& folder)
{
    const Bytes text = WriteArchive({Record("t.txt", Lines(400))}, Options());
    Save(folder, "text-four-blocks.bin", StageSeed(0x73, {192, 192, 192, 192}, text, 600));
    Save(folder, "runs-byte-fills.bin",
        StageSeed(0x14, {192, 150}, WriteArchive({Record("r", Runs())}, Options()), 3000));
    Bytes random(HeaderSize + 12, 0);
    const Bytes tokens = RandomBytes(2000, 3);
    random.insert(random.end(), tokens.begin(), tokens.end());
    Save(folder, "random-halving.bin", StageSeed(0xA5, {192, 192, 192}, random, 800));
    Save(folder, "zeros.bin", StageSeed(0x0E, {192}, Bytes(HeaderSize + 40, 0), 28));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s FOLDER [STAGE-FOLDER]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    try {
        if (argc == 3)
            SaveStageSeeds(argv[2]);
        // Several records over three blocks; one spans two block ends.
        SaveBoth(folder, "three-blocks",
            {Record("liesmich.txt", Lines(40)), Record("DATEN\\gross.bin", Lines(1500)), Record("leer.txt", {}),
                Record("ende.txt", Text("ende\r\n"))},
            Options());

        Save(folder, "runs.twx", WriteArchive({Record("runs.bin", Runs())}, Options()));
        SaveBoth(
            folder, "long-run-code2", {Record("null.bin", Repeated(0, 70000)), Record("x.txt", Text("x"))}, Options(2));

        WriterOptions stored = Options();
        stored.secondStage = SecondStage::Never;
        Save(folder, "no-second-stage.twx", WriteArchive({Record("a.txt", Lines(3))}, stored));

        // The last content ends exactly at the block end, without an end mark.
        WriterOptions noEndMark = Options();
        noEndMark.omitEndMarkAtBlockEnd = true;
        const std::string fullName = "voll.bin";
        SaveBoth(folder, "ends-at-block-end", {Record(fullName, Repeated('v', BlockSizeUnit - 13 - fullName.size()))},
            noEndMark);

        // Names that must not leave the target folder, a read-only file written
        // twice, stored dates that are not dates.
        std::vector<WriterRecord> names = {
            Record("C:\\TEMP\\pfad.txt", Text("1")), Record("laufwerk:name.txt", Text("2")),
            Record("..", Text("3")),                 Record(".", Text("4")),
            Record("a/b.txt", Text("5")),            Record("ordner\\", Text("6")),
            Record(std::string("nul\0l.txt", 9), Text("7")),
            Record("schreibgeschuetzt.txt", Text("8"), 0x21),
            Record("schreibgeschuetzt.txt", Text("9")),
            Record("datum.txt", Text("10"), 0x20, 0xFFFFFFFFu),
            Record("monat0.txt", Text("11"), 0x20, 0),
        };
        for (int i = 0; i < 20; ++i)
            names.push_back(Record("zeile" + std::to_string(i) + ".txt", Text(std::to_string(i))));
        SaveBoth(folder, "names", names, Options());

        Save(folder, "empty-archive.twx", WriteArchive(std::vector<WriterRecord>{}, Options()));
        Save(folder, "header-only.twx", BuildHeader(Options()));
        WriterOptions otherVersion = Options();
        otherVersion.version = 138;
        Save(folder, "other-version.twx", WriteArchive({Record("v.txt", Text("v"))}, otherVersion));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
