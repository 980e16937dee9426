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
    EXPECT_THAT(end.out, HasSubstr("loop-back report")) << "the table comes all the same";
    if (place.Refusal().empty()) {
        EXPECT_EQ(end.status, 0) << end.err;
        if (const std::optional<std::string> json = place.Received()) {
            EXPECT_THAT(*json, StartsWith("{\n"));
            EXPECT_THAT(*json, HasSubstr("\"response\""));
            EXPECT_THAT(*json, EndsWith("}\n"));
        }
    } else {
        EXPECT_EQ(end.status, 1);
        EXPECT_THAT(end.err, HasSubstr("tembrix: cannot write " + place.Path() + ": " +
                                       place.Refusal() + "\n"));
    }
    place.ExpectLeftInPlace();
}

INSTANTIATE_TEST_SUITE_P(EveryKind, ReportJsonTarget, testing::ValuesIn(EveryOutputKind),
                         testing::PrintToStringParamName());

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
