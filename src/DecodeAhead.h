// Decoding ahead: the state of the worker thread that decodes the first
// phase of the next block while the command's thread finishes the one
// before it, and the blocks as they are handed over.
//
// Who owns what while the worker runs: the worker owns InputBlock, the
// three trees, MoveToFront, FirstRLE and the middle buffer it fills; the
// command's thread owns OutputBlock, Transform, SecondRLE, FileCRC and
// MiddleBlock, which then names the middle buffer of the block it finishes
// (AheadBlock names the other). A middle buffer changes hands whole, once
// per block, through the locked hand-over below; nothing else is shared.
// The worker neither prints nor stops: a stop it finds (read error, damaged
// block fields, a cut run) is held with its block and carried out when the
// command reaches that block, after everything printed and written before
// it, exactly as with one thread. The worker is ended, and waited for,
// before any stop leaves the reader and before a stage is released.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class TBlock;

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
    bool Ready = false;  // decoded, not yet finished (under HandOverLock)
};

struct TDecodeAhead {
    // What the worker reads per symbol, on cache lines of its own so that
    // the command's per-byte state never shares one: a read that failed, and
    // the command's wish that it stop.
    struct alignas(64) TFlags {
        bool ReadFailed = false;
        std::atomic<bool> StopWanted = false;  // set under HandOverLock
    };

    bool Running = false;  // a worker decodes ahead
    TFlags Flags;
    // Phases[i] always uses the same middle buffer; the worker fills them in
    // turn, the command's thread takes them in the same order.
    std::mutex HandOverLock;
    std::condition_variable HandOverChanged;
    TFirstPhase Phases[2];
    std::thread Worker;
    // The command thread's own: the next phase to take, and InputBlock as
    // it stood after the last block taken.
    unsigned NextToTake = 0;
    std::uint32_t TakenInputUsedLength = 0;
    std::uint32_t TakenInputCursor = 0;

    // Once a read has failed, or the command wants no more blocks, the rest
    // of the block is not worth decoding: it is never used.
    bool AbandonBlock() const { return Flags.ReadFailed || Flags.StopWanted.load(std::memory_order_relaxed); }
};
