// The archive reader's header check and set-up: the header's fields in
// order, the eleven stages built and wired, the first chunk loaded; reading
// the archive; releasing everything the reader owns.
#include <cstring>

#include "ArchiveFormat.h"
#include "ArchiveReader.h"

thread_local TArchiveReader* TArchiveReader::Decoding = nullptr;

namespace {

std::uint32_t LittleEndian(const std::uint8_t* bytes, unsigned count)
{
    std::uint32_t value = 0;
    for (unsigned i = count; i-- > 0;)
        value = value << 8 | bytes[i];
    return value;
}

[[noreturn]] void Stop(StopKind kind)
{
    throw TArchiveStop{kind};
}

// A block as TBlock::Init leaves it, in the memory it already has.
void Renew(TBlock& block)
{
    block.Status = 0;
    block.Rewind();
    block.UsedLength = block.Capacity;
    std::memset(block.Data, 0, block.Capacity);
    block.CRC->Reset();
}

// A transform as TBWTransform::Init leaves it.
void Renew(TBWTransform& transform)
{
    transform.Status = 0;
    transform.Length = transform.Capacity;
    transform.Scratch = nullptr;
}

}  // namespace

TArchiveReader::TArchiveReader(platform::FileHandle archive) : ArchiveHandle(archive) {}

TArchiveReader::~TArchiveReader()
{
    StopDecodingAhead();
    EndThreads();
    ReleaseStages();
    platform::Close(ArchiveHandle);
}

void TArchiveReader::EndArchive()
{
    StopDecodingAhead();
    platform::Close(ArchiveHandle);
    ArchiveHandle = platform::InvalidFile;
}

void TArchiveReader::SetUp()
{
    CheckHeader();
    BuildStages();
    WireStages();

    std::uint32_t count = 0;
    InputBlock->OnFill(InputBlock->Data, InputBlock->Capacity, count);
    InputBlock->SetUsedLength(count);

    if (const unsigned threads = DecodingThreads(); threads > 1)
        StartDecodingAhead(threads);
}

void TArchiveReader::FinishCommand()
{
    StopDecodingAhead();
    Times.Report();
}

std::int32_t TArchiveReader::ReadOrStop(void* buffer, std::uint32_t count)
{
    const std::int32_t read = platform::Read(ArchiveHandle, buffer, count);
    // An archive that could not be opened has been reported already.
    if (read < 0 && ArchiveHandle != platform::InvalidFile)
        throw TArchiveStop{StopKind::ReadError, 0, 0, platform::LastErrorText()};
    if (read < 1)
        Stop(StopKind::ReadError);
    return read;
}

// After a first read of done bytes, reads the archive on until count bytes
// are in or it ends, as a pipe or a file still being written may deliver
// less per read than is there to come. The bytes in; -1 when a read fails.
std::int64_t TArchiveReader::ReadOn(std::uint8_t* buffer, std::uint32_t done, std::uint32_t count)
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
std::uint32_t TArchiveReader::ReadArchive(std::uint8_t* buffer, std::uint32_t count)
{
    const std::int64_t done = ReadOn(buffer, static_cast<std::uint32_t>(ReadOrStop(buffer, count)), count);
    if (done < 0)
        Stop(StopKind::ReadError);
    return static_cast<std::uint32_t>(done);
}

// A header field is read whole or not at all: a short one is a read error.
void TArchiveReader::ReadHeaderField(void* field, std::uint32_t size)
{
    if (ReadArchive(static_cast<std::uint8_t*>(field), size) < size)
        Stop(StopKind::ReadError);
}

void TArchiveReader::CheckHeader()
{
    std::uint8_t signature[4];
    ReadHeaderField(signature, 4);
    if (std::memcmp(signature, twx::Signature, 4) != 0)
        Stop(StopKind::BadSignature);

    std::uint8_t version[2], headerWord[4], storedCRC[4];
    ReadHeaderField(version, 2);
    ReadHeaderField(headerWord, 4);
    ReadHeaderField(storedCRC, 4);
    TCRC headerCRC;
    headerCRC.Update(version[0]);
    headerCRC.Update(version[1]);
    for (std::uint8_t b : headerWord)
        headerCRC.Update(b);
    if (headerCRC.Value() != LittleEndian(storedCRC, 4))
        Stop(StopKind::BadHeaderCrc);
    if (LittleEndian(version, 2) != twx::Version)
        Stop(StopKind::OtherVersion);

    std::uint8_t mark[2];
    ReadHeaderField(mark, 2);
    if (std::memcmp(mark, twx::BlockEntryMark, 2) != 0)
        Stop(StopKind::NoBlockMark);

    std::uint8_t code;
    ReadHeaderField(&code, 1);
    BlockSize = static_cast<std::uint32_t>(code) << twx::BlockSizeShift;
    if (BlockSize < 1 || BlockSize > twx::LargestAcceptedBlockSize)
        Stop(StopKind::BadBlockSize);
}

// The header has bounded BlockSize, so no construction can fail: every
// size is within the stages' limits, and a failed allocation throws.
void TArchiveReader::BuildStages()
{
    if (BuiltBlockSize == BlockSize) {
        RenewStages();
        return;
    }
    ReleaseStages();
    InputBlock.reset(TBlock::Create(BlockSize));
    OutputBlock.reset(TBlock::Create(BlockSize));
    Transform.reset(TBWTransform::Create(BlockSize));
    MoveToFront.reset(Tmsmtf::Create());
    FileCRC.reset(TCRC::Create());
    FirstRLE.reset(TRLE::Create(twx::FirstStageMaxExtra));
    SymbolTree.reset(THuffmanTree::Create(twx::SymbolTreeSize));
    RunTree.reset(THuffmanTree::Create(twx::RunTreeSize));
    RunExtensionTree.reset(THuffmanTree::Create(twx::RunExtensionTreeSize));
    MiddleBlock.reset(TBlock::Create(BlockSize));
    SecondRLE.reset(TRLE::Create(twx::SecondStageMaxExtra));
    BuiltBlockSize = BlockSize;
    TransformLength = Transform->Length;
}

// The stages of the archive before, put back as BuildStages leaves them:
// trees in their first shape, move-to-front at the identity, buffers zeroed
// and rewound, statuses cleared. WireStages wires them as usual.
void TArchiveReader::RenewStages()
{
    for (TBlock* block : {InputBlock.get(), OutputBlock.get(), MiddleBlock.get()})
        Renew(*block);
    MoveToFront->Reset();
    FileCRC->Reset();
    Renew(*Transform);
    TransformLength = Transform->Length;
    FirstRLE->Status = 0;
    SecondRLE->Status = 0;
    SymbolTree->Reset();
    RunTree->Reset();
    RunExtensionTree->Reset();
    // Decoding ahead keeps its slots and finishing stages, renewed alike,
    // and empties the slots.
    for (TFinisherStages& stages : Ahead.Finishers) {
        if (stages.OwnTransform)
            Renew(*stages.OwnTransform);
        if (stages.OwnSecondStage)
            stages.OwnSecondStage->Status = 0;
    }
    if (AheadBlock)
        Renew(*AheadBlock);
    for (TBlockSlot& slot : Ahead.Slots) {
        for (TStage<TBlock>* block : {&slot.OwnMiddle, &slot.OwnOutput})
            if (*block)
                Renew(**block);
        slot.Now = TBlockSlot::State::Free;
        slot.Number = 0;
        slot.Phase = TFirstPhase{};
        slot.Phase.Middle = slot.Stages.Middle;
        slot.Finish = TFinish{};
    }
    Times = TStageTimes{};
}

// The block pipeline decodes the trees from InputBlock's bits and runs both
// run-length stages with sources of its own, so only the two fills, the
// thresholds and the transform's areas are wired.
void TArchiveReader::WireStages()
{
    InputBlock->OnFill = FillInputBlock;
    for (auto& threshold : FirstRLE->Threshold)
        threshold = twx::RunThreshold(twx::FirstStageGroup);
    for (auto& threshold : SecondRLE->Threshold)
        threshold = twx::RunThreshold(twx::SecondStageGroup);
    platform::AdviseRandomAccess(Transform->Links, Transform->LinkBytes);
    Transform->Input = MiddleBlock->Data;
    Transform->Output = OutputBlock->Data;
    OutputBlock->OnFill = DecodeNextBlock;
}

void TArchiveReader::ReleaseStages()
{
    InputBlock.reset();
    OutputBlock.reset();
    MiddleBlock.reset();
    MoveToFront.reset();
    FileCRC.reset();
    Transform.reset();
    FirstRLE.reset();
    SymbolTree.reset();
    RunTree.reset();
    RunExtensionTree.reset();
    SecondRLE.reset();
    AheadBlock.reset();
    Ahead.Slots.clear();
    Ahead.Finishers.clear();
    Ahead.SlotsBuiltFor = 0;
    BuiltBlockSize = 0;
}
