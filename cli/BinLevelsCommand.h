// `tembrix spectrum`: the spectrum of the tone as it comes back, averaged
// over a number of blocks, written as CSV.
#pragma once

#include "cli/CommandLine.h"
#include "cli/MeasurementCommand.h"

#include <string>
#include <vector>

namespace cli {

class BinLevelsCommand : public MeasurementCommand {
  public:
    explicit BinLevelsCommand(const CommandLine& command) : m_command(command) {}

    void SetTone() override;
    int Run(BlockHandOff& blocks, ResultFile& output, RunInfo run) override;

  private:
    static std::string SpectrumFile(const RunInfo& run,
                                    const std::vector<std::vector<double>>& powerSums,
                                    int captured);

    const CommandLine& m_command;
};

} // namespace cli
