// twxwrite: writes a .twx archive from files, a manifest or a raw decoded stream.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ArchiveWriter.h"
#include "common/DosDateTime.h"

namespace {

const char* const Usage =
    "usage: twxwrite [options] OUT.twx FILE...\n"
    "       twxwrite [options] --manifest LIST OUT.twx\n"
    "       twxwrite [options] --raw-stream STREAM OUT.twx\n"
    "options:\n"
    "  -b CODE            block-size code 1..64 (block size CODE * 32768), default 1\n"
    "  --header-word N    header word, default 0\n"
    "  --version N        version field, default 137\n"
    "  --no-end-mark      leave out the end mark when the last content ends at a block end\n"
    "  --no-second-stage  store every block with its full length\n"
    "FILEs are stored under their base names with their modification time and\n"
    "attributes 0x20. A manifest line reads NAME<TAB>DATETIME<TAB>ATTRIBUTES<TAB>PATH\n"
    "(numbers in C notation, PATH empty for an empty file; '#' lines and empty lines are skipped).\n"
    "A raw stream is compressed as the decoded stream itself.\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::uint32_t ParseNumber(const std::string& text, std::uint32_t max, const char* what)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        throw UsageError(std::string("invalid ") + what + ": '" + text + "'");
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value > max)
        throw UsageError(std::string("invalid ") + what + ": '" + text + "'");
    return static_cast<std::uint32_t>(value);
}

std::vector<std::uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open '" + path + "': " + std::strerror(errno));
    std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw std::runtime_error("cannot read '" + path + "'");
    return data;
}

// Local time as MS-DOS date and time, clamped to the years 1980 to 2107.
std::uint32_t DosStampOf(std::time_t when)
{
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr)
        return 0x00210000u;  // 1 January 1980
    const int year = local.tm_year + 1900;
    if (year < 1980)
        return 0x00210000u;
    if (year > 2107)
        return 0xFF9FBF7Du;  // 31 December 2107 23:59:58
    return EncodeDosDateTime({year, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec});
}

WriterRecord RecordFromFile(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        throw std::runtime_error("cannot stat '" + path + "': " + std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        throw std::runtime_error("not a regular file: '" + path + "'");
    WriterRecord record;
    const std::size_t slash = path.find_last_of('/');
    record.storedName = slash == std::string::npos ? path : path.substr(slash + 1);
    record.dateTime = DosStampOf(info.st_mtime);
    record.attributes = 0x20;
    record.content = ReadFile(path);
    return record;
}

std::vector<WriterRecord> RecordsFromManifest(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open '" + path + "': " + std::strerror(errno));
    std::vector<WriterRecord> records;
    std::string line;
    unsigned lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');)
            fields.push_back(field);
        if (line.back() == '\t')
            fields.emplace_back();
        if (fields.size() != 4)
            throw std::runtime_error(path + ":" + std::to_string(lineNumber) + ": expected 4 tab-separated fields");
        WriterRecord record;
        record.storedName = fields[0];
        record.dateTime = ParseNumber(fields[1], 0xFFFFFFFFu, "date/time");
        record.attributes = ParseNumber(fields[2], 0xFFFFFFFFu, "attributes");
        if (!fields[3].empty())
            record.content = ReadFile(fields[3]);
        records.push_back(std::move(record));
    }
    return records;
}

void WriteOutput(const std::string& path, const std::vector<std::uint8_t>& archive)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot create '" + path + "': " + std::strerror(errno));
    out.write(reinterpret_cast<const char*>(archive.data()), static_cast<std::streamsize>(archive.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write '" + path + "'");
}

int Run(int argc, char** argv)
{
    WriterOptions options;
    std::string manifest;
    std::string rawStream;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw UsageError("missing value after " + arg);
            return argv[++i];
        };
        if (arg == "-b")
            options.blockSizeCode = static_cast<std::uint8_t>(ParseNumber(value(), 255, "block-size code"));
        else if (arg == "--header-word")
            options.headerWord = ParseNumber(value(), 0xFFFFFFFFu, "header word");
        else if (arg == "--version")
            options.version = static_cast<std::uint16_t>(ParseNumber(value(), 0xFFFFu, "version"));
        else if (arg == "--no-end-mark")
            options.omitEndMarkAtBlockEnd = true;
        else if (arg == "--no-second-stage")
            options.secondStage = SecondStage::Never;
        else if (arg == "--manifest")
            manifest = value();
        else if (arg == "--raw-stream")
            rawStream = value();
        else if (arg == "-h" || arg == "--help") {
            std::fputs(Usage, stdout);
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-')
            throw UsageError("unknown option " + arg);
        else
            positional.push_back(arg);
    }
    if (positional.empty())
        throw UsageError("no output archive given");
    if (!manifest.empty() && !rawStream.empty())
        throw UsageError("--manifest and --raw-stream exclude each other");
    if ((!manifest.empty() || !rawStream.empty()) && positional.size() != 1)
        throw UsageError("no FILE arguments with --manifest or --raw-stream");

    std::vector<std::uint8_t> archive;
    if (!rawStream.empty()) {
        archive = WriteArchive(ReadFile(rawStream), options);
    } else {
        std::vector<WriterRecord> records;
        if (!manifest.empty())
            records = RecordsFromManifest(manifest);
        for (std::size_t i = 1; i < positional.size(); ++i)
            records.push_back(RecordFromFile(positional[i]));
        archive = WriteArchive(records, options);
    }
    WriteOutput(positional[0], archive);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "twxwrite: %s\n%s", error.what(), Usage);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "twxwrite: %s\n", error.what());
    }
    return 1;
}
