// Building blocks shared by the in-process tests: record contents, a CRC-32
// computed independently of the program's tables, and text helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ArchiveWriter.h"

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t JuneNoonHalf = 0x2ECF63C0;  // 15 June 2003 12:30:00

// Bit-by-bit CRC-32, independent of the table-driven one under test.
std::uint32_t ReferenceCrc32(const Bytes& data);
// Eight upper-case hexadecimal digits.
std::string Hex8(std::uint32_t value);

Bytes Text(const std::string& text);
Bytes RandomBytes(std::size_t count, unsigned seed);

WriterRecord Record(std::string name, Bytes content, std::uint32_t attributes = 0x20,
                    std::uint32_t dateTime = JuneNoonHalf);
