// Writing a file so that its name never shows a half-written file.
#pragma once

#include <string>
#include <string_view>

namespace platform {
// Writes `contents` to a new temporary file beside `path` (its name followed
// by a random suffix), flushes it to disk and renames it over `path` only
// when complete. On failure returns false with the system's wording of the
// reason in `error` (e.g. "No space left on device"), removes the temporary
// file and leaves any file at `path` as it was. A replaced file keeps its
// permissions; a new one gets 0644 less the umask.
bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string& error);
} // namespace platform
