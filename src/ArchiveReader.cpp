#include "ArchiveReader.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#ifdef UNTWX_STAGE_TIMES
#include <cstdio>
#include <ctime>
#endif

#include "ArchiveFormat.h"
#include "Console.h"
#include "ExitCodes.h"

platform::FileHandle ArchiveHandle = platform::InvalidFile;
bool StagesBuilt = false;
std::uint32_t BlockSize = 0;
std::uint32_t HeaderWord = 0;

TBlock* InputBlock = nullptr;
TBlock* OutputBlock = nullptr;
TBlock* MiddleBlock = nullptr;
TBWTransform* Transform = nullptr;
THuffmanTree* SymbolTree = nullptr;
THuffmanTree* RunTree = nullptr;
THuffmanTree* RunExtensionTree = nullptr;
Tmsmtf* MoveToFront = nullptr;
TRLE* FirstRLE = nullptr;
TRLE* SecondRLE = nullptr;
TCRC* FileCRC = nullptr;

std::uint32_t MiddleCursor = 0;
std::uint32_t OutputCursor = 0;

void (*OnStop)() = nullptr;

TBlock* AheadBlock = nullptr;
bool DecodingAhead = false;

namespace {

constexpr char UpdateAddresses[] = "http://www.tarnwell.example oder ftp://ftp.tarnwell.example";

template <typename T>
void Release(T*& stage)
{
    if (stage != nullptr) {
        stage->Done();
        delete stage;
        stage = nullptr;
    }
}

template <auto& Slot>
void ReleaseSlot()
{
    Release(Slot);
}

[[noreturn]] void EndStopped(bool pause)
{
    if (OnStop != nullptr)
        OnStop();
    if (pause)
        ClosingPause();
    platform::EndProcess(ExitCode::Stopped);
}

[[noreturn]] void PauseAndStop()
{
    EndStopped(true);
}

[[noreturn]] void HeaderStop(std::string_view message)
{
    PrintLine(message);
    platform::Close(ArchiveHandle);
    PauseAndStop();
}

void StartDecodingAhead();
void StopDecodingAhead();

// Ends the worker when the command ends, by returning or by an exception.
struct AheadGuard {
    AheadGuard() = default;
    AheadGuard(const AheadGuard&) = delete;
    AheadGuard& operator=(const AheadGuard&) = delete;
    ~AheadGuard() { StopDecodingAhead(); }
};

[[noreturn]] void ReadErrorStop(platform::FileHandle file)
{
    StopDecodingAhead();
    PrintLine();
    PrintLine("Lesefehler! - Disk/Datei zerstoert?");
    platform::Close(file);
    if (StagesBuilt)
        ReleaseStages();
    PauseAndStop();
}

// After a first read of done bytes, reads the archive on until count bytes
// are in or it ends, as a pipe or a file still being written may deliver
// less per read than is there to come. The bytes in; -1 when a read fails.
std::int64_t ReadOn(std::uint8_t* buffer, std::uint32_t done, std::uint32_t count)
{
    while (done < count) {
        const std::int32_t read = platform::Read(ArchiveHandle, buffer + done, count - done);
        if (read < 0)
            return -1;
        if (read == 0)
            break;
        done += static_cast<std::uint32_t>(read);
    }
    return done;
}

// ReadOn after a first read: at least one byte, else a read error; a failed
// read is a read error too.
std::uint32_t ReadArchive(std::uint8_t* buffer, std::uint32_t count)
{
    const std::int64_t done =
        ReadOn(buffer, static_cast<std::uint32_t>(ReadOrStop(ArchiveHandle, buffer, count)), count);
    if (done < 0)
        ReadErrorStop(ArchiveHandle);
    return static_cast<std::uint32_t>(done);
}

// A header field is read whole or not at all: a short one is a read error.
void ReadHeaderField(void* field, std::uint32_t size)
{
    if (ReadArchive(static_cast<std::uint8_t*>(field), size) < size)
        ReadErrorStop(ArchiveHandle);
}

std::uint32_t LittleEndian(const std::uint8_t* bytes, unsigned count)
{
    std::uint32_t value = 0;
    for (unsigned i = count; i-- > 0;)
        value = value << 8 | bytes[i];
    return value;
}

// A block that breaks the data model ends like a CRC failure, with the CRC
// of the block as it stands.
[[noreturn]] void DamagedBlockStop(std::uint32_t storedCRC)
{
    OutputBlock->ComputeCRC();
    BlockCRCStop(storedCRC, OutputBlock->CRC->Value());
}

// Stages in the order in which a failed construction releases them.
void (*const BuildReleaseOrder[])() = {
    ReleaseSlot<InputBlock>, ReleaseSlot<OutputBlock>, ReleaseSlot<MoveToFront>,
    ReleaseSlot<FileCRC>, ReleaseSlot<Transform>, ReleaseSlot<FirstRLE>,
    ReleaseSlot<SymbolTree>, ReleaseSlot<RunTree>, ReleaseSlot<RunExtensionTree>,
    ReleaseSlot<MiddleBlock>,
};

// Releases the first `built` stages of BuildReleaseOrder and stops when the
// stage just created reports a failed construction.
void CheckConstruction(std::uint8_t status, unsigned built)
{
    if (status == 0)
        return;
    for (unsigned i = 0; i < built; ++i)
        BuildReleaseOrder[i]();
    FatalStop(status);
}

void CheckHeader()
{
    std::uint8_t signature[4];
    ReadHeaderField(signature, 4);
    if (std::memcmp(signature, twx::Signature, 4) != 0) {
        platform::Close(ArchiveHandle);
        PrintLine("Signatur der Datei besch\xE4"
                  "digt - falsches Format?");
        EndStopped(false);
    }

    std::uint8_t version[2], headerWord[4], storedCRC[4];
    ReadHeaderField(version, 2);
    ReadHeaderField(headerWord, 4);
    ReadHeaderField(storedCRC, 4);
    HeaderWord = LittleEndian(headerWord, 4);

    TCRC* headerCRC = TCRC::Create();
    headerCRC->Update(version[0]);
    headerCRC->Update(version[1]);
    for (std::uint8_t b : headerWord)
        headerCRC->Update(b);
    const std::uint32_t computed = headerCRC->Value();
    Release(headerCRC);
    if (computed != LittleEndian(storedCRC, 4))
        HeaderStop("Header CRC ungueltig - Datei zerstoert?");

    if (LittleEndian(version, 2) != twx::Version) {
        PrintLine(std::string("Updates dieses Programms auf ") + UpdateAddresses);
        HeaderStop("Dateiversion ungeeignet - bitte entsprechende Software suchen...");
    }

    std::uint8_t mark[2];
    ReadHeaderField(mark, 2);
    if (std::memcmp(mark, twx::BlockEntryMark, 2) != 0)
        HeaderStop("Blockeinstiegspunkt kann nicht gefunden werden...");

    std::uint8_t code;
    ReadHeaderField(&code, 1);
    BlockSize = static_cast<std::uint32_t>(code) << twx::BlockSizeShift;
    if (BlockSize < 1 || BlockSize > twx::LargestAcceptedBlockSize)
        HeaderStop("ungueltige Blockgroesse...");
}

void BuildStages()
{
    InputBlock = TBlock::Create(BlockSize);
    CheckConstruction(InputBlock->Status, 0);
    OutputBlock = TBlock::Create(BlockSize);
    CheckConstruction(OutputBlock->Status, 1);
    Transform = TBWTransform::Create(BlockSize);
    CheckConstruction(Transform->Status, 2);
    MoveToFront = Tmsmtf::Create();
    FileCRC = TCRC::Create();
    FirstRLE = TRLE::Create(twx::FirstStageMaxExtra);
    CheckConstruction(FirstRLE->Status, 5);
    SymbolTree = THuffmanTree::Create(twx::SymbolTreeSize);
    CheckConstruction(SymbolTree->Status, 6);
    RunTree = THuffmanTree::Create(twx::RunTreeSize);
    CheckConstruction(RunTree->Status, 7);
    RunExtensionTree = THuffmanTree::Create(twx::RunExtensionTreeSize);
    CheckConstruction(RunExtensionTree->Status, 8);
    MiddleBlock = TBlock::Create(BlockSize);
    CheckConstruction(MiddleBlock->Status, 9);
    SecondRLE = TRLE::Create(twx::SecondStageMaxExtra);
    CheckConstruction(SecondRLE->Status, 10);
}

void WireStages()
{
    InputBlock->OnFill = FillInputBlock;
    SymbolTree->OnReadBit = GetInputBit;
    RunTree->OnReadBit = GetInputBit;
    RunExtensionTree->OnReadBit = GetInputBit;
    for (auto& threshold : FirstRLE->Threshold)
        threshold = twx::RunThreshold(twx::FirstStageGroup);
    FirstRLE->OnGetSymbol = GetCodedByte;
    FirstRLE->OnGetRunLength = GetCodedRunLength;
    FirstRLE->OnPut = PutMiddleByte;
    for (auto& threshold : SecondRLE->Threshold)
        threshold = twx::RunThreshold(twx::SecondStageGroup);
    SecondRLE->OnGetSymbol = GetMiddleByte;
    SecondRLE->OnGetRunLength = GetMiddleCount;
    SecondRLE->OnPut = PutOutputByte;
    platform::AdviseRandomAccess(Transform->Links, Transform->LinkBytes);
    Transform->Input = MiddleBlock->Data;
    Transform->Output = OutputBlock->Data;
    OutputBlock->OnFill = DecodeNextBlock;
}

}  // namespace

namespace {
// Time per pipeline stage, in a build with UNTWX_STAGE_TIMES only: printed
// to standard error when the command ends.
namespace stage_times {
enum Stage { Entropy, LinkBuild, Walk, SecondStage, BlockCRC, Stages };
#ifdef UNTWX_STAGE_TIMES
constexpr bool Enabled = true;
// Processor time of the process, so that other load on the machine counts little.
std::clock_t Mark;
std::clock_t Spent[Stages];
// What each stage worked on: move-to-front symbols decoded, bytes linked,
// walked, expanded and checked.
std::uint64_t Units[Stages];

void Start() { Mark = std::clock(); }
void Stop(Stage stage)
{
    const std::clock_t now = std::clock();
    Spent[stage] += now - Mark;
    Mark = now;
}
void Count(Stage stage, std::uint64_t units) { Units[stage] += units; }
void Report()
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
#else
constexpr bool Enabled = false;
void Start() {}
void Stop(Stage) {}
void Count(Stage, std::uint64_t) {}
void Report() {}
#endif
}  // namespace stage_times
}  // namespace

void OpenArchive(TCommand command)
{
    StagesBuilt = false;
    DecodingAhead = false;
    CheckHeader();
    StagesBuilt = true;
    BuildStages();
    WireStages();

    std::uint32_t count = 0;
    InputBlock->OnFill(InputBlock->Data, InputBlock->Capacity, count);
    InputBlock->SetUsedLength(count);

    // Stage times are process CPU times: they need everything on one thread.
    if (platform::UsableProcessors() > 1 && !stage_times::Enabled)
        StartDecodingAhead();
    {
        const AheadGuard endsWorker;
        command();
    }
    stage_times::Report();
    ReleaseStages();
}

void ReleaseStages()
{
    Release(InputBlock);
    Release(OutputBlock);
    Release(MiddleBlock);
    Release(MoveToFront);
    Release(FileCRC);
    Release(Transform);
    Release(FirstRLE);
    Release(SymbolTree);
    Release(RunTree);
    Release(RunExtensionTree);
    Release(SecondRLE);
    Release(AheadBlock);
}

std::int32_t ReadOrStop(platform::FileHandle file, void* buffer, std::uint32_t count)
{
    const std::int32_t read = platform::Read(file, buffer, count);
    if (read < 1)
        ReadErrorStop(file);
    return read;
}

void FatalStop(std::uint8_t status)
{
    PrintLine("Fehler " + std::to_string(status) + " aufgetreten - Programm wird beendet...");
    platform::Close(ArchiveHandle);
    PauseAndStop();
}

void BlockCRCStop(std::uint32_t stored, std::uint32_t computed)
{
    StopDecodingAhead();
    PrintLine("BlockCRCFehler! (is:" + CrcToHex(stored) + " should:" + CrcToHex(computed) +
              ") - Abbruch, Datei zerstoert!");
    platform::Close(ArchiveHandle);
    if (StagesBuilt)
        ReleaseStages();
    PauseAndStop();
}

void FillInputBlock(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& count)
{
    std::memset(buffer, 0, capacity);
    count = ReadArchive(buffer, capacity);
    InputBlock->Rewind();
}

bool GetInputBit()
{
    return InputBlock->ReadBit() != 0;
}

namespace {
// The trees read InputBlock's bits, as through GetInputBit, without a call per bit.
std::uint32_t DecodeFromInput(THuffmanTree& tree)
{
    return tree.DecodeSymbolFrom(*InputBlock);
}
}  // namespace

std::uint8_t GetCodedByte()
{
    return MoveToFront->Decode(static_cast<std::uint8_t>(DecodeFromInput(*SymbolTree)));
}

std::uint32_t GetCodedRunLength()
{
    if (InputBlock->ReadBit() == 0)
        return 0;
    std::uint32_t n = (DecodeFromInput(*RunTree) & 15u) + 1;
    if (n > twx::RunTreeEscape)
        n += DecodeFromInput(*RunExtensionTree);
    return n;
}

namespace {
// The byte rules of the second stage's source, over a cursor and an
// overrun flag of the caller's: reads stay within the block size.
std::uint8_t MiddleByteAt(const std::uint8_t* middle, std::uint32_t& cursor, bool& overrun)
{
    if (cursor >= BlockSize) {
        overrun = true;
        return 0;
    }
    return middle[cursor++];
}

std::uint32_t MiddleCountAt(const std::uint8_t* middle, std::uint32_t& cursor, bool& overrun)
{
    if (BlockSize - cursor < 2) {
        overrun = true;
        return 0;
    }
    const std::uint8_t* bytes = middle + cursor;
    cursor += 2;
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

// Set when a second-stage read would leave MiddleBlock.
bool MiddleOverrun = false;
}  // namespace

void PutMiddleByte(std::uint8_t value)
{
    PutRunAt(MiddleBlock->Data, MiddleCursor, value, 1);
}

std::uint8_t GetMiddleByte()
{
    return MiddleByteAt(MiddleBlock->Data, MiddleCursor, MiddleOverrun);
}

std::uint32_t GetMiddleCount()
{
    return MiddleCountAt(MiddleBlock->Data, MiddleCursor, MiddleOverrun);
}

void PutOutputByte(std::uint8_t value)
{
    PutRunAt(OutputBlock->Data, OutputCursor, value, 1);
}

namespace {

// The fields that open a block.
struct BlockFields {
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
    BlockFields Fields{};
    FirstPhaseStop Stop = FirstPhaseStop::None;
    std::uint32_t InputUsedLength = 0;
    std::uint32_t InputCursor = 0;
    bool Ready = false;  // decoded, not yet finished (under HandOverLock)
};

// What the worker touches per symbol, on cache lines of its own so that the
// command's per-byte state never shares one: a read that failed, and the
// command's wish that it stop.
struct alignas(64) TAheadState {
    bool ReadFailed = false;
    std::atomic<bool> StopWanted = false;  // set under HandOverLock
};
TAheadState Ahead;

// Once a read has failed, or the command wants no more blocks, the rest of
// the block is not worth decoding: it is never used.
bool AbandonBlockAhead()
{
    return Ahead.ReadFailed || Ahead.StopWanted.load(std::memory_order_relaxed);
}

// First phase of a block: from the input bits to the transform's input in
// phase.Middle (the three trees, move-to-front, first run-length stage). It
// touches only InputBlock, the trees, MoveToFront, FirstRLE and phase.Middle.
// The same as FirstRLE->Decode through GetCodedByte, GetCodedRunLength and
// PutMiddleByte, without a call per symbol or byte. A damaged block is
// recorded in phase.Stop, not carried out; OnWorker: decoding ahead, where
// a block that need not be finished is left.
template <bool OnWorker>
void DecodeFirstPhase(TFirstPhase& phase)
{
    stage_times::Start();
    BlockFields& block = phase.Fields;
    block.Length = InputBlock->ReadLongWord();
    block.PrimaryIndex = InputBlock->ReadLongWord();
    block.StoredCRC = InputBlock->ReadLongWord();
    phase.Stop = FirstPhaseStop::None;
    if (block.Length > BlockSize) {
        phase.Stop = FirstPhaseStop::DamagedBlock;
    } else {
        std::uint8_t* const middle = phase.Middle->Data;
        std::uint32_t cursor = 0;
        // Runs stop at the stage's count, so the writes stay within Length bytes.
        FirstRLE->DecodeWith(
            block.Length,
            [] {
                if (OnWorker && AbandonBlockAhead())
                    return std::uint8_t{0};
                stage_times::Count(stage_times::Entropy, 1);
                return MoveToFront->DecodeSymbolOnly(static_cast<std::uint8_t>(DecodeFromInput(*SymbolTree)));
            },
            [] { return OnWorker && AbandonBlockAhead() ? 0u : GetCodedRunLength(); },
            [middle, &cursor](std::uint8_t value, std::uint32_t copies) { PutRunAt(middle, cursor, value, copies); });
        MoveToFront->RefreshPositionOf();
        if (!OnWorker)
            MiddleCursor = cursor;
        if (FirstRLE->Status == TRLE::StatusRunCut)
            phase.Stop = FirstPhaseStop::DamagedBlock;
    }
    phase.InputUsedLength = InputBlock->UsedLength;
    phase.InputCursor = InputBlock->Cursor;
    stage_times::Stop(stage_times::Entropy);
}

// A block that breaks the data model before its transform: the block as it
// then stands is all zeros.
[[noreturn]] void DamagedBlockStopCleared(std::uint32_t storedCRC)
{
    OutputBlock->Clear();
    DamagedBlockStop(storedCRC);
}

// Second phase, on the command's thread: the stop held with the block, or
// transform, second run-length stage and CRC check, from MiddleBlock into
// OutputBlock. When the second stage runs, the transform writes over its own
// input in MiddleBlock and the stage expands it from there; otherwise it
// writes OutputBlock. Either way the bytes are those of the transform into a
// cleared OutputBlock and the copy into MiddleBlock.
void FinishBlock(const TFirstPhase& phase)
{
    if (phase.Stop == FirstPhaseStop::ReadError)
        ReadErrorStop(ArchiveHandle);
    const BlockFields& block = phase.Fields;
    if (phase.Stop == FirstPhaseStop::DamagedBlock)
        DamagedBlockStopCleared(block.StoredCRC);

    std::uint8_t* const middle = MiddleBlock->Data;
    Transform->Input = middle;
    Transform->SetLength(block.Length);
    const std::uint32_t length = Transform->Length;
    // A refused length leaves a longer one: its tail reads as zeros.
    if (length > block.Length)
        std::memset(middle + block.Length, 0, length - block.Length);

    const bool expand = block.Length < OutputBlock->UsedLength;
    std::uint8_t* const target = expand ? middle : OutputBlock->Data;
    if (block.PrimaryIndex < length) {
        Transform->Output = target;
        // The buffer that is free until the second stage.
        Transform->Scratch = expand ? OutputBlock->Data : middle;
        Transform->BuildLinks();
        stage_times::Stop(stage_times::LinkBuild);
        Transform->Walk(block.PrimaryIndex);
        std::memset(target + length, 0, BlockSize - length);
        stage_times::Stop(stage_times::Walk);
        stage_times::Count(stage_times::LinkBuild, length);
        stage_times::Count(stage_times::Walk, length);
    } else {
        Transform->Inverse(block.PrimaryIndex);  // refuses: nothing written
        std::memset(target, 0, BlockSize);
    }

    if (expand) {
        std::uint8_t* const output = OutputBlock->Data;
        std::uint32_t in = 0;
        std::uint32_t out = 0;
        bool overrun = false;
        SecondRLE->DecodeWith(
            OutputBlock->UsedLength, [middle, &in, &overrun] { return MiddleByteAt(middle, in, overrun); },
            [middle, &in, &overrun] { return MiddleCountAt(middle, in, overrun); },
            [output, &out](std::uint8_t value, std::uint32_t copies) { PutRunAt(output, out, value, copies); });
        MiddleCursor = in;
        OutputCursor = out;
        if (overrun || SecondRLE->Status == TRLE::StatusRunCut)
            DamagedBlockStop(block.StoredCRC);
        stage_times::Stop(stage_times::SecondStage);
        stage_times::Count(stage_times::SecondStage, OutputBlock->UsedLength);
    }

    OutputBlock->ComputeCRC();
    const std::uint32_t computed = OutputBlock->CRC->Value();
    stage_times::Stop(stage_times::BlockCRC);
    stage_times::Count(stage_times::BlockCRC, OutputBlock->UsedLength);
    if (computed != block.StoredCRC)
        BlockCRCStop(block.StoredCRC, computed);
}

// The hand-over: Phases[i] always uses the same middle buffer; the worker
// fills them in turn, the command's thread takes them in the same order.
std::mutex HandOverLock;
std::condition_variable HandOverChanged;
TFirstPhase Phases[2];
std::thread Worker;

// The command thread's own: the next phase to take, and InputBlock as it
// stood after the last block taken.
unsigned NextToTake = 0;
std::uint32_t TakenInputUsedLength = 0;
std::uint32_t TakenInputCursor = 0;

// InputBlock's OnFill while decoding ahead. A failed read is held, not
// carried out: the rest of the block is left undecoded, and it stops when
// the command reaches it.
void FillInputBlockAhead(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& count)
{
    std::memset(buffer, 0, capacity);
    count = capacity;
    if (!Ahead.ReadFailed) {
        // The same reads as ReadArchive's, so that the chunks are the same.
        const std::int32_t first = platform::Read(ArchiveHandle, buffer, capacity);
        const std::int64_t read = first < 1 ? -1 : ReadOn(buffer, static_cast<std::uint32_t>(first), capacity);
        if (read < 0)
            Ahead.ReadFailed = true;
        else
            count = static_cast<std::uint32_t>(read);
    }
    InputBlock->Rewind();
}

// The worker: first phases, one block ahead of the command, until a stop is
// found or wanted.
void DecodeAhead()
{
    for (unsigned next = 0;; next ^= 1) {
        TFirstPhase& phase = Phases[next];
        {
            std::unique_lock<std::mutex> lock(HandOverLock);
            HandOverChanged.wait(lock, [&phase] { return Ahead.StopWanted || !phase.Ready; });
            if (Ahead.StopWanted)
                return;
        }
        DecodeFirstPhase<true>(phase);
        if (Ahead.ReadFailed)
            phase.Stop = FirstPhaseStop::ReadError;
        const bool stopped = phase.Stop != FirstPhaseStop::None;
        {
            const std::lock_guard<std::mutex> lock(HandOverLock);
            phase.Ready = true;
        }
        HandOverChanged.notify_all();
        if (stopped)
            return;
    }
}

void StartDecodingAhead()
{
    // Of the size MiddleBlock was just built with, so it cannot fail.
    AheadBlock = TBlock::Create(BlockSize);
    Phases[0] = TFirstPhase{};
    Phases[0].Middle = MiddleBlock;
    Phases[1] = TFirstPhase{};
    Phases[1].Middle = AheadBlock;
    Ahead.StopWanted = false;
    Ahead.ReadFailed = false;
    NextToTake = 0;
    TakenInputUsedLength = InputBlock->UsedLength;
    TakenInputCursor = InputBlock->Cursor;
    InputBlock->OnFill = FillInputBlockAhead;
    DecodingAhead = true;
    try {
        Worker = std::thread(DecodeAhead);
    } catch (const std::system_error&) {
        // No second thread to be had: one pipeline, wired as usual.
        WireStages();
        DecodingAhead = false;
    }
}

// The command's side of a block decoded ahead: waits for its first phase,
// finishes it, and gives its middle buffer back to the worker.
void FinishBlockDecodedAhead()
{
    TFirstPhase& phase = Phases[NextToTake];
    {
        std::unique_lock<std::mutex> lock(HandOverLock);
        HandOverChanged.wait(lock, [&phase] { return phase.Ready; });
    }
    MiddleBlock = phase.Middle;
    AheadBlock = Phases[NextToTake ^ 1].Middle;
    TakenInputUsedLength = phase.InputUsedLength;
    TakenInputCursor = phase.InputCursor;
    FinishBlock(phase);
    {
        const std::lock_guard<std::mutex> lock(HandOverLock);
        phase.Ready = false;
    }
    HandOverChanged.notify_all();
    NextToTake ^= 1;
}

// Ends the worker, if one runs, and waits for it: at the latest after the
// block it is decoding.
void StopDecodingAhead()
{
    if (!Worker.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(HandOverLock);
        Ahead.StopWanted = true;
    }
    HandOverChanged.notify_all();
    Worker.join();
    DecodingAhead = false;
}

}  // namespace

void DecodeNextBlock(std::uint8_t*, std::uint32_t, std::uint32_t& count)
{
    if (DecodingAhead) {
        FinishBlockDecodedAhead();
    } else {
        TFirstPhase phase;
        phase.Middle = MiddleBlock;
        DecodeFirstPhase<false>(phase);
        FinishBlock(phase);
    }
    count = OutputBlock->UsedLength;
    OutputBlock->Rewind();
}

void PullDecodedBlock()
{
    std::uint32_t count = 0;
    OutputBlock->OnFill(OutputBlock->Data, OutputBlock->Capacity, count);
    OutputBlock->SetUsedLength(count);
}

bool MoreBlocksPending()
{
    // While decoding ahead InputBlock is the worker's; what counts is where
    // it stood after the last block the command took.
    const std::uint32_t used = DecodingAhead ? TakenInputUsedLength : InputBlock->UsedLength;
    const std::uint32_t cursor = DecodingAhead ? TakenInputCursor : InputBlock->Cursor;
    return used == BlockSize || used > cursor + 1;
}

bool ReadEntryHeader(DirectoryEntry& entry)
{
    entry.NameLength = OutputBlock->ReadByte();
    if (entry.NameLength == twx::EndMark)
        return false;
    entry.Size = OutputBlock->ReadLongWord();
    entry.DateTime = OutputBlock->ReadLongWord();
    entry.Attributes = OutputBlock->ReadLongWord();
    entry.Name.clear();
    for (unsigned i = 0; i < entry.NameLength; ++i)
        entry.Name.push_back(static_cast<char>(OutputBlock->ReadByte()));
    return true;
}

std::string_view DisplayName(std::string_view name)
{
    const auto cut = name.find_last_of("\\:");
    return cut == std::string_view::npos ? name : name.substr(cut + 1);
}

std::uint32_t UnreadOutputBytes()
{
    return OutputBlock->UnreadBytes();
}
