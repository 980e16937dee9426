#include "cli/ResultFile.h"

#include <cerrno>
#include <cstring>

namespace cli {

ResultFile::~ResultFile() {
    if (m_file && m_file != stdout)
        std::fclose(m_file);
}

bool ResultFile::Open(const std::string& path) {
    if (path.empty()) {
        m_file = stdout;
        m_name = "standard output";
        return true;
    }
    m_name = path;
    m_file = std::fopen(path.c_str(), "w");
    return m_file ? true : Fail();
}

bool ResultFile::Write(std::string_view text) {
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), m_file) != text.size() || std::fflush(m_file) != 0)
        return Fail();
    return true;
}

bool ResultFile::Fail() {
    m_error = "cannot write " + m_name + ": " + (errno ? std::strerror(errno) : "write error");
    return false;
}

} // namespace cli
