// A result written piece by piece as it is measured, to whatever its path
// names (see OutputPath.h).
#pragma once

#include "platform/OutputPath.h"

#include <chrono>
#include <string>
#include <string_view>

namespace platform {

class OutputFile {
  public:
    static constexpr std::chrono::milliseconds NoLimit = std::chrono::milliseconds::max();

    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens what `path` names without emptying it: a path that cannot take
    // the result fails now, and an existing file stays as it was until the
    // first Write. A FIFO waits for a process to read it, as a shell's
    // redirection does, for at most `readerWait`: where a stop signal could
    // not end the wait, a bounded one keeps the program from hanging. False
    // with the system's wording of the reason in `error`.
    bool Open(const std::string& path, std::string& error,
              std::chrono::milliseconds readerWait = NoLimit);
    bool Open(const OutputPath& resolved, std::string& error,
              std::chrono::milliseconds readerWait = NoLimit);
    // Writes through a duplicate of the process's own `descriptor`.
    bool OpenDescriptor(int descriptor, std::string& error);

    // Writes all of `text` straight to the system, no buffer in between; the
    // first write empties a regular file. A reader that went away is a
    // failure ("Broken pipe"), never the end of the process.
    bool Write(std::string_view text, std::string& error);

  private:
    int m_descriptor = -1;
    bool m_emptyOnFirstWrite = false;
};

// Writes all of `contents` to `descriptor`, after short writes and
// interruptions too. False with errno set.
bool WriteAll(int descriptor, std::string_view contents);

} // namespace platform
