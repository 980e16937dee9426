// The process as a shell may start it: with a standard descriptor closed or
// pointed at a full device or a pipe nobody reads, or with a mistake on the
// command line and no display. Judged by its exit status, its one line on
// standard error and what its result file holds.
#include "tests/harness/ProcessRun.h"

#include <fcntl.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string_view>
#include <tuple>

using testing::EndsWith;
using testing::HasSubstr;

namespace {

using namespace std::chrono_literals;

// Comment lines, the header and rows of numbers: nothing the program says.
bool OnlyCsv(const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const bool numbers = !line.empty() && std::all_of(line.begin(), line.end(), [](char c) {
            return std::string_view("0123456789.,-+e").find(c) != std::string_view::npos;
        });
        if (!numbers && !line.starts_with("# ") && !line.starts_with("frequency_hz,"))
            return false;
    }
    return text.ends_with('\n');
}

struct Measurement {
    const char* name;
    const char* subcommand;
};

std::ostream& operator<<(std::ostream& out, const Measurement& measurement) {
    return out << measurement.name;
}

class ClosedStandardErrorTest : public testing::TestWithParam<Measurement> {};

// The result file, opened first, would otherwise take descriptor 2 and the
// progress and the summary with it.
TEST_P(ClosedStandardErrorTest, LeavesTheResultFileWithTheCsvAlone) {
    ScratchDirectory directory;
    const auto csv = directory / "result.csv";
    const ProcessEnd end =
        RunTembrix({GetParam().subcommand, "--audio=virtual", "--fast", "--csv=" + csv.string()},
                   120s, {ChildDescriptor::Closed(2)});
    EXPECT_EQ(end.status, 0);
    const std::string text = ReadWholeFile(csv);
    EXPECT_THAT(text, HasSubstr("\nfrequency_hz,"));
    EXPECT_TRUE(OnlyCsv(text)) << text;
}

INSTANTIATE_TEST_SUITE_P(Process, ClosedStandardErrorTest,
                         testing::Values(Measurement{"Sweep", "sweep"},
                                         Measurement{"Spectrum", "spectrum"}),
                         [](const auto& info) { return std::string(info.param.name); });

// What prints on standard output and ends there.
struct Printout {
    const char* name;
    std::vector<std::string> args;
};

// Where standard output goes instead of a reader, and what a write there
// fails with.
enum class Sink { Closed, FullDevice, PipeWithoutReader };

struct SinkCase {
    Sink sink;
    const char* name;
    const char* reason;
};

const SinkCase Sinks[] = {
    {Sink::Closed, "Closed", "Bad file descriptor"},
    {Sink::FullDevice, "FullDevice", "No space left on device"},
    {Sink::PipeWithoutReader, "PipeWithoutReader", "Broken pipe"},
};

std::ostream& operator<<(std::ostream& out, const Printout& printout) {
    return out << printout.name;
}

std::ostream& operator<<(std::ostream& out, const SinkCase& sink) {
    return out << sink.name;
}

const Printout Printouts[] = {
    {"ListDevices", {"--list-devices"}},
    {"Help", {"--help"}},
    {"Version", {"--version"}},
    {"SweepHelp", {"sweep", "--help"}},
};

class FailedStandardOutputTest : public testing::TestWithParam<std::tuple<Printout, SinkCase>> {};

TEST_P(FailedStandardOutputTest, EndsWithStatusOneAndALineNamingStandardOutput) {
    const auto& [printout, sink] = GetParam();
    int pipeEnds[2] = {-1, -1};
    std::vector<ChildDescriptor> descriptors;
    switch (sink.sink) {
    case Sink::Closed:
        descriptors.push_back(ChildDescriptor::Closed(1));
        break;
    case Sink::FullDevice:
        descriptors.push_back(ChildDescriptor::OnFile(1, "/dev/full"));
        break;
    case Sink::PipeWithoutReader:
        ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
        ::close(pipeEnds[0]);
        descriptors.push_back(ChildDescriptor::CopyOf(1, pipeEnds[1]));
        break;
    }
    const ProcessEnd end = RunTembrix(printout.args, 60s, descriptors);
    if (pipeEnds[1] >= 0)
        ::close(pipeEnds[1]);
    EXPECT_EQ(end.signal, 0);
    EXPECT_EQ(end.status, 1);
    EXPECT_EQ(end.err, std::string("tembrix: cannot write standard output: ") + sink.reason + "\n");
}

INSTANTIATE_TEST_SUITE_P(Process, FailedStandardOutputTest,
                         testing::Combine(testing::ValuesIn(Printouts), testing::ValuesIn(Sinks)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    std::get<1>(info.param).name;
                         });

struct Misplaced {
    const char* name;
    std::vector<std::string> args;
    std::string line;
};

std::ostream& operator<<(std::ostream& out, const Misplaced& misplaced) {
    return out << misplaced.name;
}

class CommandLineWithoutDisplayTest : public testing::TestWithParam<Misplaced> {};

// ProcessRun gives no display: anything that built the window's objects
// before reading the whole line would abort instead.
TEST_P(CommandLineWithoutDisplayTest, IsRefusedWithStatusTwoAndTheRealMistake) {
    const ProcessEnd end = RunTembrix(GetParam().args, 30s);
    EXPECT_EQ(end.signal, 0);
    EXPECT_EQ(end.status, 2);
    EXPECT_EQ(end.out, "");
    EXPECT_THAT(end.err, EndsWith(GetParam().line));
}

const char* const UnknownSubcommand =
    "': the subcommands are sweep, spectrum, report and response (see tembrix --help)\n";

INSTANTIATE_TEST_SUITE_P(
    Process, CommandLineWithoutDisplayTest,
    testing::Values(
        Misplaced{"MisspeltSubcommand",
                  {"sweeep"},
                  std::string("tembrix: unknown subcommand 'sweeep") + UnknownSubcommand},
        Misplaced{"UnknownSubcommandWithHelp",
                  {"frobnicate", "--help"},
                  std::string("tembrix: unknown subcommand 'frobnicate") + UnknownSubcommand},
        Misplaced{"SubcommandAfterAnOption",
                  {"--audio=virtual", "sweep", "--fast"},
                  "tembrix: the subcommand must come first: tembrix sweep [OPTIONS]\n"},
        // Qt takes its own options: without "-platform offscreen" it could not
        // start at all here.
        Misplaced{"QtsOptionsReachQt",
                  {"-platform", "offscreen", "--audio=virtual", "-bogus"},
                  "tembrix: unknown option '-bogus' (see tembrix --help)\n"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
