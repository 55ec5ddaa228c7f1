// Decoding ahead on a second thread (the rules of ownership are in
// DecodeAhead.h): the worker's loop, its fill of InputBlock, and the
// command's side of the hand-over.
#include <cstring>
#include <system_error>

#include "ArchiveReader.h"

// InputBlock's fill while decoding ahead. A failed read is held, not carried
// out: the rest of the block is left undecoded, and it stops when the
// command reaches it.
void TArchiveReader::FillInputBlockAhead(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& count)
{
    TArchiveReader& reader = *Decoding;
    std::memset(buffer, 0, capacity);
    count = capacity;
    if (!reader.Ahead.Flags.ReadFailed) {
        // The same reads as ReadArchive's, so that the chunks are the same.
        const std::int32_t first = platform::Read(reader.ArchiveHandle, buffer, capacity);
        const std::int64_t read = first < 1 ? -1 : reader.ReadOn(buffer, static_cast<std::uint32_t>(first), capacity);
        if (read < 0)
            reader.Ahead.Flags.ReadFailed = true;
        else
            count = static_cast<std::uint32_t>(read);
    }
    reader.InputBlock->Rewind();
}

// The worker: first phases, one block ahead of the command, until a stop is
// found or wanted.
void TArchiveReader::DecodeAheadOnWorker()
{
    const TDecodingSlot decoding(this);
    for (unsigned next = 0;; next ^= 1) {
        TFirstPhase& phase = Ahead.Phases[next];
        {
            std::unique_lock<std::mutex> lock(Ahead.HandOverLock);
            Ahead.HandOverChanged.wait(lock, [this, &phase] { return Ahead.Flags.StopWanted || !phase.Ready; });
            if (Ahead.Flags.StopWanted)
                return;
        }
        DecodeFirstPhase<true>(phase);
        if (Ahead.Flags.ReadFailed)
            phase.Stop = FirstPhaseStop::ReadError;
        const bool stopped = phase.Stop != FirstPhaseStop::None;
        {
            const std::lock_guard<std::mutex> lock(Ahead.HandOverLock);
            phase.Ready = true;
        }
        Ahead.HandOverChanged.notify_all();
        if (stopped)
            return;
    }
}

void TArchiveReader::StartDecodingAhead()
{
    // Of the size MiddleBlock was just built with, so it cannot fail.
    AheadBlock.reset(TBlock::Create(BlockSize));
    Ahead.Phases[0] = TFirstPhase{};
    Ahead.Phases[0].Middle = MiddleBlock.get();
    Ahead.Phases[1] = TFirstPhase{};
    Ahead.Phases[1].Middle = AheadBlock.get();
    Ahead.Flags.StopWanted = false;
    Ahead.Flags.ReadFailed = false;
    Ahead.NextToTake = 0;
    Ahead.TakenInputUsedLength = InputBlock->UsedLength;
    Ahead.TakenInputCursor = InputBlock->Cursor;
    InputBlock->OnFill = FillInputBlockAhead;
    Ahead.Running = true;
    try {
        Ahead.Worker = platform::StartThread([this] { DecodeAheadOnWorker(); });
    } catch (const std::system_error&) {
        // No second thread to be had: one pipeline, wired as usual.
        InputBlock->OnFill = FillInputBlock;
        Ahead.Running = false;
    }
}

// The command's side of a block decoded ahead: waits for its first phase,
// finishes it, and gives its middle buffer back to the worker.
void TArchiveReader::FinishBlockDecodedAhead()
{
    TFirstPhase& phase = Ahead.Phases[Ahead.NextToTake];
    {
        std::unique_lock<std::mutex> lock(Ahead.HandOverLock);
        Ahead.HandOverChanged.wait(lock, [&phase] { return phase.Ready; });
    }
    if (MiddleBlock.get() != phase.Middle)
        MiddleBlock.swap(AheadBlock);
    Ahead.TakenInputUsedLength = phase.InputUsedLength;
    Ahead.TakenInputCursor = phase.InputCursor;
    FinishBlock(phase);
    {
        const std::lock_guard<std::mutex> lock(Ahead.HandOverLock);
        phase.Ready = false;
    }
    Ahead.HandOverChanged.notify_all();
    Ahead.NextToTake ^= 1;
}

// Ends the worker, if one runs, and waits for it: at the latest after the
// block it is decoding.
void TArchiveReader::StopDecodingAhead()
{
    if (!Ahead.Worker.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(Ahead.HandOverLock);
        Ahead.Flags.StopWanted = true;
    }
    Ahead.HandOverChanged.notify_all();
    Ahead.Worker.join();
    Ahead.Running = false;
}
