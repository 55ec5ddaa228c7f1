// Decoding ahead: several blocks in flight on several threads, handed to the
// command strictly in order.
//
// The entropy worker decodes the first phase of block after block (the
// trees, move-to-front and the first run-length stage are serial by the
// format), each into the next slot in turn. A block's second phase (links,
// walk, second run-length stage, CRC) runs on whichever thread claims it
// first: a finisher thread, the entropy worker when the slot it would fill
// next is still in use, or the command's thread, which finishes its next
// block when no one has claimed it, and a later one while it waits for its
// next. The command takes each block's output by swapping buffers
// with its slot, which frees the slot.
//
// Who owns what: the entropy worker owns InputBlock, the three trees,
// MoveToFront and FirstRLE, and a slot while it is Decoding; the thread that
// claimed a slot owns its middle buffer and output buffer while it is
// Finishing, and finishes it in its own transform and second run-length
// stage (TFinisherStages); the command's thread owns
// OutputBlock and FileCRC. A slot's state changes only under HandOverLock,
// and a slot changes hands only through those changes. The threads neither
// print nor stop: a stop found in either phase is held with its block and
// carried out when the command reaches that block, after everything printed
// and written before it, exactly as with one thread. Every thread ends its
// round, and is waited for, before any stop leaves the reader and before a
// stage is released; between rounds (archives) the threads wait, holding
// nothing, and the reader ends them when it goes or needs other threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "Stage.h"

class TBlock;
class TBWTransform;
class TRLE;

// The fields that open a block.
struct TBlockFields {
    std::uint32_t Length;
    std::uint32_t PrimaryIndex;
    std::uint32_t StoredCRC;
};

// A stop found in the first phase of a block.
enum class FirstPhaseStop : std::uint8_t { None, ReadError, DamagedBlock };

// A block after its first phase: the transform's input in Middle, the
// block's fields, and where InputBlock stood after the block.
struct TFirstPhase {
    TBlock* Middle = nullptr;
    TBlockFields Fields{};
    FirstPhaseStop Stop = FirstPhaseStop::None;
    std::uint32_t InputUsedLength = 0;
    std::uint32_t InputCursor = 0;
    // The transform's Length before this block, as the blocks before left
    // it: a refused length keeps it, whichever transform finishes the block.
    std::uint32_t TransformLengthBefore = 0;
};

// The stages a block's second phase works in: Middle holds the transform's
// input and is overwritten, Output receives the block.
struct TFinishStages {
    TBlock* Middle;
    TBlock* Output;
    TBWTransform* Transform;
    TRLE* SecondStage;
};

// How a block's second phase ended: the CRC of its output, and whether the
// block broke the data model on the way (a stop whatever the CRC).
struct TFinish {
    std::uint32_t ComputedCRC = 0;
    bool Damaged = false;
};

// One block in flight and the stages it is finished in.
struct TBlockSlot {
    enum class State : std::uint8_t { Free, Decoding, Decoded, Finishing, Finished };
    State Now = State::Free;
    std::uint64_t Number = 0;  // the block's place in the archive
    TFirstPhase Phase;
    TFinish Finish;
    TFinishStages Stages{};
    // What the slot owns; the first two slots use the reader's own stages
    // for what they can (MiddleBlock, AheadBlock, Transform, SecondRLE).
    TStage<TBlock> OwnMiddle;
    TStage<TBlock> OwnOutput;
};

// The stages a thread finishes blocks in, its own while it finishes one:
// the transform and the second run-length stage hold nothing from one block
// to the next, so a slot takes them from whichever thread claims it. The
// command's thread uses the reader's own.
struct TFinisherStages {
    TBWTransform* Transform = nullptr;
    TRLE* SecondStage = nullptr;
    TStage<TBWTransform> OwnTransform;
    TStage<TRLE> OwnSecondStage;
};

struct TDecodeAhead {
    // Threads of one reader at most; each has a block in flight, and there
    // are two more (a block in flight costs two block sizes, and each thread
    // that finishes blocks four more for its links).
    static constexpr unsigned MaxThreads = 8;

    // What the entropy worker reads as it decodes, on a cache line of its
    // own so that the command's per-byte state never shares one: a read
    // that failed, the command's wish that it stop, and whether either is
    // so, in one load.
    struct alignas(64) TFlags {
        bool ReadFailed = false;
        std::atomic<bool> StopWanted = false;  // set under HandOverLock
        std::atomic<bool> Abandon = false;
    };

    bool Running = false;  // threads decode ahead
    TFlags Flags;
    std::mutex HandOverLock;
    std::condition_variable HandOverChanged;
    // Block n goes to Slots[n % size]; built when decoding ahead starts, for
    // SlotsBuiltFor threads (0: none built), and kept while the block size
    // stays.
    std::vector<TBlockSlot> Slots;
    unsigned SlotsBuiltFor = 0;
    // Per finishing thread: 0 the command's, 1 the entropy worker's, then
    // the finishers'. Kept while the block size stays.
    std::vector<TFinisherStages> Finishers;
    std::vector<std::thread> Threads;
    // The threads are kept from archive to archive: each runs one round of
    // decoding ahead per Round (counted from 1), and waits between rounds.
    // Under HandOverLock.
    std::uint64_t Round = 0;
    unsigned RoundsEnded = 0;  // threads done with this round
    bool Quit = false;         // the threads end
    // The entropy worker's own: the next block to decode, and whether it has
    // found a stop (then it only finishes blocks).
    std::uint64_t NextToDecode = 0;
    bool DecodingEnded = false;
    // The command thread's own: the next block to take, and InputBlock as
    // it stood after the last block taken.
    std::uint64_t NextToTake = 0;
    std::uint32_t TakenInputUsedLength = 0;
    std::uint32_t TakenInputCursor = 0;

    // Once a read has failed, or the command wants no more blocks, the rest
    // of the block is not worth decoding: it is never used.
    bool AbandonBlock() const { return Flags.Abandon.load(std::memory_order_relaxed); }

    TBlockSlot& SlotOf(std::uint64_t block) { return Slots[block % Slots.size()]; }
    // The oldest decoded block no thread has claimed, or nullptr (under
    // HandOverLock).
    TBlockSlot* OldestUnclaimed();
};
