// Archive reader: header check, the decoding stages and their wiring, the
// block pipeline, the directory walk, and the fatal stops.
//
// Safety promise: for any archive bytes, decoding never reads or writes
// outside the stage buffers. A damaged archive ends the process with one of
// the stop messages and exit code 2; nothing past a stop touches a stage.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "stages/Blocks.h"
#include "stages/CRCs.h"
#include "stages/RLEs.h"
#include "stages/UnBWTUnit.h"
#include "stages/UnHuffman.h"
#include "stages/msmtf.h"

// Module-level state, alive for the whole run.
extern platform::FileHandle ArchiveHandle;
extern bool StagesBuilt;
extern std::uint32_t BlockSize;
extern std::uint32_t HeaderWord;

// DecoderStages: the eleven stages, owned by OpenArchive.
extern TBlock* InputBlock;
extern TBlock* OutputBlock;
extern TBlock* MiddleBlock;
extern TBWTransform* Transform;
extern THuffmanTree* SymbolTree;
extern THuffmanTree* RunTree;
extern THuffmanTree* RunExtensionTree;
extern Tmsmtf* MoveToFront;
extern TRLE* FirstRLE;
extern TRLE* SecondRLE;
extern TCRC* FileCRC;

// Byte cursors of the pipeline in MiddleBlock and OutputBlock.
extern std::uint32_t MiddleCursor;
extern std::uint32_t OutputCursor;

// Decoding ahead. When the process may use more than one processor, a worker
// thread decodes the first phase of each block (its three fields, then the
// trees and move-to-front through the first run-length stage) into one of two
// middle buffers, while the command's thread finishes the block before it
// (inverse transform, second run-length stage, CRC check) and runs the
// command on it. With one processor everything runs on the command's thread
// as one pipeline, with the module-level state above as it stands.
//
// While the worker runs it owns InputBlock, SymbolTree, RunTree,
// RunExtensionTree, MoveToFront, FirstRLE and the middle buffer it fills; the
// command's thread owns OutputBlock, Transform, SecondRLE, FileCRC, the two
// cursors and MiddleBlock, which then names the middle buffer of the block it
// finishes (AheadBlock names the other). A middle buffer changes hands whole,
// once per block, through a small locked hand-over; nothing else is shared.
// The worker neither prints nor stops: a stop it finds (read error, damaged
// block fields, a cut run) is held with its block and carried out when the
// command reaches that block, after everything printed and written before
// it, exactly as with one thread. Each stop ends the worker before it closes
// the archive or releases a stage.
extern TBlock* AheadBlock;
extern bool DecodingAhead;

using TCommand = void (*)();

// Checks the header, builds and wires the stages, loads the first chunk,
// runs the command and releases the stages. Every failure ends the process.
void OpenArchive(TCommand command);
void ReleaseStages();

// Block pipeline callbacks.
void FillInputBlock(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& count);
bool GetInputBit();
std::uint8_t GetCodedByte();
std::uint32_t GetCodedRunLength();
void PutMiddleByte(std::uint8_t value);
std::uint8_t GetMiddleByte();
std::uint32_t GetMiddleCount();
void PutOutputByte(std::uint8_t value);
void DecodeNextBlock(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& count);

// Stops; none of them returns. Each calls OnStop first, when set: the
// running command's clean-up (the extraction removes its unfinished file).
extern void (*OnStop)();
std::int32_t ReadOrStop(platform::FileHandle file, void* buffer, std::uint32_t count);
[[noreturn]] void FatalStop(std::uint8_t status);
[[noreturn]] void BlockCRCStop(std::uint32_t stored, std::uint32_t computed);

// Directory of the decoded stream.
struct DirectoryEntry {
    std::uint8_t NameLength = 0;
    std::uint32_t Size = 0;
    std::uint32_t DateTime = 0;
    std::uint32_t Attributes = 0;
    std::string Name;
};

void PullDecodedBlock();
bool MoreBlocksPending();
bool ReadEntryHeader(DirectoryEntry& entry);
// The part of a stored name after its last backslash or colon.
std::string_view DisplayName(std::string_view name);
// Bytes of OutputBlock not yet read.
std::uint32_t UnreadOutputBytes();

// Consumes size content bytes of the decoded stream, handing each run that
// lies in one decoded block to sink(const uint8_t*, uint32_t) before the
// position moves past it. A header that ended exactly at a block's end gives
// an empty first run.
template <typename Sink>
void ConsumeContent(std::uint32_t size, Sink&& sink)
{
    std::uint32_t due = size;
    while (due > 0) {
        const std::uint32_t available = OutputBlock->UnreadBytes();
        const std::uint32_t chunk = available < due ? available : due;
        sink(OutputBlock->Data + OutputBlock->NextBytePosition(), chunk);
        OutputBlock->SkipBytes(chunk);
        due -= chunk;
        if (due > 0)
            PullDecodedBlock();
    }
}

// The directory walk of both commands: handle(entry) must consume the
// entry's content. Ends at the end mark, or when a record ends exactly at
// the end of a block and no more blocks are pending.
template <typename Handler>
void WalkDirectory(Handler&& handle)
{
    DirectoryEntry entry;
    while (MoreBlocksPending()) {
        PullDecodedBlock();
        do {
            if (!ReadEntryHeader(entry))
                return;
            handle(entry);
        } while (UnreadOutputBytes() > 0);
    }
}
