// The numbers of the .twx format, in one place for the archive reader, the
// commands and the archive writer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace twx {

// Header: signature, version, header word, CRC-32 of version and header word,
// block entry mark, block-size code.
inline constexpr char Signature[4] = {'T', 'W', 'L', 'X'};
inline constexpr std::uint16_t Version = 137;
inline constexpr char BlockEntryMark[2] = {'Q', 'Z'};
inline constexpr std::size_t HeaderSize = 17;

// BlockSize is the code times BlockSizeUnit. The reader admits sizes up to
// the transform's largest capacity, one above the largest block, which among
// multiples of the unit leaves exactly the codes 1 to MaxBlockSizeCode.
inline constexpr unsigned BlockSizeShift = 15;
inline constexpr std::uint32_t BlockSizeUnit = std::uint32_t{1} << BlockSizeShift;
inline constexpr std::uint32_t LargestAcceptedBlockSize = 2097153;
inline constexpr std::uint8_t MaxBlockSizeCode = 64;

// Block framing: transformed length L, primary index, CRC-32 of the decoded
// block, each 32 bits; L is at least the transform's shortest length.
inline constexpr std::uint32_t MinTransformLength = 32;

// First run-length code (the token stream): after FirstStageGroup equal bytes
// in a row a run token gives 0 to FirstStageMaxExtra further copies.
inline constexpr std::uint32_t FirstStageGroup = 4;
inline constexpr std::uint32_t FirstStageMaxExtra = 271;
// Tree sizes; RunTree's symbol RunTreeEscape means 16 + a RunExtensionTree symbol.
inline constexpr std::uint32_t SymbolTreeSize = 256;
inline constexpr std::uint32_t RunTreeSize = 16;
inline constexpr std::uint32_t RunExtensionTreeSize = 256;
inline constexpr std::uint32_t RunTreeEscape = 15;

// Second run-length code (inside L < BlockSize blocks): after SecondStageGroup
// equal literals in a row a 16-bit little-endian count of further copies.
inline constexpr std::uint32_t SecondStageGroup = 49;
inline constexpr std::uint32_t SecondStageCountBytes = 2;
inline constexpr std::uint32_t SecondStageMaxExtra = 65535;

// A run-length stage's threshold: equal symbols before the run, less one.
inline constexpr std::uint16_t RunThreshold(std::uint32_t group) { return static_cast<std::uint16_t>(group - 1); }

// Directory records: name length (1 byte; 0 ends the directory), size, MS-DOS
// date and time, attributes (4 bytes each), then the name.
inline constexpr std::uint32_t RecordHeaderSize = 13;
inline constexpr std::uint8_t EndMark = 0;

}  // namespace twx
