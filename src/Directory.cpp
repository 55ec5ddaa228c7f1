// The directory of the decoded stream: the explicit pull of a block, whether
// more blocks are pending, and the records that precede each file's content.
#include "ArchiveFormat.h"
#include "ArchiveReader.h"

void TArchiveReader::PullDecodedBlock()
{
    std::uint32_t count = 0;
    OutputBlock->OnFill(OutputBlock->Data, OutputBlock->Capacity, count);
    OutputBlock->SetUsedLength(count);
}

bool TArchiveReader::MoreBlocksPending() const
{
    // While decoding ahead InputBlock is the worker's; what counts is where
    // it stood after the last block the command took.
    const std::uint32_t used = Ahead.Running ? Ahead.TakenInputUsedLength : InputBlock->UsedLength;
    const std::uint32_t cursor = Ahead.Running ? Ahead.TakenInputCursor : InputBlock->Cursor;
    return used == BlockSize || used > cursor + 1;
}

bool TArchiveReader::ReadEntryHeader(DirectoryEntry& entry)
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
