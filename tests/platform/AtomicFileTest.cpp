#include "platform/AtomicFile.h"
#include "platform/OutputFile.h"
#include "tests/harness/OutputPlaces.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class AtomicFile : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tembrix-atomic-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string path(const char* name) const { return (m_folder / name).string(); }

    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const fs::directory_entry& entry : fs::directory_iterator(m_folder))
            found.push_back(entry.path().filename().string());
        return found;
    }

    fs::path m_folder;
};

std::string contentsOf(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream read;
    read << file.rdbuf();
    return read.str();
}

mode_t modeOf(const std::string& path) {
    struct stat status;
    EXPECT_EQ(stat(path.c_str(), &status), 0);
    return status.st_mode & 0777;
}

using Names = std::vector<std::string>;

TEST_F(AtomicFile, WritesANewFileThenReplacesItWithoutLeavingTemporaries) {
    const std::string target = path("result.csv");
    const mode_t previousMask = umask(027);
    std::string error;
    EXPECT_TRUE(platform::WriteFileAtomically(target, "first, longer contents\n", error)) << error;
    EXPECT_EQ(modeOf(target), 0640u); // 0644 less the umask, not mkstemp's 0600
    umask(previousMask);
    EXPECT_EQ(contentsOf(target), "first, longer contents\n");

    chmod(target.c_str(), 0600);
    const std::string binary("a\0b\n", 4);
    EXPECT_TRUE(platform::WriteFileAtomically(target, binary, error)) << error;
    EXPECT_EQ(contentsOf(target), binary);
    EXPECT_EQ(modeOf(target), 0600u); // a replaced file keeps its permissions

    EXPECT_TRUE(platform::WriteFileAtomically(target, "", error)) << error;
    EXPECT_EQ(contentsOf(target), "");
    EXPECT_EQ(names(), Names{"result.csv"});
}

TEST_F(AtomicFile, FolderThatCannotBeWrittenIsReportedAndLeavesNoFile) {
    std::string error;
    EXPECT_FALSE(platform::WriteFileAtomically("/proc/tembrix-test.csv", "x", error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists("/proc/tembrix-test.csv"));

    EXPECT_FALSE(platform::WriteFileAtomically(path("missing/result.csv"), "x", error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_TRUE(names().empty());
}

// A file size limit makes the write itself fail part way, as a full disk would.
TEST_F(AtomicFile, FailedWriteLeavesTheOldFileIntactAndRemovesTheTemporary) {
    const std::string target = path("result.csv");
    std::string error;
    ASSERT_TRUE(platform::WriteFileAtomically(target, "old", error)) << error;

    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previousLimit;
    getrlimit(RLIMIT_FSIZE, &previousLimit);
    rlimit limit = previousLimit;
    limit.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool written = platform::WriteFileAtomically(target, std::string(100000, 'n'), error);
    setrlimit(RLIMIT_FSIZE, &previousLimit);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(error, "File too large");
    EXPECT_EQ(contentsOf(target), "old");
    EXPECT_EQ(names(), Names{"result.csv"});
}

class AtomicFileTarget : public AtomicFile, public testing::WithParamInterface<OutputKind> {};

// A file at the end of links is replaced in its own folder and the links stay
// links; a FIFO, a device and a descriptor are written as they are; a folder,
// a socket and a loop of links are refused and left alone.
TEST_P(AtomicFileTarget, WritesWhereThePathLeadsAndLeavesWhatItNamesInPlace) {
    OutputPlace place(GetParam(), m_folder);
    if (!place.CannotMake().empty())
        GTEST_SKIP() << place.CannotMake();
    std::string error;
    const bool written = platform::WriteFileAtomically(place.Path(), "new contents\n", error);
    if (place.Refusal().empty()) {
        EXPECT_TRUE(written) << error;
        if (const std::optional<std::string> received = place.Received()) {
            EXPECT_EQ(*received, "new contents\n");
        }
    } else {
        EXPECT_FALSE(written);
        EXPECT_EQ(error, place.Refusal());
    }
    place.ExpectLeftInPlace();
}

INSTANTIATE_TEST_SUITE_P(EveryKind, AtomicFileTarget, testing::ValuesIn(EveryOutputKind),
                         testing::PrintToStringParamName());

// As a shell's "> file" hands it over: what the descriptor's file already
// holds stays, and the result follows it.
TEST_F(AtomicFile, ADescriptorsNameIsWrittenThroughItWithoutEmptyingItsFile) {
    const std::string target = path("out.txt");
    const int descriptor = open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(descriptor, 0);
    ASSERT_EQ(write(descriptor, "before\n", 7), 7);
    std::string error;
    EXPECT_TRUE(platform::WriteFileAtomically("/proc/self/fd/" + std::to_string(descriptor),
                                              "after\n", error))
        << error;
    close(descriptor);
    EXPECT_EQ(contentsOf(target), "before\nafter\n");
    EXPECT_EQ(names(), Names{"out.txt"});
}

// SIGPIPE is not ignored here, as in the window: it would end the test.
TEST_F(AtomicFile, APipeWithoutAReaderIsAWriteErrorNotTheEndOfTheProcess) {
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    close(ends[0]);
    std::string error;
    EXPECT_FALSE(
        platform::WriteFileAtomically("/dev/fd/" + std::to_string(ends[1]), "result\n", error));
    EXPECT_EQ(error, "Broken pipe");
    close(ends[1]);
}

using StreamedOutput = AtomicFile;

TEST_F(StreamedOutput, AnExistingFileStaysUntilTheFirstWriteThenTakesEachWriteAtOnce) {
    const std::string target = path("result.csv");
    std::ofstream(target) << "precious\n";
    platform::OutputFile output;
    std::string error;
    ASSERT_TRUE(output.Open(target, error)) << error;
    EXPECT_EQ(contentsOf(target), "precious\n");
    ASSERT_TRUE(output.Write("a\n", error)) << error;
    EXPECT_EQ(contentsOf(target), "a\n");
    ASSERT_TRUE(output.Write("b\n", error)) << error;
    EXPECT_EQ(contentsOf(target), "a\nb\n");
}

TEST_F(StreamedOutput, AFifoThatNoProcessReadsFailsAfterTheWaitItWasGiven) {
    const std::string fifo = path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    platform::OutputFile output;
    std::string error;
    EXPECT_FALSE(output.Open(fifo, error, std::chrono::milliseconds(100)));
    EXPECT_EQ(error, "no process came to read the FIFO");
}

TEST_F(StreamedOutput, APathThatCannotBeWrittenFailsAtOpen) {
    platform::OutputFile output;
    std::string error;
    EXPECT_FALSE(output.Open(path("missing/result.csv"), error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_FALSE(output.Open(m_folder.string(), error));
    EXPECT_EQ(error, "Is a directory");
}

} // namespace
