// What "-e" makes of paths, names and dates on the system it runs on: long
// paths, names in any code page, trailing dots, summer and winter time.
#include "EndToEnd.h"

namespace e2e {
namespace {

// Wine under a Russian UTF-8 locale: ANSI code page 1251. The locale is
// compiled into the build folder, as machines seldom have it generated, and
// used in a Wine prefix of its own, so that no other run sees it.
Environment CyrillicWineSettings()
{
    const fs::path scratch = UNTWX_TEST_SCRATCH;
    const fs::path locales = scratch / "locales";
    const fs::path compiled = locales / "ru_RU.UTF-8";
    if (!fs::exists(compiled / "LC_CTYPE")) {
        std::string pattern = (scratch / "locale-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            const fs::path fresh = fs::path(pattern) / "ru_RU.UTF-8";
            const std::string command = "localedef -i ru_RU -f UTF-8 '" + fresh.string() + "' >/dev/null 2>&1";
            [[maybe_unused]] const int status = std::system(command.c_str());  // warnings still give a locale
            std::error_code ignored;
            fs::create_directories(locales, ignored);
            fs::rename(fresh, compiled, ignored);  // a parallel run may have been first
            fs::remove_all(pattern, ignored);
        }
    }
    EXPECT_TRUE(fs::exists(compiled / "LC_CTYPE")) << "localedef could not compile ru_RU.UTF-8";
    return {{"LOCPATH", locales.string()},
            {"LC_ALL", "ru_RU.UTF-8"},
            {"LANG", "ru_RU.UTF-8"},
            {"WINEPREFIX", (scratch / "wine-cyrillic").string()}};
}

class FileSystem : public EndToEndTest {
protected:
    // Extracts a.twx into folder, which the test has made.
    ChildResult Extract(const Bytes& archive, const std::string& folder, Environment environment = {})
    {
        Put("a.twx", archive);
        return Run({"-e", "a.twx", folder}, "", std::move(environment));
    }

    static std::string Report(const std::string& archive, const std::string& folder, const std::vector<std::string>& rows)
    {
        std::vector<std::string> lines{StartLine(archive, folder + FolderSeparator()), "", "Blockgroesse: 32768 Bytes",
                                       ""};
        lines.insert(lines.end(), rows.begin(), rows.end());
        lines.insert(lines.end(), {"", "-done"});
        return CrLfLines(lines);
    }
};

TEST_F(FileSystem, TargetFolderOf300CharactersTakesEveryRecord)
{
    const std::string folder = std::string(150, 'a') + "/" + std::string(149, 'b');
    fs::create_directories(Work / folder);
    const ChildResult run = Extract(Archive({Record("tief.txt", "abc")}), folder);

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, Report("a.twx", folder, {ExtractionRow("tief.txt", 1, true)}));
    EXPECT_EQ(ReadText(Work / folder / "tief.txt"), "abc");
}

TEST_F(FileSystem, NameOf255CharactersIsExtracted)
{
    // Given in full, the folder and the name together pass 260 characters.
    const std::string folder = (Work / "out").string();
    const std::string name = std::string(251, 'n') + ".txt";
    fs::create_directory(folder);
    const ChildResult run = Extract(Archive({Record(name, "abc"), Record("danach.txt", "def")}), folder);

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output,
              Report("a.twx", folder, {ExtractionRow(name, 1, true), ExtractionRow("danach.txt", 1, true)}));
    EXPECT_EQ(ReadText(Work / "out" / name), "abc");
}

TEST_F(FileSystem, ArchiveAndFolderWithCyrillicNamesOpen)
{
    Put(CyrillicArchive, Archive({Record("abc.txt", "abc", EncodeDosDateTime({2003, 6, 15, 12, 30, 0}))}));
    fs::create_directory(Work / CyrillicFolder);

    const ChildResult listing = RunGerman({"-i", CyrillicArchive});
    const ChildResult extraction = Run({"-e", CyrillicArchive, CyrillicFolder});

    EXPECT_EQ(listing.exitCode, 0);
    EXPECT_EQ(listing.output, ListingHead(32768) + CrLfLines({ListingRow("abc.txt", GermanDate(15, 6, 2003) + " 12:30:00",
                                                                    3, SampleCrc)}));
    EXPECT_EQ(extraction.exitCode, 0);
    // Redirected, the Win32 build writes typed text in the ANSI code page
    // (1252 here), which has no Cyrillic letters.
    const std::string shownArchive = RunsUnderWine() ? "?????.twx" : CyrillicArchive;
    const std::string shownFolder = RunsUnderWine() ? "?????" : CyrillicFolder;
    EXPECT_EQ(extraction.output, Report(shownArchive, shownFolder, {ExtractionRow("abc.txt", 1, true)}));
    EXPECT_EQ(ReadText(Work / CyrillicFolder / "abc.txt"), "abc");
}

std::vector<std::string> Sorted(std::vector<std::string> entries)
{
    std::sort(entries.begin(), entries.end());
    return entries;
}

TEST_F(FileSystem, StoredUmlautsAndEuroGetTheirOwnNamesUnderAnyCodePage)
{
    // Windows-1252: a-, o-, u-umlaut, sharp s, euro sign.
    const std::vector<std::string> stored{"\xE4\xF6\xFC\xDF.txt", "M\xFCller.txt", "Preis_\x80.txt"};
    Put(CyrillicArchive, Archive({Record(stored[0], "1"), Record(stored[1], "2"), Record(stored[2], "3")}));
    fs::create_directory(Work / CyrillicFolder);
    // The native build has no ANSI code page; its locale need only be UTF-8.
    const ChildResult run =
        Run({"-e", CyrillicArchive, CyrillicFolder}, "", RunsUnderWine() ? CyrillicWineSettings() : GermanSettings());

    EXPECT_EQ(run.exitCode, 0);
    // Redirected, the Win32 build writes stored names as stored and typed
    // paths in the ANSI code page (1251 here); the native build writes UTF-8
    // in this locale.
    std::vector<std::string> rows;
    for (const std::string& name : stored) {
        const std::string row = ExtractionRow(name, 1, true);
        rows.push_back(RunsUnderWine() ? row : Utf8Of(row));
    }
    const std::string shownArchive = RunsUnderWine() ? "\xE0\xF0\xF5\xE8\xE2.twx" : CyrillicArchive;
    const std::string shownFolder = RunsUnderWine() ? "\xEF\xE0\xEF\xEA\xE0" : CyrillicFolder;
    EXPECT_EQ(run.output, Report(shownArchive, shownFolder, rows));
    // Wine keeps Windows names as UTF-8 on disk, as the native build does.
    std::vector<std::string> expected{CyrillicArchive, CyrillicFolder};
    for (const std::string& name : stored)
        expected.push_back(std::string(CyrillicFolder) + "/" + Utf8Of(name));
    EXPECT_EQ(Tree(), Sorted(expected));
}

TEST_F(FileSystem, TrailingDotsAndBlanksAreDroppedOnlyWhereWindowsDropsThem)
{
    fs::create_directory(Work / "out");
    const ChildResult run = Extract(Archive({Record("punkt.", "1"), Record("leer ", "2"), Record("beides. .", "3"),
                                             Record("...", "4"), Record(".. ", "5"), Record("ok.txt", "6")}),
                                    "out");

    const bool windows = RunsUnderWine();
    EXPECT_EQ(run.exitCode, windows ? 1 : 0);
    EXPECT_EQ(run.output, Report("a.twx", "out",
                                 {ExtractionRow("punkt.", 1, true), ExtractionRow("leer ", 1, true),
                                  ExtractionRow("beides. .", 1, true), ExtractionRow("...", 1, !windows),
                                  ExtractionRow(".. ", 1, !windows), ExtractionRow("ok.txt", 1, true)}));
    if (windows) {
        EXPECT_EQ(Tree(), Sorted({"a.twx", "out", "out/beides", "out/leer", "out/ok.txt", "out/punkt"}));
        EXPECT_EQ(ReadText(Work / "out" / "beides"), "3");
    } else {
        EXPECT_EQ(Tree(), Sorted({"a.twx", "out", "out/...", "out/.. ", "out/beides. .", "out/leer ", "out/ok.txt", "out/punkt."}));
    }
}

TEST_F(FileSystem, SummerAndWinterStampsKeepTheirLocalTimeWhateverTheSeasonNow)
{
    fs::create_directory(Work / "out");
    const ChildResult run = Extract(Archive({Record("juli.txt", "1", EncodeDosDateTime({2003, 7, 15, 12, 0, 0})),
                                             Record("januar.txt", "2", EncodeDosDateTime({2003, 1, 15, 12, 0, 0}))}),
                                    "out", {{"TZ", "Europe/Berlin"}});

    EXPECT_EQ(run.exitCode, 0);
    // Berlin is two hours ahead of UTC in July and one in January.
    EXPECT_EQ(StatusOf(Work / "out" / "juli.txt").st_mtime, UtcSeconds(2003, 7, 15, 10, 0, 0));
    EXPECT_EQ(StatusOf(Work / "out" / "januar.txt").st_mtime, UtcSeconds(2003, 1, 15, 11, 0, 0));
}

}  // namespace
}  // namespace e2e
