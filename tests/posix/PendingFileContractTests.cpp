// The rules of the pending file, run against each platform through the same
// tests: what the program relies on, the real platform and the test double alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "ContractWorld.h"
#include "PendingFile.h"

namespace {

using Names = std::vector<std::string>;

class PendingFileContract : public ::testing::Test {
protected:
    void SetUp() override { world::Fresh(); }
    void TearDown() override { world::LimitFileSize(0); }

    // Writes content as name through a pending file of a freshly held folder.
    static bool Extract(const std::string& name, const std::string& content, std::uint32_t attributes = 0x20)
    {
        PendingFile pending(world::Folder());
        if (!pending.Create(name, platform::InvalidFile))
            return false;
        EXPECT_EQ(pending.Write(content.data(), static_cast<std::uint32_t>(content.size())),
            static_cast<std::int32_t>(content.size()));
        return pending.Commit(0, attributes);
    }
};

TEST_F(PendingFileContract, TemporaryFileIsANewHiddenNameBesideTheTargetUntilCommitted)
{
    EXPECT_NE(platform::TemporaryName(), platform::TemporaryName());
    PendingFile pending(world::Folder());
    ASSERT_TRUE(pending.Create("a.txt", platform::InvalidFile));
    EXPECT_EQ(pending.Write("abc", 3), 3);
    EXPECT_EQ(pending.Write("", 0), 0);
    const Names during = world::Entries();
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during[0].find("untwx-"), 1u) << during[0];
    EXPECT_TRUE(during[0][0] == '.' || during[0][0] == '~') << during[0];
    ASSERT_TRUE(pending.Commit(0, 0x20));
    EXPECT_EQ(world::Entries(), Names{"a.txt"});
    EXPECT_EQ(world::Content("a.txt"), "abc");
}

// What stands at the name before the commit, and whether it is replaced.
struct Existing {
    const char* what;
    bool (*put)();
    bool replaced;
};

const Existing ExistingNames[] = {
    {"nothing", [] { return true; }, true},
    {"a file",
        [] {
            world::PutFile("a.txt", "old and longer");
            return true;
        },
        true},
    {"a read-only file",
        [] {
            world::PutFile("a.txt", "old and longer", true);
            return true;
        },
        false},
    {"a folder",
        [] {
            world::PutFolder("a.txt");
            return true;
        },
        false},
    {"a link to a file",
        [] {
            world::PutFile("t", "old");
            return world::PutLink("a.txt", "t");
        },
        true},
    {"a link to nothing", [] { return world::PutLink("a.txt", "nowhere"); }, true},
};

void PrintTo(const Existing& existing, std::ostream* out)
{
    *out << existing.what;
}

class CommitOver : public PendingFileContract, public ::testing::WithParamInterface<Existing> {};

TEST_P(CommitOver, ReplacesWholeOrLeavesItAndNoTemporaryFileStays)
{
    if (!GetParam().put())
        GTEST_SKIP() << "the platform has no links";
    const Names before = world::Entries();
    const std::optional<std::string> old = world::Content("a.txt");
    const std::optional<std::string> target = world::Content("t");

    EXPECT_EQ(Extract("a.txt", "new", 0x21), GetParam().replaced);

    Names after = before;
    if (GetParam().replaced && old == std::nullopt && std::find(after.begin(), after.end(), "a.txt") == after.end()) {
        after.push_back("a.txt");
        std::sort(after.begin(), after.end());
    }
    EXPECT_EQ(world::Entries(), after);
    EXPECT_EQ(world::Content("a.txt"), GetParam().replaced ? std::optional<std::string>("new") : old);
    EXPECT_EQ(world::IsReadOnly("a.txt"), GetParam().replaced || old.has_value());
    EXPECT_EQ(world::Content("t"), target) << "written through the link";
    EXPECT_FALSE(world::IsReadOnly("t")) << "the attribute reached the link's target";
}

INSTANTIATE_TEST_SUITE_P(Names, CommitOver, ::testing::ValuesIn(ExistingNames), [](const auto& info) {
    std::string name = info.param.what;
    std::replace(name.begin(), name.end(), ' ', '_');
    std::erase(name, '-');
    return name;
});

TEST_F(PendingFileContract, DiscardLeavesTheFolderAsItWas)
{
    world::PutFile("a.txt", "earlier");
    {
        PendingFile pending(world::Folder());
        ASSERT_TRUE(pending.Create("a.txt", platform::InvalidFile));
        EXPECT_EQ(pending.Write("part", 4), 4);
        pending.Discard();
        EXPECT_FALSE(pending.Commit(0, 0x20)) << "nothing is left to commit";
        ASSERT_TRUE(pending.Create("b.txt", platform::InvalidFile));
        EXPECT_EQ(pending.Write("part", 4), 4);
    }  // an unfinished file goes with the extraction
    EXPECT_EQ(world::Entries(), Names{"a.txt"});
    EXPECT_EQ(world::Content("a.txt"), "earlier");
}

TEST_F(PendingFileContract, TheArchiveIsNeverReplacedWhateverItsName)
{
    world::PutFile("a.twx", "archive");
    const platform::FileHandle archive = world::OpenInFolder("a.twx");
    ASSERT_NE(archive, platform::InvalidFile);
    {
        PendingFile pending(world::Folder());
        EXPECT_FALSE(pending.Create("a.twx", archive));
        EXPECT_TRUE(pending.Create("b.twx", archive));
    }
    platform::Close(archive);
    EXPECT_EQ(world::Entries(), Names{"a.twx"});
    EXPECT_EQ(world::Content("a.twx"), "archive");
}

TEST_F(PendingFileContract, FolderIsMadeWithItsParentsUnlessAFileStandsInTheWay)
{
    world::PutFile("datei", "x");
    {
        PendingFile blocked(world::Folder() + "datei/unter/");
        EXPECT_FALSE(blocked.Create("a.txt", platform::InvalidFile));
    }
    PendingFile made(world::Folder() + "neu/tief/");
    ASSERT_TRUE(made.Create("a.txt", platform::InvalidFile));
    EXPECT_TRUE(made.Commit(0, 0x20));
    EXPECT_EQ(world::Content("neu/tief/a.txt"), "");
    EXPECT_EQ(world::Content("datei"), "x");
}

TEST_F(PendingFileContract, FolderHeldWhenItsPathIsReplacedByALinkMeanwhile)
{
    PendingFile pending(world::Folder());
    ASSERT_TRUE(pending.Create("a.txt", platform::InvalidFile));
    ASSERT_TRUE(pending.Commit(0, 0x20));
    if (!world::ReplaceFolderByLink("moved", "decoy"))
        GTEST_SKIP() << "the platform cannot replace a folder";
    ASSERT_TRUE(pending.Create("b.txt", platform::InvalidFile));
    EXPECT_EQ(pending.Write("b", 1), 1);
    EXPECT_TRUE(pending.Commit(0, 0x20));
    EXPECT_EQ(world::EntriesOf("moved"), (Names{"a.txt", "b.txt"}));
    EXPECT_EQ(world::EntriesOf("decoy"), Names{});
}

TEST_F(PendingFileContract, WriteBeyondTheSpaceFailsAndTheDiscardedFileLeavesNothing)
{
    world::PutFile("a.txt", "earlier");
    world::LimitFileSize(5);
    PendingFile pending(world::Folder());
    ASSERT_TRUE(pending.Create("a.txt", platform::InvalidFile));
    EXPECT_EQ(pending.Write("abc", 3), 3);
    EXPECT_EQ(pending.Write("def", 3), -1);
    pending.Discard();
    world::LimitFileSize(0);
    EXPECT_EQ(world::Entries(), Names{"a.txt"});
    EXPECT_EQ(world::Content("a.txt"), "earlier");
}

TEST_F(PendingFileContract, ShortReadsDeliverEveryByteOnceThenTheEnd)
{
    const std::string content = "0123456789abcdefghij";
    const platform::FileHandle file = world::OpenInPieces(content, 3);
    ASSERT_NE(file, platform::InvalidFile);
    std::string read;
    char buffer[16];
    std::int32_t got;
    while ((got = platform::Read(file, buffer, sizeof buffer)) > 0) {
        EXPECT_LE(got, 3);
        read.append(buffer, static_cast<std::size_t>(got));
    }
    EXPECT_EQ(got, 0);
    EXPECT_EQ(read, content);
    platform::Close(file);
}

}  // namespace
