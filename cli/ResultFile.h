// Where a command-line run writes its CSV: a file or standard output. Every
// write goes out at once, so what was measured is there whatever ends the
// run; an existing file is emptied only by the first write, so a run that
// measured nothing leaves it as it was.
#pragma once

#include "platform/OutputFile.h"

#include <string>
#include <string_view>
#include <utility>

namespace cli {

class ResultFile {
  public:
    // Opens `path` without emptying it, so that a path that cannot be written
    // fails before any device opens; "" is standard output. False with the
    // reason in Error().
    bool Open(const std::string& path);
    // Lines that go out with the first Write (a CSV's comments and header),
    // not before it.
    void HoldUntilFirstWrite(std::string lines) { m_held = std::move(lines); }
    bool Write(std::string_view text);
    // "cannot write FILE: reason".
    const std::string& Error() const { return m_error; }

  private:
    bool Fail(const std::string& reason);

    platform::OutputFile m_file;
    std::string m_name;
    std::string m_held;
    std::string m_error;
};

} // namespace cli
