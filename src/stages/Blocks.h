// Fixed-capacity byte buffer with a least-significant-bit-first reader that
// refills itself through OnFill when the reader runs past UsedLength.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "CRCs.h"

// Writes up to capacity bytes at buffer and stores the number delivered.
using TFillProc = void (*)(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& delivered);

// The bit window reads the content as one little-endian word.
static_assert(std::endian::native == std::endian::little);

class TBlock {
public:
    static constexpr std::uint32_t MaxCapacity = 0x200000;

    std::uint8_t Flags = 0;        // bit 7: construction failed
    std::uint32_t Capacity = 0;
    std::uint8_t BitIndex = 0;     // next bit of Data[Cursor]; 8 = that byte is used up
    std::uint32_t Cursor = 0;
    std::uint32_t UsedLength = 0;
    std::uint8_t* Data = nullptr;
    TCRC* CRC = nullptr;
    std::uint8_t Status = 0;       // 0, 162 (length, position or no data), 164, 165
    TFillProc OnFill = nullptr;

    static TBlock* Create(std::uint32_t capacity);
    void Init(std::uint32_t capacity);
    void Done() { Release(); }
    void Release();

    void SetUsedLength(std::uint32_t n);
    void Rewind() { BitIndex = 0; Cursor = 0; }
    void Clear();
    void ComputeCRC();
    void Seek(std::uint32_t pos);

    std::uint8_t ReadBit()
    {
        Status = 0;
        if (BitIndex > 7) {
            BitIndex = 0;
            ++Cursor;
        }
        if (Cursor >= UsedLength && !Refill())
            return 0;
        return static_cast<std::uint8_t>((Data[Cursor] >> BitIndex++) & 1u);
    }

    // The bits from the reading position on, first bit in bit 0, without
    // moving it: the number of bits in window (56 to 64), or 0 when fewer
    // than eight bytes from the current one on are content.
    unsigned PeekBits(std::uint64_t& window) const { return PeekBitsAt(Data, UsedLength, Cursor, BitIndex, window); }

    // Moves past count bits (1 up to what PeekBits offered): the state of
    // count ReadBit calls.
    void SkipBits(unsigned count)
    {
        SkipBitsAt(Cursor, BitIndex, count);
        Status = 0;
    }

    // PeekBits and SkipBits on a reading position held elsewhere (a
    // TBlockReader's).
    [[gnu::always_inline]] static unsigned PeekBitsAt(const std::uint8_t* data, std::uint32_t used,
                                                      std::uint32_t cursor, std::uint8_t bitIndex,
                                                      std::uint64_t& window)
    {
        if (used < 8 || cursor > used - 8)
            return 0;
        std::memcpy(&window, data + cursor, sizeof window);
        window >>= bitIndex;
        return 64u - bitIndex;
    }
    [[gnu::always_inline]] static void SkipBitsAt(std::uint32_t& cursor, std::uint8_t& bitIndex, unsigned count)
    {
        const std::uint32_t last = cursor * 8 + bitIndex + count - 1;  // the last bit taken
        cursor = last >> 3;
        bitIndex = static_cast<std::uint8_t>((last & 7u) + 1);
    }
    // The window part of ReadBitsWhile, for a source with PeekBits and
    // SkipBits (a TBlock or a TBlockReader): true once next has had every bit
    // it wanted, false when there is no window or next wants more than it.
    template <typename Source, typename Next>
    static bool ReadWindowBitsWhile(Source& source, Next& next)
    {
        std::uint64_t window;
        const unsigned available = source.PeekBits(window);
        if (available == 0)
            return false;
        unsigned taken = 0;
        bool more;
        do {
            more = next(static_cast<unsigned>(window) & 1u);
            window >>= 1;
            ++taken;
        } while (more && taken < available);
        source.SkipBits(taken);
        return !more;
    }

    // Reads bits one at a time and hands each to next(bit) until it returns
    // false: the same bits and the same final state as that many ReadBit
    // calls, from one 64-bit window where PeekBits offers one.
    template <typename Next>
    void ReadBitsWhile(Next&& next)
    {
        if (!ReadWindowBitsWhile(*this, next))
            ReadBitsOneByOne(next);
    }

    std::uint8_t ReadByte()
    {
        // Whole byte at an aligned position: the same state as eight ReadBit calls.
        if (BitIndex == 8 && Cursor + 1 < UsedLength) {
            Status = 0;
            return Data[++Cursor];
        }
        std::uint8_t result = 0;
        for (unsigned i = 0; i < 8; ++i)
            result |= static_cast<std::uint8_t>(ReadBit() << i);
        return result;
    }

    // Whole bytes not yet read, and where the next one starts: a partly read
    // byte counts as unread.
    std::uint32_t UnreadBytes() const { return UsedLength - NextBytePosition(); }
    std::uint32_t NextBytePosition() const { return BitIndex == 8 ? Cursor + 1 : Cursor; }
    // Marks the next count bytes as read, as that many ReadByte calls would
    // (count at most UnreadBytes()).
    void SkipBytes(std::uint32_t count)
    {
        if (count > 0) {
            Cursor = NextBytePosition() + count - 1;
            BitIndex = 8;
        }
    }

    std::uint32_t ReadLongWord()
    {
        std::uint32_t result = 0;
        for (unsigned i = 0; i < 32; ++i)
            result |= static_cast<std::uint32_t>(ReadBit()) << i;
        return result;
    }

private:
    // ReadBitsWhile with the reading position kept in registers between
    // refills.
    template <typename Next>
    void ReadBitsOneByOne(Next&& next)
    {
        const std::uint8_t* data = Data;
        std::uint32_t cursor = Cursor;
        std::uint32_t used = UsedLength;
        unsigned bitIndex = BitIndex;
        bool more;
        bool refilled;
        do {
            if (bitIndex > 7) {
                bitIndex = 0;
                ++cursor;
            }
            refilled = cursor >= used;
            if (!refilled) {
                more = next((data[cursor] >> bitIndex++) & 1u);
            } else {
                Cursor = cursor;
                BitIndex = static_cast<std::uint8_t>(bitIndex);
                more = next(ReadBit());
                data = Data;
                cursor = Cursor;
                used = UsedLength;
                bitIndex = BitIndex;
            }
        } while (more);
        Cursor = cursor;
        BitIndex = static_cast<std::uint8_t>(bitIndex);
        if (!refilled)
            Status = 0;
    }

    // Asks OnFill for new content. Without OnFill, or when a fill delivers
    // nothing, no bit is available: false, Status 162, and Data is not touched.
    bool Refill();
};

// A TBlock's reading position held by a hot loop of its own: the bit reads of
// TBlock on a copy that the compiler can keep in registers, while at least
// eight bytes of content are left; nearer the end, and for a refill, the
// block itself reads. Put writes the position back; the block is not to be
// read otherwise in between.
class TBlockReader {
public:
    explicit TBlockReader(TBlock& block) : Block(block) { Take(); }

    [[gnu::always_inline]] unsigned PeekBits(std::uint64_t& window) const
    {
        return TBlock::PeekBitsAt(Data, Used, Cursor, BitIndex, window);
    }

    [[gnu::always_inline]] void SkipBits(unsigned count)
    {
        TBlock::SkipBitsAt(Cursor, BitIndex, count);
        Read = true;
    }

    std::uint8_t ReadBit()
    {
        std::uint64_t window;
        if (PeekBits(window)) {
            SkipBits(1);
            return static_cast<std::uint8_t>(window & 1u);
        }
        Put();
        const std::uint8_t bit = Block.ReadBit();
        Take();
        return bit;
    }

    template <typename Next>
    void ReadBitsWhile(Next&& next)
    {
        if (TBlock::ReadWindowBitsWhile(*this, next))
            return;
        Put();
        Block.ReadBitsWhile(next);
        Take();
    }

    void Put()
    {
        Block.Cursor = Cursor;
        Block.BitIndex = BitIndex;
        if (Read)
            Block.Status = 0;
    }

private:
    void Take()
    {
        Data = Block.Data;
        Used = Block.UsedLength;
        Cursor = Block.Cursor;
        BitIndex = Block.BitIndex;
        Read = false;
    }

    TBlock& Block;
    const std::uint8_t* Data;
    std::uint32_t Used;
    std::uint32_t Cursor;
    std::uint8_t BitIndex;
    bool Read;  // since the last Take: Status 0 once it is put back
};
