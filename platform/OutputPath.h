// What a path given for a result names. Every writer of results asks here, so
// that a link, a FIFO, a device and a descriptor's name are treated alike by
// the atomic writer and by the CSV written row by row.
#pragma once

#include <string>

namespace platform {

struct OutputPath {
    enum class Kind {
        RegularFile, // there or not yet: replaced or emptied
        Fifo,        // written as it is, once a process reads it
        Device,      // a character device: written as it is
        Descriptor,  // /dev/stdout, /dev/fd/N, /proc/self/fd/N: written through N
    };
    Kind kind = Kind::RegularFile;
    std::string path;    // but for a Descriptor: the path after every link
    int descriptor = -1; // Descriptor
};

// Follows symbolic links one at a time, each target read relative to the
// folder of its own link, so that every link stays a link and the file at the
// end of the chain is the one written. False with the reason in `error` (in
// the system's wording, e.g. "Is a directory") for what cannot take a result:
// a folder, a socket, a block device, a loop of links.
bool ResolveOutputPath(const std::string& path, OutputPath& resolved, std::string& error);

// Whether a result could be written at `path` now, without writing anything:
// false, with the reason in `error`, for what ResolveOutputPath refuses and
// for a file whose folder is missing or cannot take a new file. A run that
// writes its results at its end asks before it measures.
bool CanTakeResult(const std::string& path, std::string& error);

// The folder that holds the last name of `path`, with its slash ("dir/" for
// "dir/file"), or "." for a bare name.
std::string FolderOf(const std::string& path);

} // namespace platform
