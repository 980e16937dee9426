// The standard descriptors as the process starts with them.
#pragma once

namespace platform {

// Call first, before anything is opened. Each of descriptors 0, 1 and 2 that
// the caller left closed is opened on /dev/null, so that no file opened later
// takes its number and receives what was meant for standard error; 0
// write-only and 1 and 2 read-only, so that using one still fails as on a
// closed descriptor. A reader that leaves a pipe makes a write fail instead of
// ending the process. False, with a line on standard error, when /dev/null
// cannot be opened.
bool PrepareStandardStreams();

} // namespace platform
