// A measurement run from the command line, between the start-up and the
// shutdown of the audio: it sets the tone before the devices open, then
// takes the blocks as they come and writes its result.
#pragma once

#include "cli/BlockHandOff.h"
#include "measure/ResultCsv.h"

#include <string>

namespace cli {

class ResultFile;

class MeasurementCommand {
  public:
    virtual ~MeasurementCommand() = default;

    // The generator's frequency and level, before the devices open.
    virtual void SetTone() = 0;
    // Returns the exit status. `run` describes the run for the comment lines.
    virtual int Run(BlockHandOff& blocks, ResultFile& output, RunInfo run) = 0;
};

// How a run ended: its exit status and, unless it is done, why.
struct RunEnd {
    int status;
    std::string why;
};

// The end of a run whose wait for a block found none: stopped by a signal,
// or no audio.
RunEnd EndOfWaiting(BlockHandOff::Wait wait);
// Says why on standard error ("tembrix: ...") and gives the status.
int Report(const RunEnd& end);

// What follows a figure's name on standard error in a run of two channels:
// " (left)" or " (right)"; nothing in a run of one.
std::string ChannelLabel(int channel);

} // namespace cli
