#include "Blocks.h"

#include <cstring>

TBlock* TBlock::Create(std::uint32_t capacity)
{
    auto* block = new TBlock;
    block->Init(capacity);
    return block;
}

void TBlock::Init(std::uint32_t capacity)
{
    Flags = 0;
    if (capacity == 0 || capacity > MaxCapacity) {
        Flags = 0x80;
        Status = 165;
        return;
    }
    Status = 0;
    Capacity = capacity;
    BitIndex = 0;
    Cursor = 0;
    UsedLength = capacity;
    CRC = TCRC::Create();
    Data = new std::uint8_t[capacity]();
}

void TBlock::Release()
{
    if (Flags & 0x80) {
        Status = 164;
    } else {
        delete[] Data;
        Data = nullptr;
        if (CRC) {
            CRC->Done();
            delete CRC;
            CRC = nullptr;
        }
        Status = 0;
    }
    Capacity = 0;
    BitIndex = 0;
    Cursor = 0;
    UsedLength = 0;
}

void TBlock::SetUsedLength(std::uint32_t n)
{
    if (n >= 1 && n <= Capacity)
        UsedLength = n;
    else
        Status = 162;
}

void TBlock::Clear()
{
    Rewind();
    std::memset(Data, 0, Capacity);
}

void TBlock::ComputeCRC()
{
    CRC->Reset();
    CRC->UpdateRange(Data, UsedLength);
}

void TBlock::Seek(std::uint32_t pos)
{
    if (pos < UsedLength) {
        Status = 0;
        Cursor = pos;
    } else {
        Status = 162;
    }
}

bool TBlock::Refill()
{
    if (OnFill == nullptr) {
        Cursor = UsedLength;
        BitIndex = 0;
        Status = 162;
        return false;
    }
    OnFill(Data, Capacity, UsedLength);
    if (UsedLength > Capacity) {
        UsedLength = Capacity;
        Status = 162;
    }
    Cursor = 0;
    if (UsedLength == 0) {
        BitIndex = 0;
        Status = 162;
        return false;
    }
    return true;
}
