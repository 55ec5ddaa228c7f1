// Helpers shared by the unit, in-process, end-to-end and platform tests and
// the fuzz targets: records and their contents, a CRC-32 computed
// independently of the program's tables, the shapes of the program's output
// (hexadecimal, CR LF lines, columns) and its stop lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "ArchiveStops.h"
#include "ArchiveWriter.h"

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t JuneNoonHalf = 0x2ECF63C0;  // 15 June 2003 12:30:00

// CRC-32 from a table built bit by bit, independent of the program's tables.
std::uint32_t ReferenceCrc32(const Bytes& data);
// The same over count copies of one byte, without holding them.
std::uint32_t ReferenceCrc32OfRun(std::uint8_t value, std::uint64_t count);
// Eight upper-case hexadecimal digits.
std::string Hex8(std::uint32_t value);

Bytes Text(std::string_view text);
Bytes RandomBytes(std::size_t count, unsigned seed);

WriterRecord Record(std::string name, Bytes content, std::uint32_t attributes = 0x20,
                    std::uint32_t dateTime = JuneNoonHalf);

// Lines joined, each ending in CR LF.
std::string CrLfLines(std::initializer_list<std::string_view> lines);
std::string CrLfLines(const std::vector<std::string>& lines);
// The text followed by blanks up to width; a longer text stays whole.
std::string Padded(std::string_view text, std::size_t width);
// The number's digits after blanks up to width.
std::string RightAligned(std::uint64_t value, std::size_t width);

// A stop of the program, found by its line in the program's table.
struct StopLine {
    bool found = false;
    StopKind kind = StopKind::ReadError;
    std::string_view text;  // the stop message, within the output
};

// The last CR LF terminated line of the output; empty when there is none.
std::string_view LastLine(std::string_view output);
// The stop message that ends the output. A block CRC stop found while a row
// is being written shares that row's line.
StopLine FindStop(std::string_view output);
