// The block pipeline: a block's first phase (its three fields, then the
// trees and move-to-front through the first run-length stage, into a middle
// buffer) and its second (inverse transform, second run-length stage, CRC
// check, into OutputBlock), and the stops of a damaged block.
#include <cstring>
#ifdef UNTWX_STAGE_TIMES
#include <cstdio>
#endif

#include "ArchiveFormat.h"
#include "ArchiveReader.h"

namespace {

// How much of a block the entropy worker decodes between two looks whether
// the block is still wanted: a few microseconds' work, and the look costs
// next to nothing at that distance.
constexpr std::uint32_t AbandonCheckBytes = 64;

// The byte rules of the second stage's source, over a cursor and an
// overrun flag of the caller's: reads stay within the block size.
std::uint8_t MiddleByteAt(const std::uint8_t* middle, std::uint32_t blockSize, std::uint32_t& cursor, bool& overrun)
{
    if (cursor >= blockSize) {
        overrun = true;
        return 0;
    }
    return middle[cursor++];
}

std::uint32_t MiddleCountAt(const std::uint8_t* middle, std::uint32_t blockSize, std::uint32_t& cursor, bool& overrun)
{
    if (blockSize - cursor < twx::SecondStageCountBytes) {
        overrun = true;
        return 0;
    }
    const std::uint8_t* bytes = middle + cursor;
    cursor += twx::SecondStageCountBytes;
    return bytes[0] + 256u * bytes[1];
}

// copies bytes of one value at data[cursor] on.
void PutRunAt(std::uint8_t* data, std::uint32_t& cursor, std::uint8_t value, std::uint32_t copies)
{
    if (copies == 1)
        data[cursor] = value;
    else
        std::memset(data + cursor, value, copies);
    cursor += copies;
}

// The trees read InputBlock's bits through the first phase's reader, without
// a call per bit.
std::uint32_t DecodeFrom(THuffmanTree& tree, TBlockReader& bits)
{
    return tree.DecodeSymbolFrom(bits);
}

}  // namespace

void TArchiveReader::FillInputBlock(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& count)
{
    TArchiveReader& reader = *Decoding;
    std::memset(buffer, 0, capacity);
    count = reader.ReadArchive(buffer, capacity);
    reader.InputBlock->Rewind();
}

// Inline in the first phase, its only caller: the reader's position stays in
// registers across a run length too.
[[gnu::always_inline]] inline std::uint32_t TArchiveReader::GetCodedRunLength(TBlockReader& bits)
{
    if (bits.ReadBit() == 0)
        return 0;
    std::uint32_t n = (DecodeFrom(*RunTree, bits) & 15u) + 1;
    if (n > twx::RunTreeEscape)
        n += DecodeFrom(*RunExtensionTree, bits);
    return n;
}

// First phase of a block: from the input bits to the transform's input in
// phase.Middle. It touches only InputBlock, the trees, MoveToFront, FirstRLE
// and phase.Middle. A damaged block is recorded in phase.Stop, not carried
// out; OnWorker: decoding ahead, where a block that need not be finished is
// left.
template <bool OnWorker>
void TArchiveReader::DecodeFirstPhase(TFirstPhase& phase)
{
    Times.Start();
    TBlockFields& block = phase.Fields;
    block.Length = InputBlock->ReadLongWord();
    block.PrimaryIndex = InputBlock->ReadLongWord();
    block.StoredCRC = InputBlock->ReadLongWord();
    phase.Stop = FirstPhaseStop::None;
    if (block.Length > BlockSize) {
        phase.Stop = FirstPhaseStop::DamagedBlock;
    } else {
        std::uint8_t* const middle = phase.Middle->Data;
        std::uint32_t cursor = 0;
        // InputBlock's position stays in the reader, in registers, until Put.
        TBlockReader bits(*InputBlock);
        THuffmanTree& symbols = *SymbolTree;
        Tmsmtf& moveToFront = *MoveToFront;
        const auto symbol = [this, &bits, &symbols, &moveToFront] {
            Times.Count(TStageTimes::Entropy, 1);
            return moveToFront.DecodeSymbolOnly(static_cast<std::uint8_t>(DecodeFrom(symbols, bits)));
        };
        const auto runLength = [this, &bits] { return GetCodedRunLength(bits); };
        // Runs stop at the stage's count, so the writes stay within Length bytes.
        const auto put = [middle, &cursor](std::uint8_t value, std::uint32_t copies) {
            PutRunAt(middle, cursor, value, copies);
        };
        TRLE& firstStage = *FirstRLE;
        TRLE::TProgress progress;
        if constexpr (!OnWorker) {
            firstStage.DecodeWith(block.Length, symbol, runLength, put);
        } else if (firstStage.Begin(progress, block.Length, symbol)) {
            // Decoding ahead, the worker looks between steps whether the
            // block is still wanted: once a read has failed, or the command
            // wants no more blocks, it is never used, and is left.
            while (progress.Written < block.Length) {
                if (Ahead.AbandonBlock()) {
                    phase.Stop = FirstPhaseStop::DamagedBlock;
                    break;
                }
                const std::uint32_t left = block.Length - progress.Written;
                firstStage.DecodeUpTo(progress, block.Length,
                                      progress.Written + (left < AbandonCheckBytes ? left : AbandonCheckBytes),
                                      symbol, runLength, put);
            }
        }
        bits.Put();
        MoveToFront->RefreshPositionOf();
        if (FirstRLE->Status == TRLE::StatusRunCut)
            phase.Stop = FirstPhaseStop::DamagedBlock;
    }
    phase.InputUsedLength = InputBlock->UsedLength;
    phase.InputCursor = InputBlock->Cursor;
    // Blocks reach the transform in order; one stopped here never does.
    phase.TransformLengthBefore = TransformLength;
    if (phase.Stop == FirstPhaseStop::None && Transform->Accepts(block.Length))
        TransformLength = block.Length;
    Times.Stop(TStageTimes::Entropy);
}

template void TArchiveReader::DecodeFirstPhase<false>(TFirstPhase&);
template void TArchiveReader::DecodeFirstPhase<true>(TFirstPhase&);

// Second phase, on any thread: transform, second run-length stage and CRC,
// from stages.Middle into stages.Output, for a block whose first phase ended
// without a stop. When the second stage runs, the transform writes over its
// own input in Middle and the stage expands it from there; otherwise it
// writes Output. Either way the bytes are those of the transform into a
// cleared Output and the copy into Middle, and every byte of Output is
// written: the block owes nothing to what the buffers held before.
TFinish TArchiveReader::FinishBlock(const TFirstPhase& phase, const TFinishStages& stages)
{
    const TBlockFields& block = phase.Fields;
    TBWTransform& transform = *stages.Transform;
    TBlock& output = *stages.Output;
    std::uint8_t* const middle = stages.Middle->Data;
    transform.Input = middle;
    transform.Length = phase.TransformLengthBefore;
    transform.SetLength(block.Length);
    const std::uint32_t length = transform.Length;
    // A refused length leaves a longer one: its tail reads as zeros.
    if (length > block.Length)
        std::memset(middle + block.Length, 0, length - block.Length);

    TFinish finish;
    const bool expand = block.Length < output.UsedLength;
    std::uint8_t* const target = expand ? middle : output.Data;
    transform.Output = target;
    // Where the transform's output ends: zeros from there to BlockSize.
    std::uint32_t zeroFrom = 0;
    if (block.PrimaryIndex < length) {
        // The buffer that is free until the second stage.
        transform.Scratch = expand ? output.Data : middle;
        transform.BuildLinks();
        Times.Stop(TStageTimes::LinkBuild);
        transform.Walk(block.PrimaryIndex);
        std::memset(target + length, 0, BlockSize - length);
        zeroFrom = length;
        Times.Stop(TStageTimes::Walk);
        Times.Count(TStageTimes::LinkBuild, length);
        Times.Count(TStageTimes::Walk, length);
    } else {
        transform.Inverse(block.PrimaryIndex);  // refuses: nothing written
        std::memset(target, 0, BlockSize);
    }

    if (expand) {
        std::uint8_t* const data = output.Data;
        const std::uint32_t blockSize = BlockSize;
        std::uint32_t in = 0;
        std::uint32_t out = 0;
        bool overrun = false;
        TRLE& secondStage = *stages.SecondStage;
        const std::uint32_t lowest = secondStage.LowestThreshold();
        secondStage.DecodeWith(
            output.UsedLength,
            [middle, blockSize, &in, &overrun] { return MiddleByteAt(middle, blockSize, in, overrun); },
            [middle, blockSize, &in, &overrun] { return MiddleCountAt(middle, blockSize, in, overrun); },
            [data, &out](std::uint8_t value, std::uint32_t copies) { PutRunAt(data, out, value, copies); },
            [middle, blockSize, data, &in, &out, &overrun, &secondStage, lowest, zeroFrom](
                std::uint8_t& cur, std::uint32_t& equalRun, std::uint32_t left) {
                // A short block's tail expands from the zeros after it.
                if (in > zeroFrom)
                    return secondStage.TakeZeroTail(blockSize, in, data, out, equalRun, left,
                                                    twx::SecondStageCountBytes, overrun);
                return TRLE::TakeLiteralWords(middle, blockSize, in, data, out, cur, equalRun, left, lowest);
            });
        finish.Damaged = overrun || secondStage.Status == TRLE::StatusRunCut;
        Times.Stop(TStageTimes::SecondStage);
        Times.Count(TStageTimes::SecondStage, output.UsedLength);
    }

    output.ComputeCRC();
    finish.ComputedCRC = output.CRC->Value();
    Times.Stop(TStageTimes::BlockCRC);
    Times.Count(TStageTimes::BlockCRC, output.UsedLength);
    return finish;
}

// On the command's thread, with the block in OutputBlock: the stop held with
// it, if any. A block that breaks the data model ends like a CRC failure,
// with the CRC of the block as it stands; before its transform, the block
// then stands all zeros.
void TArchiveReader::CarryOut(const TFirstPhase& phase, const TFinish& finish)
{
    const std::uint32_t stored = phase.Fields.StoredCRC;
    if (phase.Stop == FirstPhaseStop::ReadError)
        throw TArchiveStop{StopKind::ReadError};
    if (phase.Stop == FirstPhaseStop::DamagedBlock) {
        OutputBlock->Clear();
        OutputBlock->ComputeCRC();
        throw TArchiveStop{StopKind::BlockCrc, stored, OutputBlock->CRC->Value()};
    }
    if (finish.Damaged || finish.ComputedCRC != stored)
        throw TArchiveStop{StopKind::BlockCrc, stored, finish.ComputedCRC};
}

void TArchiveReader::DecodeNextBlock(std::uint8_t*, std::uint32_t, std::uint32_t& count)
{
    TArchiveReader& reader = *Decoding;
    if (reader.Ahead.Running) {
        reader.FinishBlockDecodedAhead();
    } else {
        TFirstPhase phase;
        phase.Middle = reader.MiddleBlock.get();
        reader.DecodeFirstPhase<false>(phase);
        TFinish finish;
        if (phase.Stop == FirstPhaseStop::None)
            finish = reader.FinishBlock(phase, {reader.MiddleBlock.get(), reader.OutputBlock.get(),
                                                reader.Transform.get(), reader.SecondRLE.get()});
        reader.CarryOut(phase, finish);
    }
    count = reader.OutputBlock->UsedLength;
    reader.OutputBlock->Rewind();
}

#ifdef UNTWX_STAGE_TIMES
void TStageTimes::Report() const
{
    static constexpr const char* Names[Stages] = {"entropy (trees, move-to-front, first run-length stage)",
                                                  "transform link build", "transform walk",
                                                  "second run-length stage", "block CRC"};
    static constexpr const char* UnitNames[Stages] = {"symbols", "bytes", "bytes", "bytes", "bytes"};
    const auto ms = [](std::clock_t t) { return 1000.0 * static_cast<double>(t) / CLOCKS_PER_SEC; };
    std::clock_t sum = 0;
    for (unsigned s = 0; s < Stages; ++s) {
        std::fprintf(stderr, "stage %-56s %9.1f ms %12llu %s\n", Names[s], ms(Spent[s]),
                     static_cast<unsigned long long>(Units[s]), UnitNames[s]);
        sum += Spent[s];
    }
    std::fprintf(stderr, "stage %-56s %9.1f ms\n", "rest (reading, command, listing CRC)", ms(std::clock() - sum));
}
#endif
