// What reaches descriptor 2 through the filter in front of standard error:
// everything but PortAudio's debug lines, unchanged and without delay,
// however the C library cuts the text into chunks.
#include "platform/DebugLineFilter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string DebugLine = "Expression 'alsa_snd_pcm_poll_descriptors_revents( self->pcm, pfds, "
                              "self->nfds, &revents )' failed in "
                              "'src/hostapi/alsa/pa_linux_alsa.c', line: 3665\n";

struct DebugLineFilterTest : testing::Test {
    std::string passed;
    DebugLineFilter filter{[this](std::string_view text) { passed += text; }};

    std::string through(const std::vector<std::string>& chunks) {
        for (const std::string& chunk : chunks)
            filter.Write(chunk);
        return passed;
    }
};

TEST_F(DebugLineFilterTest, PortAudiosLinesAreDroppedAndTheProgramsPassUnchanged) {
    EXPECT_EQ(through({"tembrix: audio input stopped: no block for 1 s\n", DebugLine,
                       "QStandardPaths: a warning\n"}),
              "tembrix: audio input stopped: no block for 1 s\nQStandardPaths: a warning\n");
}

TEST_F(DebugLineFilterTest, LinesJoinedInOneChunkAreJudgedOneByOne) {
    EXPECT_EQ(through({DebugLine + "tembrix: one\n" + DebugLine + DebugLine + "two\n"}),
              "tembrix: one\ntwo\n");
}

TEST_F(DebugLineFilterTest, ALineSplitAnywhereIsStillDropped) {
    for (std::size_t at = 1; at < DebugLine.size(); ++at) {
        passed.clear();
        EXPECT_EQ(through({DebugLine.substr(0, at), DebugLine.substr(at) + "after\n"}), "after\n")
            << "split at " << at;
    }
}

// A progress bar rewrites its line with '\r' and never ends it: each update
// must reach the terminal as it is written.
TEST_F(DebugLineFilterTest, ProgressLinesPassAtOnce) {
    filter.Write("\r[####------] 12/99 ");
    EXPECT_EQ(passed, "\r[####------] 12/99 ");
    filter.Write("\r[#####-----] 13/99 ");
    EXPECT_EQ(passed, "\r[####------] 12/99 \r[#####-----] 13/99 ");
    filter.Write("E");
    EXPECT_EQ(passed.back(), 'E') << "within a line nothing is held back";
    filter.Write("rror: after the bar\n");
    EXPECT_EQ(passed, "\r[####------] 12/99 \r[#####-----] 13/99 Error: after the bar\n");
}

TEST_F(DebugLineFilterTest, LinesThatMerelyLookLikePortAudiosPass) {
    const std::vector<std::string> lines = {
        "tembrix: Expression 'x' failed in 'src/a.c', line: 1\n",
        "Expression 'x' failed in 'include/a.c', line: 1\n",
        "Expression of the tone: fine\n",
        "Expression '",
        " still the program's\n",
        "Exp\n",
        "Expression 'x'\r",
        "ExpressionS 'x' failed in 'src/a.c'\n",
    };
    std::string all;
    for (const std::string& line : lines)
        all += line;
    EXPECT_EQ(through(lines), all);
}

TEST_F(DebugLineFilterTest, TheStartOfALineHeldBackIsNeverLost) {
    filter.Write("Expression 'an unfinished");
    EXPECT_EQ(passed, "") << "it may still be PortAudio's";
    filter.Flush();
    EXPECT_EQ(passed, "Expression 'an unfinished");
    passed.clear();
    const std::string longLine = "Expression '" + std::string(2000, 'x');
    EXPECT_EQ(through({longLine.substr(0, 600), longLine.substr(600), "' failed in 'src/a.c'\n"}),
              longLine + "' failed in 'src/a.c'\n")
        << "longer than any of PortAudio's";
}

} // namespace
