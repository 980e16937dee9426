// Where a command-line run writes its CSV: a file or standard output. Every
// write is flushed at once, so what was measured is there whatever ends the
// run.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace cli {

class ResultFile {
  public:
    ResultFile() = default;
    ~ResultFile();
    ResultFile(const ResultFile&) = delete;
    ResultFile& operator=(const ResultFile&) = delete;

    // Creates or empties `path`; "" is standard output. False with the reason
    // in Error().
    bool Open(const std::string& path);
    bool Write(std::string_view text);
    // "cannot write FILE: reason".
    const std::string& Error() const { return m_error; }

  private:
    bool Fail();

    std::FILE* m_file = nullptr;
    std::string m_name;
    std::string m_error;
};

} // namespace cli
