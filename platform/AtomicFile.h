// Writing a result so that its name never shows a half-written file.
#pragma once

#include <string>
#include <string_view>

namespace platform {
// Writes `contents` to what `path` names (see OutputPath.h). A regular file,
// also one at the end of a chain of symbolic links, is written to a new
// temporary file beside it (its name followed by a random suffix), flushed
// to disk and renamed over it only when complete; the links stay links. A
// FIFO (once a process reads it, waiting at most 10 s for one), a character
// device or a descriptor's name (/dev/stdout) is written directly. On
// failure returns false with the system's wording of the reason in `error`
// (e.g. "No space left on device"), removes the temporary file and leaves any
// file at `path` as it was. A replaced file keeps its permissions; a new one
// gets 0644 less the umask.
bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string& error);
} // namespace platform
