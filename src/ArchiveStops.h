// The stops of the archive reader as values. A stop travels up to the front
// end, which alone prints its lines, pauses and ends the process; on the way
// the reader releases what it owns and the command discards its unfinished
// file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class StopKind : std::uint8_t {
    ReadError,
    BadSignature,
    BadHeaderCrc,
    OtherVersion,
    NoBlockMark,
    BadBlockSize,
    BlockCrc,
};

// What a stop prints: an optional line before its own, the line itself and
// whether the closing pause follows.
struct TStopText {
    StopKind Kind;
    const char* Before;     // nullptr: no line before
    std::string_view Line;  // in the block CRC line, "%s" stands for the stored and the computed CRC
    bool Pauses;
};

// The one table of stop lines, in StopKind order.
inline constexpr TStopText StopTexts[] = {
    // The empty line ends a row that was being written.
    {StopKind::ReadError, "", "Lesefehler! - Disk/Datei zerstoert?", true},
    {StopKind::BadSignature, nullptr,
     "Signatur der Datei besch\xE4"
     "digt - falsches Format?",
     false},
    {StopKind::BadHeaderCrc, nullptr, "Header CRC ungueltig - Datei zerstoert?", true},
    {StopKind::OtherVersion, "Updates dieses Programms auf http://www.tarnwell.example oder ftp://ftp.tarnwell.example",
     "Dateiversion ungeeignet - bitte entsprechende Software suchen...", true},
    {StopKind::NoBlockMark, nullptr, "Blockeinstiegspunkt kann nicht gefunden werden...", true},
    {StopKind::BadBlockSize, nullptr, "ungueltige Blockgroesse...", true},
    {StopKind::BlockCrc, nullptr, "BlockCRCFehler! (is:%s should:%s) - Abbruch, Datei zerstoert!", true},
};

// A stop: its kind and, for a block CRC stop, the CRC stored with the block
// and the one of the block as it stands.
struct TArchiveStop {
    StopKind Kind;
    std::uint32_t StoredCRC = 0;
    std::uint32_t ComputedCRC = 0;
    // For a read that failed: the system's message (native text), else empty.
    std::string Reason = {};

    const TStopText& Text() const { return StopTexts[static_cast<unsigned>(Kind)]; }
    // The stop's own line, its numbers filled in.
    std::string Line() const;
};
