// The command words beyond "-i" and "-e" with the real program: content
// through a pipe, folders that lead elsewhere on disk, lost output, and the
// help and version words' exit codes.
#include "EndToEnd.h"

#include <unistd.h>

namespace e2e {
namespace {

Bytes Mixed(std::size_t size)
{
    return RandomBytes(size, 11);
}

TEST_F(EndToEndTest, ContentGoesThroughThePipeByteForByte)
{
    const Bytes first = Mixed(70000), second = Text("zweite Datei\r\n");
    Put("a.twx", WriteArchive({::Record("texte\\eins.bin", first), ::Record("zwei.txt", second)}, WriterOptions{}));
    const ChildResult all = Run({"-p", "a.twx"});
    EXPECT_EQ(all.exitCode, 0);
    Bytes both = first;
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_TRUE(all.output == std::string(both.begin(), both.end())) << "content of both files, in order";
    const ChildResult chosen = Run({"-p", "a.twx", "*.TXT"});
    EXPECT_EQ(chosen.output, std::string(second.begin(), second.end()));
    std::ofstream(Work / "inhalt.bin").flush();
    ChildRequest toFile = Request({"-p", "a.twx", "eins.bin"});
    toFile.outputFile = (Work / "inhalt.bin").string();
    EXPECT_EQ(RunRequest(toFile).exitCode, 0);
    EXPECT_TRUE(ReadBytes(Work / "inhalt.bin") == first) << "the same bytes into a file";
}

TEST_F(EndToEndTest, FoldersOnDiskNeverLeadOutOfTheTarget)
{
    // Under Wine a link to a folder is followed by the system itself, so the
    // link case is checked natively.
    const bool link = !RunsUnderWine();
    fs::create_directories(Work / "out");
    fs::create_directories(Work / "woanders");
    if (link)
        fs::create_directory_symlink(Work / "woanders", Work / "out" / "texte");
    std::ofstream(Work / "out" / "datei") << "im Weg";
    Put("a.twx", WriteArchive({::Record("texte\\a.txt", Text("1")), ::Record("datei\\b.txt", Text("2")),
                               ::Record("neu\\c.txt", Text("3")), ::Record("con\\d.txt", Text("4"))},
                              WriterOptions{}));
    const ChildResult run = Run({"-x", "a.twx", "out"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(fs::is_empty(Work / "woanders")) << "nothing through the link";
    EXPECT_EQ(ReadText(Work / "out" / "datei"), "im Weg");
    EXPECT_EQ(ReadText(Work / "out" / "neu" / "c.txt"), "3");
    EXPECT_EQ(fs::exists(Work / "out" / "texte" / "a.txt"), !link);
    EXPECT_EQ(run.errors.find("texte\\a.txt: ") != std::string::npos, link) << run.errors;
    EXPECT_NE(run.errors.find("datei\\b.txt: "), std::string::npos) << run.errors;
    // A device name is no folder on Win32; elsewhere it is a name like any.
    EXPECT_EQ(fs::exists(Work / "out" / "con" / "d.txt"), !RunsUnderWine());
}

TEST_F(EndToEndTest, OutputLostToAFullDiskEndsWithExitCodeOne)
{
    if (::access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    Put("a.twx", SampleArchive());
    for (const char* command : {"-i", "-l"}) {
        ChildRequest request = Request({command, "a.twx"});
        request.outputFile = "/dev/full";
        const ChildResult run = RunRequest(request);
        EXPECT_EQ(run.exitCode, 1) << command;
        EXPECT_NE(run.errors.find("Standardausgabe konnte nicht geschrieben werden"), std::string::npos) << command;
    }
}

TEST_F(EndToEndTest, HelpVersionAndCheckAnswerWithTheirExitCodes)
{
    Put("a.twx", SampleArchive());
    EXPECT_EQ(Run({"--help"}).exitCode, 0);
    const ChildResult version = Run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.output.starts_with("UNTWX ")) << version.output;
    const ChildResult check = Run({"-t", "a.twx", "fehlt.twx"});
    EXPECT_EQ(check.exitCode, 2);
    EXPECT_EQ(check.output, CrLfLines({"a.twx: OK", "fehlt.twx: Lesefehler! - Disk/Datei zerstoert?"}));
}

}  // namespace
}  // namespace e2e
