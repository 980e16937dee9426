#include "tests/harness/OutputPlaces.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

const std::vector<OutputKind> EveryOutputKind = {
    OutputKind::ExistingFile,         OutputKind::NewFile, OutputKind::SymbolicLink,
    OutputKind::ChainOfRelativeLinks, OutputKind::Fifo,    OutputKind::CharacterDevice,
    OutputKind::DescriptorName,       OutputKind::Folder,  OutputKind::Socket,
    OutputKind::LoopOfLinks,
};

std::ostream& operator<<(std::ostream& out, OutputKind kind) {
    constexpr const char* Names[] = {"ExistingFile",         "NewFile", "SymbolicLink",
                                     "ChainOfRelativeLinks", "Fifo",    "CharacterDevice",
                                     "DescriptorName",       "Folder",  "Socket",
                                     "LoopOfLinks"};
    return out << Names[static_cast<int>(kind)];
}

namespace {

std::string contentsOf(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream read;
    read << file.rdbuf();
    return read.str();
}

ino_t inodeOf(const fs::path& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

} // namespace

OutputPlace::OutputPlace(OutputKind kind, const fs::path& folder)
    : m_kind(kind), m_folder(folder), m_path((folder / "result").string()) {
    switch (kind) {
    case OutputKind::ExistingFile:
        MakeExistingFile("result");
        break;
    case OutputKind::NewFile:
        m_file = m_path;
        m_made.push_back({m_file, fs::file_type::regular, {}});
        break;
    case OutputKind::SymbolicLink:
        MakeExistingFile("data");
        MakeLink("result", "data");
        break;
    case OutputKind::ChainOfRelativeLinks:
        fs::create_directory(folder / "sub");
        fs::create_directory(folder / "data");
        m_made.push_back({folder / "sub", fs::file_type::directory, {}});
        m_made.push_back({folder / "data", fs::file_type::directory, {}});
        MakeExistingFile("data/file");
        MakeLink("result", "sub/next");
        MakeLink("sub/next", "../data/file");
        break;
    case OutputKind::Fifo: {
        mkfifo(m_path.c_str(), 0600);
        m_made.push_back({m_path, fs::file_type::fifo, {}});
        const int reading = open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        // A writer of the test's own keeps the reader from an end of file,
        // whatever name the FIFO has by then, until the writer under test
        // has been.
        m_ownWriter = open(m_path.c_str(), O_WRONLY | O_CLOEXEC);
        ReadInTheBackground(reading);
        break;
    }
    case OutputKind::CharacterDevice:
        MakeDeviceNode();
        break;
    case OutputKind::DescriptorName: {
        int ends[2];
        pipe2(ends, O_CLOEXEC);
        fcntl(ends[1], F_SETFD, 0); // a child process inherits it
        m_ownWriter = ends[1];
        m_path = "/dev/fd/" + std::to_string(m_ownWriter);
        ReadInTheBackground(ends[0]);
        break;
    }
    case OutputKind::Folder:
        fs::create_directory(m_path);
        m_made.push_back({m_path, fs::file_type::directory, {}});
        m_refusal = "Is a directory";
        break;
    case OutputKind::Socket:
        MakeSocket();
        m_refusal = "Is a socket";
        break;
    case OutputKind::LoopOfLinks:
        MakeLink("result", "other");
        MakeLink("other", "result");
        m_refusal = "Too many levels of symbolic links";
        break;
    }
}

OutputPlace::~OutputPlace() {
    StopReading();
    if (m_socket >= 0)
        close(m_socket);
}

void OutputPlace::MakeExistingFile(const char* name) {
    m_file = m_folder / name;
    std::ofstream(m_file) << "old contents\n";
    m_oldInode = inodeOf(m_file);
    m_made.push_back({m_file, fs::file_type::regular, {}});
}

void OutputPlace::MakeLink(const char* name, const char* target) {
    fs::create_symlink(target, m_folder / name);
    m_made.push_back({m_folder / name, fs::file_type::symlink, target});
}

// The numbers of /dev/null, so that what is written goes nowhere.
void OutputPlace::MakeDeviceNode() {
    if (mknod(m_path.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
        m_cannotMake = std::string("making a device node needs the right to: ") + strerror(errno);
        return;
    }
    m_made.push_back({m_path, fs::file_type::character, {}});
    const int device = open(m_path.c_str(), O_WRONLY | O_CLOEXEC);
    if (device < 0)
        m_cannotMake = std::string("a device node made here cannot be opened: ") + strerror(errno);
    else
        close(device);
}

void OutputPlace::MakeSocket() {
    m_socket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, m_path.c_str(), sizeof address.sun_path - 1);
    if (bind(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        m_cannotMake = std::string("cannot make a socket here: ") + strerror(errno);
    m_made.push_back({m_path, fs::file_type::socket, {}});
}

void OutputPlace::ReadInTheBackground(int reading) {
    fcntl(reading, F_SETFL, fcntl(reading, F_GETFL) & ~O_NONBLOCK);
    m_reader = std::thread([this, reading] {
        char buffer[4096];
        for (;;) {
            const ssize_t got = read(reading, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            m_read.append(buffer, static_cast<std::size_t>(got));
        }
        close(reading);
    });
}

void OutputPlace::StopReading() {
    if (m_ownWriter >= 0)
        close(m_ownWriter);
    m_ownWriter = -1;
    if (m_reader.joinable())
        m_reader.join();
}

std::optional<std::string> OutputPlace::Received() {
    switch (m_kind) {
    case OutputKind::Fifo:
    case OutputKind::DescriptorName:
        StopReading();
        return m_read;
    case OutputKind::CharacterDevice:
        return std::nullopt;
    default:
        return contentsOf(m_file);
    }
}

void OutputPlace::ExpectLeftInPlace() const {
    std::vector<std::string> expected, found;
    for (const Made& made : m_made) {
        expected.push_back(made.path.lexically_relative(m_folder).string());
        EXPECT_EQ(fs::symlink_status(made.path).type(), made.type) << made.path;
        if (made.type == fs::file_type::symlink && fs::is_symlink(made.path)) {
            EXPECT_EQ(fs::read_symlink(made.path), made.linkTarget) << made.path;
        }
    }
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(m_folder))
        found.push_back(entry.path().lexically_relative(m_folder).string());
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected) << "nothing else is left beside them";
    if (m_oldInode != 0) {
        EXPECT_NE(inodeOf(m_file), m_oldInode) << m_file << " is replaced, not rewritten";
    }
}
