// The archive reader: one object per archive (or one kept over many archives
// by in-process runs). It owns the archive's handle, the eleven decoding
// stages and the decode-ahead worker; it checks the header, builds and wires
// the stages, produces the decoded blocks and walks the directory of the
// decoded stream for a command.
//
// Safety promise: for any archive bytes, decoding never reads or writes
// outside the stage buffers. A damaged archive ends the reading with a
// TArchiveStop thrown to the caller; the reader releases what it owns on the
// way out, and nothing past a stop touches a stage.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ArchiveStops.h"
#include "DecodeAhead.h"
#include "StageTimes.h"
#include "platform/Platform.h"
#include "stages/Blocks.h"
#include "stages/CRCs.h"
#include "stages/RLEs.h"
#include "stages/UnBWTUnit.h"
#include "stages/UnHuffman.h"
#include "stages/msmtf.h"

// One archived file's record in the decoded stream.
struct DirectoryEntry {
    std::uint8_t NameLength = 0;
    std::uint32_t Size = 0;
    std::uint32_t DateTime = 0;
    std::uint32_t Attributes = 0;
    std::string Name;
};

// The part of a stored name after its last backslash or colon.
std::string_view DisplayName(std::string_view name);

class TArchiveReader {
public:
    // Takes over the archive, open for reading (InvalidFile gives the read
    // error of the first read).
    explicit TArchiveReader(platform::FileHandle archive);
    // A reader without an archive, handed one at a time by
    // OpenArchive(archive, command); it keeps its stages from one to the next.
    TArchiveReader() = default;
    // Ends the worker, releases the stages, closes the archive.
    ~TArchiveReader();
    TArchiveReader(const TArchiveReader&) = delete;
    TArchiveReader& operator=(const TArchiveReader&) = delete;

    // Checks the header, builds and wires the stages, loads the first chunk
    // and runs command(*this). A stop is thrown as a TArchiveStop.
    template <typename Command>
    void OpenArchive(Command&& command)
    {
        const TDecodingSlot decoding(this);
        SetUp();
        command(*this);
        FinishCommand();
    }

    // OpenArchive(command) on a further archive, which is closed again on
    // every way out, stops included. Stages of the block size already built
    // are set back to their state when built instead of being built anew.
    template <typename Command>
    void OpenArchive(platform::FileHandle archive, Command&& command)
    {
        ArchiveHandle = archive;
        const TArchiveTurn turn(*this);
        OpenArchive(command);
    }

    platform::FileHandle ArchiveHandle = platform::InvalidFile;
    std::uint32_t BlockSize = 0;

    // DecoderStages, released in this order by ReleaseStages.
    TStage<TBlock> InputBlock;
    TStage<TBlock> OutputBlock;
    TStage<TBlock> MiddleBlock;
    TStage<Tmsmtf> MoveToFront;
    TStage<TCRC> FileCRC;
    TStage<TBWTransform> Transform;
    TStage<TRLE> FirstRLE;
    TStage<THuffmanTree> SymbolTree;
    TStage<THuffmanTree> RunTree;
    TStage<THuffmanTree> RunExtensionTree;
    TStage<TRLE> SecondRLE;
    // The second middle buffer while decoding ahead (the other slots' own
    // stages are in Ahead).
    TStage<TBlock> AheadBlock;

    // A read of the archive; a failed read or a read of nothing is the read
    // error stop.
    std::int32_t ReadOrStop(void* buffer, std::uint32_t count);

    // InputBlock's fill and OutputBlock's: they reach the reader decoding on
    // their thread through its slot.
    static void FillInputBlock(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& count);
    static void DecodeNextBlock(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& count);

    // True while threads decode ahead.
    bool DecodingAhead() const { return Ahead.Running; }
    // Blocks decoded at once: one, or a slot per thread and one more while
    // decoding ahead.
    unsigned BlocksInFlight() const { return Ahead.Running ? static_cast<unsigned>(Ahead.Slots.size()) : 1u; }

    // Directory of the decoded stream.
    void PullDecodedBlock();
    bool MoreBlocksPending() const;
    bool ReadEntryHeader(DirectoryEntry& entry);
    // Bytes of OutputBlock not yet read.
    std::uint32_t UnreadOutputBytes() const { return OutputBlock->UnreadBytes(); }

    // Consumes size content bytes of the decoded stream, handing each run
    // that lies in one decoded block to sink(const uint8_t*, uint32_t) before
    // the position moves past it. A header that ended exactly at a block's
    // end gives an empty first run.
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

    // The directory walk of every command: handle(entry) must consume the
    // entry's content. Ends at the end mark, or when a record ends exactly
    // at the end of a block and no more blocks are pending.
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

private:
    // The reader whose stages the callbacks on this thread serve. The stage
    // callbacks are plain procedures without a context argument, so this
    // slot, one per thread, is how they find their reader; set for as long
    // as the reader decodes on the thread (the command's and the worker).
    static thread_local TArchiveReader* Decoding;
    struct TDecodingSlot {
        explicit TDecodingSlot(TArchiveReader* reader) : Saved(Decoding) { Decoding = reader; }
        ~TDecodingSlot() { Decoding = Saved; }
        TDecodingSlot(const TDecodingSlot&) = delete;
        TDecodingSlot& operator=(const TDecodingSlot&) = delete;
        TArchiveReader* Saved;
    };

    // One archive's turn of a reader that outlives it: ends decoding ahead
    // and closes the archive, as the destructor would, keeping the stages.
    struct TArchiveTurn {
        explicit TArchiveTurn(TArchiveReader& reader) : Reader(reader) {}
        ~TArchiveTurn() { Reader.EndArchive(); }
        TArchiveTurn(const TArchiveTurn&) = delete;
        TArchiveTurn& operator=(const TArchiveTurn&) = delete;
        TArchiveReader& Reader;
    };

    // Header and set-up.
    void SetUp();
    void FinishCommand();
    void CheckHeader();
    void ReadHeaderField(void* field, std::uint32_t size);
    std::uint32_t ReadArchive(std::uint8_t* buffer, std::uint32_t count);
    std::int64_t ReadOn(std::uint8_t* buffer, std::uint32_t done, std::uint32_t count);
    void BuildStages();
    void WireStages();
    void ReleaseStages();
    void RenewStages();
    void EndArchive();

    // Block pipeline.
    template <bool OnWorker>
    void DecodeFirstPhase(TFirstPhase& phase);
    TFinish FinishBlock(const TFirstPhase& phase, const TFinishStages& stages);
    void CarryOut(const TFirstPhase& phase, const TFinish& finish);
    // The run token's length, from the bits of InputBlock's reader.
    std::uint32_t GetCodedRunLength(TBlockReader& bits);

    // Decoding ahead.
    static unsigned DecodingThreads();
    void BuildSlots(unsigned slots);
    void BuildSlot(unsigned i);
    void StartDecodingAhead(unsigned threads);
    void StopDecodingAhead();
    void EndThreads();
    // A kept thread's life: role 1 the entropy worker, 2.. finishers.
    void RunRounds(unsigned role);
    void DecodeAheadOnWorker();
    void FinishAheadOnWorker(unsigned finisher);
    void FinishSlot(TBlockSlot& slot, std::unique_lock<std::mutex>& lock, const TFinisherStages& stages);
    // Finishing stages for count threads at least; false when memory ran out first.
    bool BuildFinishers(unsigned count);
    void FinishBlockDecodedAhead();
    static void FillInputBlockAhead(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& count);

    TDecodeAhead Ahead;
    TStageTimes Times;
    // The block size the stages are built for; 0 while they are not.
    std::uint32_t BuiltBlockSize = 0;
    // The transform's Length as the blocks decoded so far leave it (the
    // entropy phase's own: see TFirstPhase::TransformLengthBefore).
    std::uint32_t TransformLength = 0;
};
