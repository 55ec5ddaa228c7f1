// "-i" as a user sees it: the table and its German dates.
#include "EndToEnd.h"

namespace e2e {
namespace {

TEST_F(EndToEndTest, SampleListingShowsGermanDateAndCrc)
{
    Put("a.twx", SampleArchive());
    const ChildResult run = RunGerman({"-i", "a.twx"});

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, ListingHead(SampleBlockSize) +
                              CrLfLines({ListingRow(SampleName, GermanDate(15, 6, 2003) + " 12:30:00", 3, SampleCrc)}));
}

TEST_F(EndToEndTest, RowFieldsLineUpUnderTheirColumnHeadings)
{
    Put("a.twx", Archive({Record("weihnachten.txt", "abc", EncodeDosDateTime({2003, 12, 24, 23, 59, 58}))}));
    const ChildResult run = RunGerman({"-i", "a.twx"});

    EXPECT_EQ(run.exitCode, 0);
    const std::vector<std::string> lines = SplitCrlf(run.output);
    ASSERT_EQ(lines.size(), 5u) << run.output;
    const std::string& header = lines[2];
    const std::string& row = lines[4];
    EXPECT_EQ(header, ColumnHeader());
    EXPECT_EQ(row.substr(0, 41), Padded("weihnachten.txt", 41));
    EXPECT_EQ(row.substr(header.find("Datum"), 10), "24.12.2003");
    EXPECT_EQ(row.substr(header.find("Zeit"), 8), "23:59:58");
    const std::size_t sizeEnd = header.find("Groesse") + std::string_view("Groesse").size();
    EXPECT_EQ(row.substr(sizeEnd - 8, 8), "       3") << "size ends under the end of \"Groesse\"";
    // The CRC fills the header's last eight columns, around "CRC32".
    EXPECT_EQ(row.size(), header.size());
    EXPECT_EQ(row.substr(header.size() - 8), SampleCrc);
    EXPECT_LE(header.size() - 8, header.find("CRC32"));
}

TEST_F(EndToEndTest, InvalidStoredDateShowsMarkerAndListingGoesOn)
{
    Put("a.twx", Archive({Record("monat0.txt", "abc", EncodeDosDateTime({2003, 0, 15, 12, 30, 0})),
                          Record("stunde24.txt", "", EncodeDosDateTime({2003, 12, 24, 24, 0, 0})),
                          Record("mitternacht.txt", "abc", EncodeDosDateTime({2003, 12, 24, 0, 0, 0})),
                          Record("danach.txt", "abc")}));
    const ChildResult run = RunGerman({"-i", "a.twx"});

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, ListingHead(SampleBlockSize) +
                              CrLfLines({ListingRow("monat0.txt", "--.--.---- --:--:--", 3, SampleCrc),
                                    ListingRow("stunde24.txt", "--.--.---- --:--:--", 0, "00000000"),
                                    ListingRow("mitternacht.txt", "24.12.2003", 3, SampleCrc),
                                    ListingRow("danach.txt", "24.12.2003 23:59:58", 3, SampleCrc)}));
}

}  // namespace
}  // namespace e2e
