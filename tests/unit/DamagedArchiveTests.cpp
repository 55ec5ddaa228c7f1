// Damaged archives, exhaustively: every truncation and every single-bit flip
// of two small archives, grouped by the part of the archive that is hit, and
// damaged directories checked against a model of the directory walk. Every
// run must restore the files exactly or end with one of the program's stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "ArchiveWriter.h"
#include "InProcessRun.h"
#include "TestSupport.h"
#include "common/DosDateTime.h"

namespace {

using FileMap = std::map<std::string, Bytes>;

constexpr std::size_t HeaderBits = HeaderSize * 8;
constexpr std::size_t FramingBits = 96;  // L, primary index, CRC

// How a run ended: with exactly the original files, by one of the
// program's stops, or in a way the promise does not allow.
enum class Ending : std::uint8_t { Restored = 0x80, Broken = 0x81 };

constexpr Ending StoppedBy(StopKind kind)
{
    return static_cast<Ending>(kind);
}

const char* Name(Ending ending)
{
    static constexpr const char* Stops[] = {"read error",      "signature stop",  "header CRC stop", "version stop",
                                            "block mark stop", "block size stop", "block CRC stop"};
    static_assert(std::size(Stops) == std::size(StopTexts));
    if (ending == Ending::Restored)
        return "restored";
    if (ending == Ending::Broken)
        return "BROKEN";
    return Stops[static_cast<unsigned>(ending)];
}

struct Verdict {
    Ending ending = Ending::Broken;
    std::string stopLine;  // the stop message, for stops
    std::string why;       // for Broken
};

// The stop that ends the output, as an ending of the damage tally.
Verdict StopOf(const std::string& output)
{
    const StopLine stop = FindStop(output);
    if (stop.found)
        return {StoppedBy(stop.kind), std::string(stop.text), {}};
    const std::string line(LastLine(output));
    return {Ending::Broken, line, "exit code 2 without a stop line; last line: '" + line + "'"};
}

std::string OutsideTarget(const std::map<std::string, platform::memory::StoredFile>& files)
{
    for (const auto& [path, file] : files) {
        const std::string name = path.size() > 4 ? path.substr(4) : std::string();
        if (path.compare(0, 4, "out/") != 0 || name.empty() || name == "." || name == ".." ||
            name.find('/') != std::string::npos)
            return path;
    }
    return {};
}

// What a run leaves for the user to see: console bytes, exit code, pauses,
// files with their dates and attributes, handles left open.
struct Observed {
    int exitCode = -1;
    std::string output;
    std::vector<std::uint32_t> pauses;
    std::map<std::string, std::tuple<Bytes, std::uint32_t, std::uint32_t, bool>> files;
    int openHandles = 0;
    bool operator==(const Observed&) const = default;
};

Observed RunWithProcessors(bool listing, const Bytes& archive, unsigned processors)
{
    const RunOutcome outcome = listing ? ListInMemory(archive, {}, processors) : ExtractInMemory(archive, processors);
    const platform::memory::State& state = platform::memory::Current();
    Observed seen;
    seen.exitCode = outcome.exitCode;
    seen.output = outcome.output;
    seen.pauses = state.pauses;
    for (const auto& [path, file] : state.files)
        seen.files[path] = {file.content, file.dosDateTime, file.attributes, file.attributesSet};
    seen.openHandles = state.openHandles;
    return seen;
}

// Runs the command with one thread, then with two and four (blocks decoded
// ahead, two and four blocks in flight). The memory platform is left as the
// last run left it.
struct ThreadRuns {
    Observed threaded;
    std::string differ;  // empty when the user sees the same
};

ThreadRuns RunWithOneAndMoreThreads(bool listing, const Bytes& archive)
{
    const Observed one = RunWithProcessors(listing, archive, 1);
    ThreadRuns runs;
    for (const unsigned threads : {2u, 4u}) {
        runs.threaded = RunWithProcessors(listing, archive, threads);
        const Observed& more = runs.threaded;
        if (!(one == more) && runs.differ.empty())
            runs.differ = std::string(listing ? "-i" : "-e") + " with one thread ends '" +
                std::string(LastLine(one.output)) + "', exit " + std::to_string(one.exitCode) + ", " +
                std::to_string(one.files.size()) + " files; with " + std::to_string(threads) + " '" +
                std::string(LastLine(more.output)) + "', exit " + std::to_string(more.exitCode) + ", " +
                std::to_string(more.files.size()) + " files";
    }
    return runs;
}

// Extracts the archive in-process, with one thread and with more, and judges
// the ending against the files the undamaged archive holds.
Verdict Extract(const Bytes& archive, const FileMap& originals)
{
    const ThreadRuns runs = RunWithOneAndMoreThreads(false, archive);
    if (!runs.differ.empty())
        return {Ending::Broken, {}, runs.differ};
    const auto& files = platform::memory::Current().files;
    const std::string outside = OutsideTarget(files);
    if (!outside.empty())
        return {Ending::Broken, {}, "file outside the target folder: '" + outside + "'"};
    const int exitCode = runs.threaded.exitCode;
    if (exitCode == 2)
        return StopOf(runs.threaded.output);
    if (exitCode != 0)
        return {Ending::Broken, {}, "exit code " + std::to_string(exitCode)};
    FileMap restored;
    for (const auto& [path, file] : files)
        restored[path] = file.content;
    if (restored != originals)
        return {Ending::Broken, {}, "exit code 0 with files that differ from the originals"};
    return {Ending::Restored, {}, {}};
}

// Collects the cases whose ending is not among those allowed; reports the
// first few of them.
class Tally {
public:
    void Record(const std::string& damage, const Verdict& verdict, std::initializer_list<Ending> allowed)
    {
        ++Cases;
        ++Counts[verdict.ending];
        for (Ending ending : allowed)
            if (verdict.ending == ending && ending != Ending::Broken)
                return;
        if (Failures.size() < 12)
            Failures.push_back(damage + ": " + Name(verdict.ending) + " " + verdict.why + verdict.stopLine);
        ++FailureCount;
    }
    void Fail(const std::string& damage, const std::string& why)
    {
        ++Cases;
        if (Failures.size() < 12)
            Failures.push_back(damage + ": " + why);
        ++FailureCount;
    }
    std::size_t Count(Ending ending) const
    {
        const auto found = Counts.find(ending);
        return found == Counts.end() ? 0 : found->second;
    }
    std::string Report() const
    {
        std::string text = std::to_string(FailureCount) + " of " + std::to_string(Cases) + " cases broke the promise";
        for (const std::string& failure : Failures)
            text += "\n  " + failure;
        return text;
    }
    std::size_t Cases = 0;
    std::size_t FailureCount = 0;

private:
    std::map<Ending, std::size_t> Counts;
    std::vector<std::string> Failures;
};

Bytes FlipBit(Bytes archive, std::size_t bit)
{
    archive[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    return archive;
}

unsigned BitAt(const Bytes& bytes, std::size_t bit)
{
    return (bytes[bit / 8] >> (bit % 8)) & 1u;
}

std::uint32_t WordAt(const Bytes& bytes, std::size_t bit)
{
    std::uint32_t value = 0;
    for (unsigned k = 0; k < 32; ++k)
        value |= static_cast<std::uint32_t>(BitAt(bytes, bit + k)) << k;
    return value;
}

// An archive with the place of each block's fields in its bit stream.
struct MappedArchive {
    std::vector<WriterRecord> records;
    Bytes bytes;
    FileMap files;                       // extracted into out/
    std::vector<BlockFields> fields;     // per block
    std::vector<std::size_t> framingAt;  // first bit of each block's fields
};

// 9 March 2000 8:00: the date of every record here.
const std::uint32_t RecordDate = EncodeDosDateTime({2000, 3, 9, 8, 0, 0});

// Text lines that differ a little, so that blocks compress well.
Bytes TextLines(std::size_t count, const std::string& word)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += word + " " + std::to_string(i % 97) + "\r\n";
    return Bytes(text.begin(), text.end());
}

// Encodes the records block by block, keeping each block's true fields,
// and finds where those fields lie in the bit stream.
MappedArchive MapArchive(const std::vector<WriterRecord>& records, const WriterOptions& options)
{
    MappedArchive mapped;
    mapped.records = records;
    ArchiveEncoder encoder(options);
    const std::uint32_t size = encoder.BlockSize();
    const Bytes stream = BuildDecodedStream(records);
    for (std::size_t offset = 0; offset < stream.size(); offset += size) {
        Bytes block(size, 0);
        std::copy(stream.begin() + static_cast<std::ptrdiff_t>(offset),
                  stream.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(offset + size, stream.size())),
                  block.begin());
        mapped.fields.push_back(encoder.EncodeBlock(block.data()));
    }
    mapped.bytes = encoder.Finish();
    for (const WriterRecord& record : records) {
        const std::size_t cut = record.storedName.find_last_of("\\:");
        mapped.files["out/" + record.storedName.substr(cut == std::string::npos ? 0 : cut + 1)] = record.content;
    }

    std::size_t from = HeaderBits;
    for (const BlockFields& f : mapped.fields) {
        const std::uint32_t words[3] = {f.length, f.primaryIndex, f.crc};
        for (std::size_t at = from; at + FramingBits <= mapped.bytes.size() * 8; ++at) {
            bool same = true;
            for (std::size_t k = 0; k < FramingBits && same; ++k)
                same = BitAt(mapped.bytes, at + k) == ((words[k / 32] >> (k % 32)) & 1u);
            if (same) {
                mapped.framingAt.push_back(at);
                from = at + FramingBits;
                break;
            }
        }
    }
    return mapped;
}

// The 57-byte sample: one block whose fields follow the header directly.
MappedArchive MappedSample()
{
    MappedArchive sample;
    sample.bytes = SampleArchive();
    sample.files["out/abc.txt"] = {'a', 'b', 'c'};
    sample.fields.push_back({74, 55, 0x61617918});
    sample.framingAt.push_back(HeaderBits);
    return sample;
}

// Several records over three blocks of code 1: the second record crosses the
// first block end, the last one the second.
MappedArchive MappedWriterArchive()
{
    Bytes pattern(40000);
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<std::uint8_t>(i % 256);
    Bytes tail(26000);
    for (std::size_t i = 0; i < tail.size(); ++i)
        tail[i] = static_cast<std::uint8_t>(i % 64 < 32 ? 'e' : '-');
    return MapArchive({Record("liesmich.txt", TextLines(20, "Zeile"), 0x20, RecordDate),
                       Record("DATEN\\muster.bin", pattern, 0x20, RecordDate), Record("leer.txt", {}, 0x20, RecordDate),
                       Record("schluss.txt", tail, 0x21, RecordDate)},
                      WriterOptions{});
}

const MappedArchive& Sample()
{
    static const MappedArchive sample = MappedSample();
    return sample;
}

const MappedArchive& WriterArchive()
{
    static const MappedArchive archive = MappedWriterArchive();
    return archive;
}

bool InFraming(const MappedArchive& archive, std::size_t bit)
{
    for (std::size_t at : archive.framingAt)
        if (bit >= at && bit < at + FramingBits)
            return true;
    return false;
}

struct ArchiveCase {
    const char* name;
    const MappedArchive& (*archive)();
};

const ArchiveCase Archives[] = {{"sample", Sample}, {"writer archive", WriterArchive}};

}  // namespace

TEST(DamagedArchiveSetUp, BothArchivesRestoreAndTheirBlockFieldsAreLocated)
{
    const MappedArchive& writer = WriterArchive();
    EXPECT_EQ(writer.bytes, WriteArchive(writer.records, WriterOptions{}));
    EXPECT_EQ(writer.fields.size(), 3u);
    EXPECT_LT(writer.bytes.size(), 1400u) << "keep the exhaustive runs fast";
    for (const ArchiveCase& c : Archives) {
        const MappedArchive& archive = c.archive();
        EXPECT_EQ(Extract(archive.bytes, archive.files).ending, Ending::Restored) << c.name;
        ASSERT_EQ(archive.framingAt.size(), archive.fields.size()) << c.name;
        EXPECT_EQ(archive.framingAt.front(), HeaderBits) << c.name;
        for (std::size_t b = 0; b < archive.fields.size(); ++b)
            EXPECT_EQ(WordAt(archive.bytes, archive.framingAt[b]), archive.fields[b].length)
                << c.name << " block " << b;
    }
}

TEST(DamagedArchiveTruncation, EveryShorterLengthEndsWithTheReadError)
{
    for (const ArchiveCase& c : Archives) {
        const MappedArchive& archive = c.archive();
        Tally tally;
        for (std::size_t length = 0; length < archive.bytes.size(); ++length) {
            const Bytes cut(archive.bytes.begin(), archive.bytes.begin() + static_cast<std::ptrdiff_t>(length));
            const std::string damage = "cut to " + std::to_string(length) + " bytes";
            if (length == HeaderSize + 1)
                // A header and a single byte is, by the format, an archive without records.
                tally.Record(damage, Extract(cut, FileMap{}), {Ending::Restored});
            else
                tally.Record(damage, Extract(cut, archive.files), {StoppedBy(StopKind::ReadError)});
        }
        EXPECT_EQ(tally.FailureCount, 0u) << c.name << ": " << tally.Report();
    }
}

TEST(DamagedArchiveTruncation, ListingOfEveryShorterArchiveEndsWithTheReadError)
{
    for (const ArchiveCase& c : Archives) {
        const Bytes& bytes = c.archive().bytes;
        std::size_t afterRows = 0;
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            if (length == HeaderSize + 1)
                continue;  // an archive without records
            const ThreadRuns runs = RunWithOneAndMoreThreads(
                true, Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)));
            EXPECT_EQ(runs.differ, "") << c.name << " cut to " << length;
            EXPECT_EQ(runs.threaded.exitCode, 2) << c.name << " cut to " << length;
            EXPECT_EQ(StopOf(runs.threaded.output).ending, StoppedBy(StopKind::ReadError)) << c.name << " cut to " << length;
            EXPECT_EQ(runs.threaded.openHandles, 0) << c.name << " cut to " << length;
            afterRows += runs.threaded.output.find("liesmich.txt") != std::string::npos;
        }
        // Cuts in the later blocks stop after the rows of the earlier ones,
        // where the worker has met the end of the archive ahead of the listing.
        if (c.archive().fields.size() > 1) {
            EXPECT_GT(afterRows, bytes.size() / 3) << c.name;
        }
    }
}

TEST(DamagedArchiveHeader, EveryFlippedBitStopsWithTheMessageOfItsField)
{
    for (const ArchiveCase& c : Archives) {
        const MappedArchive& archive = c.archive();
        Tally tally;
        for (std::size_t bit = 0; bit < HeaderBits; ++bit) {
            const std::size_t byte = bit / 8;
            const Verdict verdict = Extract(FlipBit(archive.bytes, bit), archive.files);
            const std::string damage = "header bit " + std::to_string(bit);
            if (byte < 4) {
                tally.Record(damage, verdict, {StoppedBy(StopKind::BadSignature)});
            } else if (byte < 14) {
                // Version, header word and stored CRC are all covered by the CRC.
                tally.Record(damage, verdict, {StoppedBy(StopKind::BadHeaderCrc)});
            } else if (byte < 16) {
                tally.Record(damage, verdict, {StoppedBy(StopKind::NoBlockMark)});
            } else if (bit % 8 == 0 || bit % 8 >= 6) {
                // Code 1 becomes 0, 65 or 129.
                tally.Record(damage, verdict, {StoppedBy(StopKind::BadBlockSize)});
            } else {
                // A valid but wrong block size.
                tally.Record(damage, verdict, {StoppedBy(StopKind::BlockCrc), StoppedBy(StopKind::ReadError)});
            }
        }
        EXPECT_EQ(tally.FailureCount, 0u) << c.name << ": " << tally.Report();
    }
}

TEST(DamagedArchiveBlockFraming, FlippedLengthOrIndexBitsStopTheBlock)
{
    for (const ArchiveCase& c : Archives) {
        const MappedArchive& archive = c.archive();
        Tally tally;
        for (std::size_t b = 0; b < archive.framingAt.size(); ++b)
            for (std::size_t k = 0; k < 64; ++k)
                tally.Record("block " + std::to_string(b) + (k < 32 ? " length bit " : " index bit ") +
                                 std::to_string(k % 32),
                             Extract(FlipBit(archive.bytes, archive.framingAt[b] + k), archive.files),
                             {StoppedBy(StopKind::BlockCrc), StoppedBy(StopKind::ReadError)});
        EXPECT_EQ(tally.FailureCount, 0u) << c.name << ": " << tally.Report();
    }
}

TEST(DamagedArchiveBlockFraming, FlippedCrcBitIsReportedAgainstTheTrueCrc)
{
    for (const ArchiveCase& c : Archives) {
        const MappedArchive& archive = c.archive();
        Tally tally;
        for (std::size_t b = 0; b < archive.framingAt.size(); ++b) {
            for (unsigned k = 0; k < 32; ++k) {
                const std::string damage = "block " + std::to_string(b) + " CRC bit " + std::to_string(k);
                const Verdict verdict = Extract(FlipBit(archive.bytes, archive.framingAt[b] + 64 + k), archive.files);
                const std::uint32_t stored = archive.fields[b].crc ^ (1u << k);
                const std::string expected = "BlockCRCFehler! (is:" + Hex8(stored) + " should:" +
                                             Hex8(archive.fields[b].crc) + ") - Abbruch, Datei zerstoert!";
                if (verdict.ending != StoppedBy(StopKind::BlockCrc) || verdict.stopLine != expected)
                    tally.Fail(damage, std::string(Name(verdict.ending)) + " '" + verdict.stopLine + "'" + verdict.why);
                else
                    ++tally.Cases;
            }
        }
        EXPECT_EQ(tally.FailureCount, 0u) << c.name << ": " << tally.Report();
    }
}

TEST(DamagedArchiveTokenStream, EveryFlippedBitRestoresOrStops)
{
    for (const ArchiveCase& c : Archives) {
        const MappedArchive& archive = c.archive();
        Tally tally;
        for (std::size_t bit = HeaderBits; bit < archive.bytes.size() * 8; ++bit) {
            if (InFraming(archive, bit))
                continue;
            tally.Record("token bit " + std::to_string(bit), Extract(FlipBit(archive.bytes, bit), archive.files),
                         {Ending::Restored, StoppedBy(StopKind::BlockCrc), StoppedBy(StopKind::ReadError)});
        }
        EXPECT_EQ(tally.FailureCount, 0u) << c.name << ": " << tally.Report();
        // Flips that restore hit padding bits, or lower the second-stage count
        // of the zeros that end a block (the zeros after the coded block decode
        // to the same bytes); the block CRC catches most of the others.
        EXPECT_GT(tally.Count(StoppedBy(StopKind::BlockCrc)), tally.Cases / 2) << c.name;
    }
}

namespace {

// Blocks of code 1 holding mostly random bytes: the archive spans about ten
// input chunks, and block ends fall anywhere within them.
const MappedArchive& ManyChunkArchive()
{
    static const MappedArchive archive = [] {
        std::mt19937 random(4711);
        Bytes noise(240 * 1024);
        for (auto& b : noise)
            b = static_cast<std::uint8_t>(random());
        return MapArchive({Record("rauschen.bin", noise), Record("text.txt", TextLines(3000, "Zeile")),
                           Record("ende.bin", Bytes(noise.begin(), noise.begin() + 50000))},
                          WriterOptions{});
    }();
    return archive;
}

// Positions to damage: around every input chunk boundary, plus seeded random
// ones from `from` on; a bounded set, so that the runs stay fast.
std::vector<std::size_t> SampledPositions(std::size_t from, std::size_t end, std::size_t chunk, unsigned seed)
{
    std::vector<std::size_t> positions;
    for (std::size_t boundary = chunk; boundary < end; boundary += chunk)
        for (std::size_t at : {boundary - 1, boundary, boundary + 1})
            if (at >= from && at < end)
                positions.push_back(at);
    std::mt19937 random(seed);
    for (int i = 0; i < 24; ++i)
        positions.push_back(from + random() % (end - from));
    return positions;
}

}  // namespace

TEST(DamagedArchiveLongerThanAChunk, SampledTruncationsEndWithTheReadError)
{
    const MappedArchive& archive = ManyChunkArchive();
    ASSERT_GT(archive.bytes.size(), 8u * BlockSizeUnit) << "the archive must span several input chunks";
    ASSERT_EQ(Extract(archive.bytes, archive.files).ending, Ending::Restored);
    Tally tally;
    for (std::size_t length : SampledPositions(HeaderSize + 2, archive.bytes.size(), BlockSizeUnit, 1)) {
        const Bytes cut(archive.bytes.begin(), archive.bytes.begin() + static_cast<std::ptrdiff_t>(length));
        tally.Record("cut to " + std::to_string(length) + " bytes", Extract(cut, archive.files),
                     {StoppedBy(StopKind::ReadError)});
    }
    EXPECT_EQ(tally.FailureCount, 0u) << tally.Report();
}

TEST(DamagedArchiveLongerThanAChunk, SampledFlippedBitsRestoreOrStop)
{
    const MappedArchive& archive = ManyChunkArchive();
    Tally tally;
    for (std::size_t bit : SampledPositions(HeaderBits, archive.bytes.size() * 8, BlockSizeUnit * 8, 2))
        tally.Record("bit " + std::to_string(bit), Extract(FlipBit(archive.bytes, bit), archive.files),
                     {Ending::Restored, StoppedBy(StopKind::BlockCrc), StoppedBy(StopKind::ReadError)});
    EXPECT_EQ(tally.FailureCount, 0u) << tally.Report();
    EXPECT_GT(tally.Count(StoppedBy(StopKind::BlockCrc)), tally.Cases / 2);
}

namespace {

struct ModelEnding {
    bool readError = false;
    bool someFailed = false;
    FileMap files;
};

std::uint32_t LittleEndian32(const Bytes& bytes, std::size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// What extracting a decoded stream must give: records one after the other
// over the zero-padded blocks, up to the end mark or the end of the last
// block; a record that runs past the last block is a read error. A file is
// written only under a plain name, and never over a read-only one.
ModelEnding WalkModel(Bytes stream, std::uint32_t blockSize)
{
    stream.resize((stream.size() + blockSize - 1) / blockSize * blockSize, 0);
    ModelEnding model;
    std::map<std::string, bool> readOnly;
    std::size_t at = 0;
    while (at < stream.size()) {
        const std::size_t nameLength = stream[at++];
        if (nameLength == 0)
            break;
        if (stream.size() - at < 12 + nameLength) {
            model.readError = true;
            break;
        }
        const std::uint32_t size = LittleEndian32(stream, at);
        const std::uint32_t attributes = LittleEndian32(stream, at + 8);
        const std::string name(stream.begin() + static_cast<std::ptrdiff_t>(at + 12),
                               stream.begin() + static_cast<std::ptrdiff_t>(at + 12 + nameLength));
        at += 12 + nameLength;
        if (stream.size() - at < size) {
            model.readError = true;
            break;
        }
        const Bytes content(stream.begin() + static_cast<std::ptrdiff_t>(at),
                            stream.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;

        const std::size_t cut = name.find_last_of("\\:");
        const std::string shown = cut == std::string::npos ? name : name.substr(cut + 1);
        const bool plain = !shown.empty() && shown != "." && shown != ".." &&
                           shown.find('/') == std::string::npos && shown.find('\0') == std::string::npos;
        const std::string path = "out/" + shown;
        if (!plain || readOnly[path]) {
            model.someFailed = true;
            continue;
        }
        model.files[path] = content;
        readOnly[path] = (attributes & 1u) != 0;
    }
    return model;
}

struct DirectoryField {
    std::size_t offset;  // in the decoded stream
    std::size_t size;
    std::string what;
};

}  // namespace

TEST(DamagedArchiveDirectory, EveryFlippedDirectoryBitExtractsAsTheModelSays)
{
    // Valid blocks around a damaged directory: names that leave the folder,
    // read-only files overwritten, sizes past the last block.
    const std::vector<WriterRecord> records = {
        Record("a.txt", TextLines(3, "eins"), 0x20, RecordDate),
        Record("ordner\\b.txt", TextLines(30, "zwei"), 0x20, RecordDate),
        Record("c.txt", {'c', 'c', 'c'}, 0x21, RecordDate), Record("c.txt", {'x'}, 0x20, RecordDate)};
    const Bytes stream = BuildDecodedStream(records);
    const WriterOptions options;
    const std::uint32_t blockSize = options.blockSizeCode * BlockSizeUnit;

    std::vector<DirectoryField> fields;
    std::size_t at = 0;
    for (const WriterRecord& record : records) {
        fields.push_back({at, 13 + record.storedName.size(), "record '" + record.storedName + "'"});
        at += 13 + record.storedName.size() + record.content.size();
    }
    fields.push_back({at, 1, "end mark"});

    const ModelEnding undamaged = WalkModel(stream, blockSize);
    ASSERT_TRUE(undamaged.someFailed) << "the second c.txt meets a read-only file";
    ASSERT_EQ(undamaged.files.size(), 3u);

    Tally tally;
    std::size_t readErrors = 0, failures = 0;
    for (const DirectoryField& field : fields) {
        for (std::size_t byte = field.offset; byte < field.offset + field.size; ++byte) {
            for (unsigned bit = 0; bit < 8; ++bit) {
                Bytes damaged = stream;
                damaged[byte] ^= static_cast<std::uint8_t>(1u << bit);
                const std::string damage = field.what + " byte " + std::to_string(byte - field.offset) + " bit " +
                                           std::to_string(bit);
                const ModelEnding model = WalkModel(damaged, blockSize);
                const ThreadRuns runs = RunWithOneAndMoreThreads(false, WriteArchive(damaged, options));
                if (!runs.differ.empty()) {
                    tally.Fail(damage, runs.differ);
                    continue;
                }
                const Observed& outcome = runs.threaded;
                const auto& files = platform::memory::Current().files;
                const std::string outside = OutsideTarget(files);
                if (!outside.empty()) {
                    tally.Fail(damage, "file outside the target folder: '" + outside + "'");
                    continue;
                }
                if (model.readError) {
                    ++readErrors;
                    tally.Record(damage, outcome.exitCode == 2 ? StopOf(outcome.output) : Verdict{},
                                 {StoppedBy(StopKind::ReadError)});
                    continue;
                }
                failures += model.someFailed;
                FileMap written;
                for (const auto& [path, file] : files)
                    written[path] = file.content;
                if (outcome.exitCode != (model.someFailed ? 1 : 0))
                    tally.Fail(damage, "exit code " + std::to_string(outcome.exitCode) + ", last line '" +
                                           std::string(LastLine(outcome.output)) + "'");
                else if (written != model.files)
                    tally.Fail(damage, "extracted files differ from the model");
                else
                    ++tally.Cases;
            }
        }
    }
    EXPECT_EQ(tally.FailureCount, 0u) << tally.Report();
    // The damage reaches both kinds of ending.
    EXPECT_GT(readErrors, 0u);
    EXPECT_GT(failures, 0u);
}

namespace {

// Header, then one block written field by field: crafted blocks that the
// writer's own encoder would never produce.
struct BlockCrafter {
    explicit BlockCrafter(std::uint8_t code = 1)
    {
        WriterOptions options;
        options.blockSizeCode = code;
        for (std::uint8_t byte : BuildHeader(options))
            Out.WriteBits(byte, 8);
    }
    void Fields(std::uint32_t length, std::uint32_t primaryIndex, std::uint32_t crc)
    {
        Out.WriteBits(length, 32);
        Out.WriteBits(primaryIndex, 32);
        Out.WriteBits(crc, 32);
    }
    Bytes Finish() { return Out.TakeBytes(); }

    BitWriter Out;
    TokenEncoder Tokens;
};

const Bytes& ZeroBlock()
{
    static const Bytes zeros(BlockSizeUnit, 0);
    return zeros;
}

// The decoded stream of a zero block is an empty directory: restoring it
// extracts nothing and ends normally.
void ExpectEmptyDirectory(const Bytes& archive)
{
    const ThreadRuns runs = RunWithOneAndMoreThreads(false, archive);
    EXPECT_EQ(runs.differ, "");
    EXPECT_EQ(runs.threaded.exitCode, 0) << runs.threaded.output;
    EXPECT_TRUE(runs.threaded.files.empty());
}

void ExpectBlockCrcStop(const Bytes& archive, std::uint32_t storedCrc)
{
    for (bool listing : {true, false}) {
        const ThreadRuns runs = RunWithOneAndMoreThreads(listing, archive);
        EXPECT_EQ(runs.differ, "");
        const Observed& outcome = runs.threaded;
        EXPECT_EQ(outcome.exitCode, 2);
        const Verdict verdict = StopOf(outcome.output);
        EXPECT_EQ(verdict.ending, StoppedBy(StopKind::BlockCrc)) << outcome.output;
        EXPECT_EQ(verdict.stopLine.rfind("BlockCRCFehler! (is:" + Hex8(storedCrc) + " should:", 0), 0u)
            << verdict.stopLine;
    }
}

}  // namespace

namespace {

// One block holding a small record.
Bytes OneRecordBlock()
{
    const Bytes stream = BuildDecodedStream({Record("a.txt", TextLines(5, "a"), 0x20, RecordDate)});
    Bytes block(BlockSizeUnit, 0);
    std::copy(stream.begin(), stream.end(), block.begin());
    return block;
}

// A block's length or primary index set to value, or to the block's true
// length plus value where fromLength.
struct DamagedField {
    bool primaryIndex;
    std::uint32_t value;
    bool fromLength;
};

class DamagedArchiveBlockField : public testing::TestWithParam<DamagedField> {};

}  // namespace

TEST(DamagedArchiveBlockFields, TheUndamagedBlockRestores)
{
    ArchiveEncoder encoder{WriterOptions{}};
    encoder.EncodeBlock(OneRecordBlock().data());
    EXPECT_EQ(ExtractInMemory(encoder.Finish()).exitCode, 0);
    EXPECT_EQ(platform::memory::Current().files.size(), 1u);
}

TEST_P(DamagedArchiveBlockField, IsABlockCrcStop)
{
    const DamagedField& damage = GetParam();
    const Bytes block = OneRecordBlock();
    ArchiveEncoder probe{WriterOptions{}};
    const std::uint32_t value = damage.fromLength ? probe.EncodeBlock(block.data()).length + damage.value : damage.value;
    BlockFieldOverrides overrides;
    (damage.primaryIndex ? overrides.primaryIndex : overrides.length) = value;
    ArchiveEncoder encoder{WriterOptions{}};
    const BlockFields fields = encoder.EncodeBlock(block.data(), overrides);
    ExpectBlockCrcStop(encoder.Finish(), fields.crc);
}

// A length above the block size; a primary index not below the length.
INSTANTIATE_TEST_SUITE_P(LengthAndPrimaryIndex, DamagedArchiveBlockField,
                         testing::Values(DamagedField{false, BlockSizeUnit + 1, false},
                                         DamagedField{false, 2 * BlockSizeUnit, false},
                                         DamagedField{false, 0xFFFFFFFFu, false}, DamagedField{true, 0, true},
                                         DamagedField{true, 1, true}, DamagedField{true, BlockSizeUnit, false},
                                         DamagedField{true, 0xFFFFFFFFu, false}));

TEST(DamagedArchiveBlockFields, FirstStageRunPastTheLengthIsABlockCrcStop)
{
    // A zero block stored whole: its last run token asks for 146 more copies
    // where only 96 fit. Cutting the run quietly would restore a valid block.
    const std::uint32_t crc = ReferenceCrc32(ZeroBlock());
    BlockCrafter intact;
    intact.Fields(BlockSizeUnit, 0, crc);
    intact.Tokens.Encode(ZeroBlock().data(), BlockSizeUnit, intact.Out);
    ExpectEmptyDirectory(intact.Finish());

    BlockCrafter overflowing;
    overflowing.Fields(BlockSizeUnit, 0, crc);
    overflowing.Tokens.Encode(ZeroBlock().data(), BlockSizeUnit - 100, overflowing.Out);
    overflowing.Tokens.Encode(ZeroBlock().data(), 150, overflowing.Out);
    ExpectBlockCrcStop(overflowing.Finish(), crc);
}

TEST(DamagedArchiveBlockFields, SecondStageRunPastTheBlockIsABlockCrcStop)
{
    // The second stage's code: 49 zeros and a count of further zeros.
    // 32719 fills the block exactly; 65535 runs past it.
    const std::uint32_t crc = ReferenceCrc32(ZeroBlock());
    for (const std::uint32_t count : {BlockSizeUnit - 49, 0xFFFFu}) {
        Bytes coded(49, 0);
        coded.push_back(static_cast<std::uint8_t>(count));
        coded.push_back(static_cast<std::uint8_t>(count >> 8));
        Bytes transformed(coded.size());
        std::uint32_t primaryIndex = 0;
        BlockSorter().Transform(coded.data(), static_cast<std::uint32_t>(coded.size()), transformed.data(),
                                primaryIndex);
        BlockCrafter crafter;
        crafter.Fields(static_cast<std::uint32_t>(coded.size()), primaryIndex, crc);
        crafter.Tokens.Encode(transformed.data(), static_cast<std::uint32_t>(transformed.size()), crafter.Out);
        SCOPED_TRACE(count);
        if (count == BlockSizeUnit - 49)
            ExpectEmptyDirectory(crafter.Finish());
        else
            ExpectBlockCrcStop(crafter.Finish(), crc);
    }
}

TEST(DamagedArchiveBlockSize, LargestCodeFollowedByGarbageStopsInItsFirstBlock)
{
    std::mt19937 random(20240517);
    auto garbage = [&random](std::size_t size, bool zeros) {
        Bytes bytes(size);
        for (auto& b : bytes)
            b = zeros ? 0 : static_cast<std::uint8_t>(random());
        return bytes;
    };
    WriterOptions largest;
    largest.blockSizeCode = 64;
    const std::uint32_t blockSize = 64 * BlockSizeUnit;

    std::vector<std::pair<std::string, Bytes>> archives;
    archives.emplace_back("random bytes", BuildHeader(largest));
    const Bytes tail = garbage(4096, false);
    archives.back().second.insert(archives.back().second.end(), tail.begin(), tail.end());
    // A full-size length makes the first stage decode the garbage as tokens.
    for (bool zeros : {false, true}) {
        BlockCrafter crafter(64);
        crafter.Fields(blockSize, 12345, 0xDEADBEEF);
        for (std::uint8_t byte : garbage(60000, zeros))
            crafter.Out.WriteBits(byte, 8);
        archives.emplace_back(zeros ? "full length, zero tokens" : "full length, random tokens", crafter.Finish());
    }

    // The work is bounded: the six header fields and the one input chunk the
    // archive fills are read once each (the fill reads on until a read of 0
    // bytes, and one more read finds the end), and
    // a block CRC stop names the first block's stored CRC, so no second block
    // was decoded. A hang is left to the test's timeout.
    constexpr std::uint32_t HeaderFieldReads = 6;
    for (const auto& [what, archive] : archives) {
        ASSERT_LT(archive.size(), blockSize);
        const std::string firstBlockStop = "BlockCRCFehler! (is:" + Hex8(WordAt(archive, HeaderBits + 64)) + " should:";
        for (bool listing : {true, false}) {
            const RunOutcome outcome = listing ? ListInMemory(archive) : ExtractInMemory(archive);
            const Verdict verdict = StopOf(outcome.output);
            const auto& state = platform::memory::Current();
            const std::string run = what + (listing ? " listed" : " extracted");
            EXPECT_EQ(outcome.exitCode, 2) << run;
            EXPECT_TRUE(verdict.ending == StoppedBy(StopKind::BlockCrc) || verdict.ending == StoppedBy(StopKind::ReadError))
                << run << ": " << Name(verdict.ending);
            if (verdict.ending == StoppedBy(StopKind::BlockCrc)) {
                EXPECT_EQ(verdict.stopLine.rfind(firstBlockStop, 0), 0u) << run << ": " << verdict.stopLine;
            }
            EXPECT_EQ(state.bytesRead, archive.size()) << run;
            EXPECT_LE(state.reads, HeaderFieldReads + 3) << run;
        }
    }
}
