#include "cli/ResultFile.h"

#include <unistd.h>

namespace cli {

bool ResultFile::Open(const std::string& path) {
    std::string reason;
    m_name = path.empty() ? "standard output" : path;
    const bool opened =
        path.empty() ? m_file.OpenDescriptor(STDOUT_FILENO, reason) : m_file.Open(path, reason);
    return opened || Fail(reason);
}

bool ResultFile::Write(std::string_view text) {
    std::string reason;
    if (!m_held.empty()) {
        m_held += text;
        const bool written = m_file.Write(m_held, reason);
        m_held.clear();
        return written || Fail(reason);
    }
    return m_file.Write(text, reason) || Fail(reason);
}

bool ResultFile::Fail(const std::string& reason) {
    m_error = "cannot write " + m_name + ": " + reason;
    return false;
}

} // namespace cli
