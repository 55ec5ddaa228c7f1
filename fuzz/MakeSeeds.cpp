// Writes the seed archives of the fuzz corpus into a folder:
//   untwx_fuzz_seeds FOLDER
// Each seed is small and reaches a different part of the reader.
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

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    try {
        // Several records over three blocks; one spans two block ends.
        Save(folder, "three-blocks.twx",
             WriteArchive({Record("liesmich.txt", Lines(40)), Record("DATEN\\gross.bin", Lines(1500)),
                           Record("leer.txt", {}), Record("ende.txt", Text("ende\r\n"))},
                          Options()));

        Save(folder, "runs.twx", WriteArchive({Record("runs.bin", Runs())}, Options()));
        Save(folder, "long-run-code2.twx",
             WriteArchive({Record("null.bin", Repeated(0, 70000)), Record("x.txt", Text("x"))}, Options(2)));

        WriterOptions stored = Options();
        stored.secondStage = SecondStage::Never;
        Save(folder, "no-second-stage.twx", WriteArchive({Record("a.txt", Lines(3))}, stored));

        // The last content ends exactly at the block end, without an end mark.
        WriterOptions noEndMark = Options();
        noEndMark.omitEndMarkAtBlockEnd = true;
        const std::string fullName = "voll.bin";
        Save(folder, "ends-at-block-end.twx",
             WriteArchive({Record(fullName, Repeated('v', BlockSizeUnit - 13 - fullName.size()))}, noEndMark));

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
        Save(folder, "names.twx", WriteArchive(names, Options()));

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
