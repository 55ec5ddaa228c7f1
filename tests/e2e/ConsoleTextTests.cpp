// Console text: in a terminal (a console on Win32) every character shows as
// itself whatever the console's code page; redirected output keeps the bytes.
#include "EndToEnd.h"

namespace e2e {
namespace {

class ConsoleText : public EndToEndTest {
protected:
    ChildResult RunInTerminal(std::vector<std::string> arguments) const
    {
        return Run(std::move(arguments), "", GermanSettings(), true);
    }
};

TEST_F(ConsoleText, UmlautOfAMessageIsACharacterInATerminalAndByte0xE4WhenRedirected)
{
    Bytes archive = SampleArchive();
    archive[0] = 'X';
    Put("a.twx", archive);
    const std::string message = "Signatur der Datei besch\xE4" "digt - falsches Format?\r\n";

    const ChildResult terminal = RunInTerminal({"-i", "a.twx"});
    const ChildResult redirected = Run({"-i", "a.twx"}, "", GermanSettings());

    EXPECT_EQ(terminal.exitCode, 2);
    EXPECT_NE(ScreenText(terminal.output).find(Utf8Of(message)), std::string::npos) << terminal.output;
    // The native build converts for a UTF-8 locale wherever the text goes.
    EXPECT_EQ(redirected.output, RunsUnderWine() ? message : Utf8Of(message));
}

TEST_F(ConsoleText, TerminalShowsTypedPathsAndStoredNamesAsCharacters)
{
    Put(CyrillicArchive, Archive({Record("M\xFCller.txt", "1"), Record("Preis_\x80.txt", "2")}));
    fs::create_directory(Work / CyrillicFolder);
    const ChildResult run = RunInTerminal({"-e", CyrillicArchive, CyrillicFolder});

    EXPECT_EQ(run.exitCode, 0);
    const std::string folder = std::string(CyrillicFolder) + FolderSeparator();
    const std::string screen = ScreenText(run.output);
    for (const std::string& line : {StartLine(CyrillicArchive, folder), Utf8Of(ExtractionRow("M\xFCller.txt", 1, true)),
                                    Utf8Of(ExtractionRow("Preis_\x80.txt", 1, true))})
        EXPECT_NE(screen.find(line + "\r\n"), std::string::npos) << "missing: " << line << "\nin: " << screen;
    EXPECT_EQ(ReadText(Work / CyrillicFolder / Utf8Of("M\xFCller.txt")), "1");
}

}  // namespace
}  // namespace e2e
