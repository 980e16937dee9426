// Where the command line's results go: whatever a result's path names, and
// what becomes of a file that is there before a run.
#include "tests/harness/OutputPlaces.h"
#include "tests/harness/ProcessRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

using testing::EndsWith;
using testing::HasSubstr;
using testing::StartsWith;

namespace {

class ReportJsonTarget : public testing::TestWithParam<OutputKind> {};

TEST_P(ReportJsonTarget, GoesWhereThePathLeadsOrIsRefusedWithStatus1AndALine) {
    ScratchDirectory directory;
    const std::filesystem::path folder = directory / "place";
    std::filesystem::create_directory(folder);
    OutputPlace place(GetParam(), folder);
    if (!place.CannotMake().empty())
        GTEST_SKIP() << place.CannotMake();

    const ProcessEnd end =
        RunTembrix({"report", "--audio=virtual", "--fast", "--json=" + place.Path()});
    if (place.Refusal().empty()) {
        EXPECT_EQ(end.status, 0) << end.err;
        EXPECT_THAT(end.out, HasSubstr("loop-back report"));
        if (const std::optional<std::string> json = place.Received()) {
            EXPECT_THAT(*json, StartsWith("{\n"));
            EXPECT_THAT(*json, HasSubstr("\"response\""));
            EXPECT_THAT(*json, EndsWith("}\n"));
        }
    } else {
        // Refused before anything is measured: the error is all the run says.
        EXPECT_EQ(end.status, 1);
        EXPECT_EQ(end.err, "tembrix: cannot write " + place.Path() + ": " + place.Refusal() + "\n");
        EXPECT_EQ(end.out, "");
    }
    place.ExpectLeftInPlace();
}

INSTANTIATE_TEST_SUITE_P(EveryKind, ReportJsonTarget, testing::ValuesIn(EveryOutputKind),
                         testing::PrintToStringParamName());

// The files written at a run's end are looked at before it measures: a
// missing folder or a folder in the file's place ends it at once.
TEST(EndOfRunFilesTest, APathThatCannotTakeThemIsRefusedBeforeTheRun) {
    ScratchDirectory directory;
    const std::string missing = (directory / "no-such-folder" / "report.html").string();
    const ProcessEnd report =
        RunTembrix({"report", "--audio=virtual", "--fast", "--html=" + missing});
    EXPECT_EQ(report.status, 1);
    EXPECT_EQ(report.err, "tembrix: cannot write " + missing + ": No such file or directory\n");

    const std::string folder = (directory / "impulse").string();
    std::filesystem::create_directory(folder);
    const ProcessEnd response =
        RunTembrix({"response", "--audio=virtual", "--fast", "--impulse=" + folder});
    EXPECT_EQ(response.status, 1);
    EXPECT_EQ(response.err, "tembrix: cannot write " + folder + ": Is a directory\n");
}

// Hum as loud as the tone puts a noise line in every block: no point comes,
// and the run ends before its first row.
TEST(SweepResultFileTest, AnExistingFileIsLeftAsItWasByARunThatFailsBeforeItsFirstRow) {
    ScratchDirectory directory;
    const auto csv = directory / "keep.csv";
    std::ofstream(csv) << "precious\n";
    const ProcessEnd end =
        RunTembrix({"sweep", "--audio=virtual", "--fast", "--virtual-card=hum=50/0",
                    "--point-timeout=3", "--quiet", "--csv=" + csv.string()});
    EXPECT_EQ(end.status, 3) << end.err;
    EXPECT_EQ(ReadWholeFile(csv), "precious\n");
}

} // namespace
