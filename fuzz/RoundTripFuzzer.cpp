// Round-trip fuzz entry: the input describes records and writer options; the
// writer makes an archive of them, and one command must give back exactly
// those records: the extraction every file with its content, date and
// attributes, the listing every row with its name, date, size and CRC-32.
// The readers (one per block size) and the writer are kept from input to
// input; the reader decodes with one thread.
//
// Input: one byte of options (bits 0-2: block-size code, mostly 1; bit 3: no
// second stage; bit 4: extract, else list; bit 5: long contents), then per
// record a name length, an attribute byte, four date bytes, a content kind
// and a content size (two bytes), then the name and the content bytes.
// Missing bytes read as 0.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ArchiveReader.h"
#include "ArchiveWriter.h"
#include "InProcessRun.h"
#include "TestSupport.h"
#include "common/CodePage.h"
#include "common/DosDateTime.h"
#include "platform/Platform.h"

namespace {

namespace memory = platform::memory;

// Few enough rows that the listing never pauses for a page.
constexpr std::size_t MaxRecords = 16;
// Long contents come from short inputs by repetition. With bit 5 of the
// options their total may cross a block end of the smallest blocks;
// without, it stays a few KiB, and most runs are fast.
constexpr std::size_t ShortTotalContent = 4 * 1024;
constexpr std::size_t LongTotalContent = 48 * 1024;
constexpr std::size_t NameColumn = 41;

class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size) : Data(data), Size(size) {}
    bool AtEnd() const { return At >= Size; }
    std::uint8_t Byte() { return At < Size ? Data[At++] : 0; }
    // count bytes as count calls of Byte would give them.
    void CopyBytes(std::uint8_t* out, std::size_t count)
    {
        const std::size_t available = std::min(count, Left());
        std::copy_n(Data + At, available, out);
        std::fill_n(out + available, count - available, std::uint8_t{0});
        At += available;
    }
    void Skip(std::size_t count) { At += std::min(count, Left()); }
    std::uint32_t Word(unsigned bytes)
    {
        std::uint32_t value = 0;
        for (unsigned i = 0; i < bytes; ++i)
            value |= static_cast<std::uint32_t>(Byte()) << (8 * i);
        return value;
    }

private:
    std::size_t Left() const { return Size - At; }  // At never passes Size

    const std::uint8_t* Data;
    std::size_t Size;
    std::size_t At = 0;
};

// A name whose last part is unique and plain, so that every record becomes
// its own file and its own listing row: "r<index>_" and the input's bytes
// without separators and without the bytes a console shows as '?' (control
// characters, those Windows-1252 leaves undefined), after an optional folder
// or drive part that extraction drops.
std::string NameOf(std::size_t index, InputReader& in)
{
    const unsigned length = in.Byte() % 24;
    const unsigned prefix = in.Byte() % 4;
    std::string name = prefix == 1 ? "ORDNER\\" : prefix == 2 ? "C:" : "";
    name += 'r';
    name += std::to_string(index);
    name += '_';
    for (unsigned i = 0; i < length; ++i) {
        const std::uint8_t c = in.Byte();
        const bool shownAsIs = c >= 0x20 && c != 0x7F && !IsUndefinedIn1252(c);
        name += (!shownAsIs || c == '/' || c == '\\' || c == ':') ? '_' : static_cast<char>(c);
    }
    return name;
}

Bytes ContentOf(InputReader& in, std::size_t budget)
{
    const std::uint8_t kind = in.Byte() % 4;
    std::size_t size = in.Word(2);
    if (kind >= 2)
        size *= 2;  // long runs and patterns that cross block ends
    if (size > budget)
        size = budget;
    // Filled in bulk: a loop per byte would trace a comparison per byte.
    Bytes content(size);
    if (kind == 0) {  // the input's bytes
        in.CopyBytes(content.data(), size);
    } else if (kind == 1 || kind == 2) {  // a pattern of up to 16 bytes, doubled until it fills
        const std::size_t period = 1 + in.Byte() % 16;
        const std::size_t first = std::min(period, size);
        in.CopyBytes(content.data(), first);
        in.Skip(period - first);
        for (std::size_t filled = first; filled < size; filled *= 2)
            std::copy_n(content.begin(), std::min(filled, size - filled), content.begin() + filled);
    } else {  // runs of growing length
        std::uint8_t value = in.Byte();
        for (std::size_t i = 0, run = 1; i < size; i += run, ++run, ++value)
            std::fill_n(content.begin() + i, std::min(run, size - i), value);
    }
    return content;
}

[[noreturn]] void Fail(const char* what, const std::string& detail, const std::string& output)
{
    std::fprintf(stderr, "\nround trip: %s: %s\n--- output ---\n%s\n", what, detail.c_str(), output.c_str());
    std::abort();
}

std::string DisplayNameOf(const std::string& stored)
{
    const std::size_t cut = stored.find_last_of("\\:");
    return cut == std::string::npos ? stored : stored.substr(cut + 1);
}

// The date column: the platform's date, and its time unless it is midnight,
// or the marker of an invalid stamp.
bool DateColumnFits(std::string_view column, std::uint32_t stamp)
{
    const std::optional<DosDateTime> t = DecodeDosDateTime(stamp);
    if (!t)
        return column == "--.--.---- --:--:--";
    const std::string date = platform::FormatDate(t->year, t->month, t->day);
    return column == date || column == date + " " + platform::FormatTime(t->hour, t->minute, t->second);
}

void CheckListing(TArchiveReader& reader, const std::vector<WriterRecord>& records, std::uint32_t blockSize)
{
    const RunOutcome run = RunInProcess({"-i", "a.twx"}, &reader);
    if (run.exitCode != 0)
        Fail("listing", "exit code " + std::to_string(run.exitCode), run.output);
    std::string_view rest = run.output;
    const std::string head = CrLfLines({"Blockgroesse: " + std::to_string(blockSize) + " Bytes", ""});
    if (!rest.starts_with(head))
        Fail("listing", "heading", run.output);
    rest.remove_prefix(head.size());
    // The column titles and a blank line, then one row per record.
    for (int skip = 0; skip < 2; ++skip)
        rest.remove_prefix(rest.find("\r\n") + 2);
    for (const WriterRecord& record : records) {
        const std::size_t end = rest.find("\r\n");
        if (end == std::string_view::npos)
            Fail("listing", "row missing for '" + record.storedName + "'", run.output);
        const std::string_view row = rest.substr(0, end);
        rest.remove_prefix(end + 2);
        const std::string name = Padded(DisplayNameOf(record.storedName), NameColumn) + " ";
        const std::string tail = " " + RightAligned(record.content.size(), 8).append(" ") +
                                 Hex8(ReferenceCrc32(record.content));
        if (!row.starts_with(name) || !row.ends_with(tail) || row.size() < name.size() + tail.size() ||
            !DateColumnFits(row.substr(name.size(), row.size() - name.size() - tail.size()), record.dateTime))
            Fail("listing", "row of '" + record.storedName + "': '" + std::string(row) + "'", run.output);
    }
    if (!rest.empty())
        Fail("listing", "text after the last row", run.output);
}

void CheckExtraction(TArchiveReader& reader, const std::vector<WriterRecord>& records)
{
    const RunOutcome run = RunInProcess({"-e", "a.twx", "out"}, &reader);
    if (run.exitCode != 0)
        Fail("extraction", "exit code " + std::to_string(run.exitCode), run.output);
    const auto& files = memory::Current().files;
    if (files.size() != records.size())
        Fail("extraction", std::to_string(files.size()) + " files for " + std::to_string(records.size()) + " records",
             run.output);
    for (const WriterRecord& record : records) {
        const auto found = files.find("out/" + DisplayNameOf(record.storedName));
        if (found == files.end())
            Fail("extraction", "no file for '" + record.storedName + "'", run.output);
        const memory::StoredFile& file = found->second;
        const bool validDate = DecodeDosDateTime(record.dateTime).has_value();
        if (file.content != record.content)
            Fail("extraction", "content of '" + record.storedName + "'", run.output);
        if (file.dosDateTime != (validDate ? record.dateTime : 0) || !file.attributesSet ||
            file.attributes != record.attributes)
            Fail("extraction", "date or attributes of '" + record.storedName + "'", run.output);
    }
    if (memory::Current().openHandles != 0)
        Fail("extraction", "a handle is still open", run.output);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Reachable for the whole run, released with the process.
    static ArchiveWriter& writer = *new ArchiveWriter;
    InputReader in(data, size);
    const std::uint8_t flags = in.Byte();
    static constexpr std::uint8_t Codes[8] = {1, 1, 1, 1, 1, 2, 3, 4};
    WriterOptions options;
    options.blockSizeCode = Codes[flags & 7];
    TArchiveReader& reader =
        KeptReaderFor(options.blockSizeCode, std::string_view(reinterpret_cast<const char*>(data), size));
    options.secondStage = (flags & 8) ? SecondStage::Never : SecondStage::Automatic;

    std::vector<WriterRecord> records;
    std::size_t budget = (flags & 32) ? LongTotalContent : ShortTotalContent;
    while (!in.AtEnd() && records.size() < MaxRecords) {
        WriterRecord record;
        record.storedName = NameOf(records.size(), in);
        record.attributes = in.Byte();
        record.dateTime = in.Word(4);
        record.content = ContentOf(in, budget);
        budget -= record.content.size();
        records.push_back(std::move(record));
    }

    memory::Reset();
    memory::Current().archives["a.twx"] = writer.Write(records, options);
    // One pipeline: the threads target compares it with several threads.
    memory::Current().processors = 1;
    if (flags & 16)
        CheckExtraction(reader, records);
    else
        CheckListing(reader, records, options.blockSizeCode * BlockSizeUnit);
    memory::Reset();
    return 0;
}
