#include "platform/OutputPath.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// As many links as the kernel follows in one path before it gives up.
constexpr int MostLinks = 40;

std::optional<int> wholeNumber(std::string_view text) {
    int number = -1;
    const auto read = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || read.ec != std::errc() || read.ptr != text.data() + text.size())
        return std::nullopt;
    return number;
}

// "/dev/fd/N" and "/proc/self/fd/N" are links to the file behind descriptor N
// (or to no file at all, for a pipe): opening them would open that file anew,
// at its start.
std::optional<int> descriptorNamedBy(std::string_view path) {
    constexpr std::pair<std::string_view, int> StandardStreams[] = {
        {"/dev/stdin", 0}, {"/dev/stdout", 1}, {"/dev/stderr", 2}};
    for (const auto& [name, descriptor] : StandardStreams)
        if (path == name)
            return descriptor;
    const std::string ownFolder = "/proc/" + std::to_string(getpid()) + "/fd/";
    for (std::string_view folder :
         {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/"),
          std::string_view("/proc/thread-self/fd/"), std::string_view(ownFolder)})
        if (path.starts_with(folder))
            return wholeNumber(path.substr(folder.size()));
    return std::nullopt;
}

bool readLink(const std::string& path, std::string& target) {
    target.resize(256);
    for (;;) {
        const ssize_t length = readlink(path.c_str(), target.data(), target.size());
        if (length < 0)
            return false;
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return true;
        }
        target.resize(target.size() * 2);
    }
}

// The link's target, relative to the link's own folder unless absolute.
std::string linkTarget(const std::string& link, const std::string& target) {
    if (target.starts_with('/'))
        return target;
    const std::string folder = FolderOf(link);
    return folder == "." ? target : folder + target;
}

// For what is neither a file, a link, a FIFO nor a character device.
const char* refusal(mode_t mode) {
    if (S_ISDIR(mode))
        return std::strerror(EISDIR);
    return S_ISSOCK(mode) ? "Is a socket" : "Is a block device";
}

} // namespace

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

bool ResolveOutputPath(const std::string& path, OutputPath& resolved, std::string& error) {
    std::string current = path;
    for (int links = 0; links <= MostLinks; ++links) {
        if (const std::optional<int> descriptor = descriptorNamedBy(current)) {
            resolved = {OutputPath::Kind::Descriptor, current, *descriptor};
            return true;
        }
        struct stat status;
        if (lstat(current.c_str(), &status) != 0) {
            if (errno != ENOENT) {
                error = std::strerror(errno);
                return false;
            }
            resolved = {OutputPath::Kind::RegularFile, current, -1}; // a new file
            return true;
        }
        if (S_ISREG(status.st_mode)) {
            resolved = {OutputPath::Kind::RegularFile, current, -1};
            return true;
        }
        if (S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode)) {
            const auto kind =
                S_ISFIFO(status.st_mode) ? OutputPath::Kind::Fifo : OutputPath::Kind::Device;
            resolved = {kind, current, -1};
            return true;
        }
        if (!S_ISLNK(status.st_mode)) {
            error = refusal(status.st_mode);
            return false;
        }
        std::string target;
        if (!readLink(current, target)) {
            error = std::strerror(errno);
            return false;
        }
        current = linkTarget(current, target);
    }
    error = std::strerror(ELOOP);
    return false;
}

bool CanTakeResult(const std::string& path, std::string& error) {
    OutputPath resolved;
    if (!ResolveOutputPath(path, resolved, error))
        return false;
    if (resolved.kind != OutputPath::Kind::RegularFile)
        return true;
    // The file is replaced through a new one beside it.
    if (access(FolderOf(resolved.path).c_str(), W_OK | X_OK) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace platform
