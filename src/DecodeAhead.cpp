// Decoding ahead on further threads (the rules of ownership are in
// DecodeAhead.h): the slots, the entropy worker and the finishers, their fill
// of InputBlock, and the command's side of the hand-over.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <string>
#include <system_error>
#include <utility>

#include "ArchiveFormat.h"
#include "ArchiveReader.h"

TBlockSlot* TDecodeAhead::OldestUnclaimed()
{
    TBlockSlot* oldest = nullptr;
    for (TBlockSlot& slot : Slots)
        if (slot.Now == TBlockSlot::State::Decoded && (!oldest || slot.Number < oldest->Number))
            oldest = &slot;
    return oldest;
}

// UNTWX_THREADS, 1 to MaxThreads (more counts as MaxThreads), or else the
// processors the process may use; one thread decodes as a single pipeline.
unsigned TArchiveReader::DecodingThreads()
{
    // Stage times are process CPU times: they need everything on one thread.
    if (TStageTimes::Enabled)
        return 1;
    const std::string wanted = platform::EnvironmentValue("UNTWX_THREADS");
    const bool digits =
        !wanted.empty() && wanted.size() <= 9 && wanted.find_first_not_of("0123456789") == std::string::npos;
    const unsigned set = digits ? static_cast<unsigned>(std::strtoul(wanted.c_str(), nullptr, 10)) : 0;
    const unsigned threads = set > 0 ? set : platform::UsableProcessors();
    return threads < TDecodeAhead::MaxThreads ? threads : TDecodeAhead::MaxThreads;
}

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
        if (read < 0) {
            reader.Ahead.Flags.ReadFailed = true;
            reader.Ahead.Flags.Abandon.store(true, std::memory_order_relaxed);
        } else {
            count = static_cast<std::uint32_t>(read);
        }
    }
    reader.InputBlock->Rewind();
}

// A claimed slot's second phase, on the claiming thread; a block stopped in
// its first phase has nothing to finish.
void TArchiveReader::FinishSlot(TBlockSlot& slot, std::unique_lock<std::mutex>& lock, const TFinisherStages& stages)
{
    slot.Now = TBlockSlot::State::Finishing;
    slot.Stages.Transform = stages.Transform;
    slot.Stages.SecondStage = stages.SecondStage;
    lock.unlock();
    if (slot.Phase.Stop == FirstPhaseStop::None)
        slot.Finish = FinishBlock(slot.Phase, slot.Stages);
    lock.lock();
    slot.Now = TBlockSlot::State::Finished;
    Ahead.HandOverChanged.notify_all();
}

// The entropy worker: first phases in block order into free slots; while the
// next slot is in use, or once a stop has been found, it finishes blocks.
void TArchiveReader::DecodeAheadOnWorker()
{
    const TDecodingSlot decoding(this);
    std::unique_lock<std::mutex> lock(Ahead.HandOverLock);
    for (;;) {
        TBlockSlot* next = Ahead.DecodingEnded ? nullptr : &Ahead.SlotOf(Ahead.NextToDecode);
        TBlockSlot* unclaimed = nullptr;
        Ahead.HandOverChanged.wait(lock, [&] {
            unclaimed = Ahead.OldestUnclaimed();
            return Ahead.Flags.StopWanted || (next && next->Now == TBlockSlot::State::Free) || unclaimed;
        });
        if (Ahead.Flags.StopWanted)
            return;
        if (next && next->Now == TBlockSlot::State::Free) {
            next->Now = TBlockSlot::State::Decoding;
            next->Number = Ahead.NextToDecode++;
            lock.unlock();
            DecodeFirstPhase<true>(next->Phase);
            if (Ahead.Flags.ReadFailed)
                next->Phase.Stop = FirstPhaseStop::ReadError;
            lock.lock();
            Ahead.DecodingEnded = next->Phase.Stop != FirstPhaseStop::None;
            next->Now = TBlockSlot::State::Decoded;
            Ahead.HandOverChanged.notify_all();
        } else {
            FinishSlot(*unclaimed, lock, Ahead.Finishers[1]);
        }
    }
}

// A finisher: second phases of the oldest blocks no one has claimed.
void TArchiveReader::FinishAheadOnWorker(unsigned finisher)
{
    const TFinisherStages& stages = Ahead.Finishers[finisher];
    std::unique_lock<std::mutex> lock(Ahead.HandOverLock);
    for (;;) {
        TBlockSlot* unclaimed = nullptr;
        Ahead.HandOverChanged.wait(lock, [&] {
            unclaimed = Ahead.OldestUnclaimed();
            return Ahead.Flags.StopWanted || unclaimed;
        });
        if (Ahead.Flags.StopWanted)
            return;
        FinishSlot(*unclaimed, lock, stages);
    }
}

// One round of its role per Round, until the reader ends the threads; a
// finisher takes its stages anew each round, as they may have been rebuilt.
void TArchiveReader::RunRounds(unsigned role)
{
    std::uint64_t done = 0;
    std::unique_lock<std::mutex> lock(Ahead.HandOverLock);
    for (;;) {
        Ahead.HandOverChanged.wait(lock, [&] { return Ahead.Quit || Ahead.Round != done; });
        if (Ahead.Quit)
            return;
        done = Ahead.Round;
        lock.unlock();
        if (role == 1)
            DecodeAheadOnWorker();
        else
            FinishAheadOnWorker(role);
        lock.lock();
        ++Ahead.RoundsEnded;
        Ahead.HandOverChanged.notify_all();
    }
}

// Slot i's stages: the reader's own where it has them (see TBlockSlot),
// the rest built here.
void TArchiveReader::BuildSlot(unsigned i)
{
    TBlockSlot& slot = Ahead.Slots[i];
    if (i == 0) {
        slot.Stages.Middle = MiddleBlock.get();
    } else if (i == 1) {
        AheadBlock.reset(TBlock::Create(BlockSize));
        slot.Stages.Middle = AheadBlock.get();
    } else {
        slot.OwnMiddle.reset(TBlock::Create(BlockSize));
        slot.Stages.Middle = slot.OwnMiddle.get();
    }
    slot.OwnOutput.reset(TBlock::Create(BlockSize));
    slot.Stages.Output = slot.OwnOutput.get();
    slot.Phase.Middle = slot.Stages.Middle;
}

bool TArchiveReader::BuildFinishers(unsigned count)
{
    std::vector<TFinisherStages>& finishers = Ahead.Finishers;
    if (finishers.empty()) {
        finishers.emplace_back();
        finishers[0].Transform = Transform.get();
        finishers[0].SecondStage = SecondRLE.get();
    }
    try {
        while (finishers.size() < count) {
            TFinisherStages stages;
            stages.OwnTransform.reset(TBWTransform::Create(BlockSize));
            platform::AdviseRandomAccess(stages.OwnTransform->Links, stages.OwnTransform->LinkBytes);
            stages.Transform = stages.OwnTransform.get();
            stages.OwnSecondStage.reset(TRLE::Create(twx::SecondStageMaxExtra));
            std::copy(std::begin(SecondRLE->Threshold), std::end(SecondRLE->Threshold),
                      std::begin(stages.OwnSecondStage->Threshold));
            stages.SecondStage = stages.OwnSecondStage.get();
            finishers.push_back(std::move(stages));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// The slots, each with its stages; beyond the first two, as many as memory
// allows.
void TArchiveReader::BuildSlots(unsigned slots)
{
    Ahead.Slots = std::vector<TBlockSlot>(slots);
    for (unsigned i = 0; i < slots; ++i) {
        try {
            BuildSlot(i);
        } catch (const std::bad_alloc&) {
            if (i < 2)
                throw;
            Ahead.Slots.resize(i);
            break;
        }
    }
}

void TArchiveReader::StartDecodingAhead(unsigned threads)
{
    // A slot per thread and two more: the entropy worker goes on decoding
    // while every other thread finishes a block, and the command's thread
    // finds a block to finish while it waits for its next. Slots built for
    // an archive before, of the same block size and for as many threads,
    // are kept.
    const unsigned slots = threads + 2;
    if (Ahead.SlotsBuiltFor != threads) {
        Ahead.Slots.clear();
        AheadBlock.reset();
        BuildSlots(slots);
        Ahead.SlotsBuiltFor = threads;
    }
    // Finishing stages for each thread that finishes blocks; the command's
    // thread and the entropy worker need theirs.
    const unsigned processors = platform::UsableProcessors();
    const unsigned running = threads < processors ? threads : processors;
    if (!BuildFinishers(running > 2 ? running : 2) && Ahead.Finishers.size() < 2)
        throw std::bad_alloc();
    // The entropy worker, and finishers 2..: the command's thread finishes
    // blocks too, so one finisher fewer. More threads than processors keep
    // their blocks in flight but start no more finishers: on shared
    // processors they would only take turns, and their walks crowd one
    // another out of the caches.
    unsigned roles = 2;
    while (roles < running && roles + 1 < Ahead.Slots.size() && roles < Ahead.Finishers.size())
        ++roles;
    if (Ahead.Threads.size() != roles - 1)
        EndThreads();
    Ahead.Flags.StopWanted = false;
    Ahead.Flags.ReadFailed = false;
    Ahead.Flags.Abandon = false;
    Ahead.NextToDecode = 0;
    Ahead.DecodingEnded = false;
    Ahead.NextToTake = 0;
    Ahead.TakenInputUsedLength = InputBlock->UsedLength;
    Ahead.TakenInputCursor = InputBlock->Cursor;
    InputBlock->OnFill = FillInputBlockAhead;
    Ahead.Running = true;
    {
        const std::lock_guard<std::mutex> lock(Ahead.HandOverLock);
        ++Ahead.Round;
        Ahead.RoundsEnded = 0;
    }
    Ahead.HandOverChanged.notify_all();
    try {
        for (unsigned role = static_cast<unsigned>(Ahead.Threads.size()) + 1; role < roles; ++role)
            Ahead.Threads.push_back(platform::StartThread([this, role] { RunRounds(role); }));
    } catch (const std::system_error&) {
        // No thread to be had: one pipeline, wired as usual, or fewer
        // finishers.
        if (Ahead.Threads.empty()) {
            InputBlock->OnFill = FillInputBlock;
            Ahead.Running = false;
        }
    }
}

// The command's side of the next block: waits for its first phase, finishes
// it unless another thread has, carries out a stop held with it, and takes
// its output, which frees the slot.
void TArchiveReader::FinishBlockDecodedAhead()
{
    TBlockSlot& slot = Ahead.SlotOf(Ahead.NextToTake);
    const std::uint64_t number = Ahead.NextToTake;
    {
        std::unique_lock<std::mutex> lock(Ahead.HandOverLock);
        // While another thread finishes this block, a later one no one has
        // claimed is finished here rather than waited beside.
        for (;;) {
            TBlockSlot* unclaimed = nullptr;
            Ahead.HandOverChanged.wait(lock, [&] {
                if (slot.Number == number &&
                    (slot.Now == TBlockSlot::State::Decoded || slot.Now == TBlockSlot::State::Finished))
                    return true;
                unclaimed = Ahead.OldestUnclaimed();
                return unclaimed != nullptr;
            });
            if (slot.Number == number && slot.Now == TBlockSlot::State::Decoded)
                FinishSlot(slot, lock, Ahead.Finishers[0]);
            if (slot.Number == number && slot.Now == TBlockSlot::State::Finished)
                break;
            if (unclaimed)
                FinishSlot(*unclaimed, lock, Ahead.Finishers[0]);
        }
    }
    Ahead.TakenInputUsedLength = slot.Phase.InputUsedLength;
    Ahead.TakenInputCursor = slot.Phase.InputCursor;
    std::swap(OutputBlock->Data, slot.Stages.Output->Data);
    CarryOut(slot.Phase, slot.Finish);
    {
        const std::lock_guard<std::mutex> lock(Ahead.HandOverLock);
        slot.Now = TBlockSlot::State::Free;
    }
    Ahead.HandOverChanged.notify_all();
    ++Ahead.NextToTake;
}

// Ends the round, if one runs, and waits for every thread to end it: at the
// latest after the block each is on.
void TArchiveReader::StopDecodingAhead()
{
    if (!Ahead.Running)
        return;
    {
        std::unique_lock<std::mutex> lock(Ahead.HandOverLock);
        Ahead.Flags.StopWanted = true;
        Ahead.Flags.Abandon.store(true, std::memory_order_relaxed);
        Ahead.HandOverChanged.notify_all();
        Ahead.HandOverChanged.wait(lock, [this] { return Ahead.RoundsEnded == Ahead.Threads.size(); });
    }
    Ahead.Running = false;
}

// Ends the kept threads (between rounds) and waits for them.
void TArchiveReader::EndThreads()
{
    if (Ahead.Threads.empty())
        return;
    {
        const std::lock_guard<std::mutex> lock(Ahead.HandOverLock);
        Ahead.Quit = true;
    }
    Ahead.HandOverChanged.notify_all();
    for (std::thread& thread : Ahead.Threads)
        thread.join();
    Ahead.Threads.clear();
    Ahead.Quit = false;
}
