// ALSA, JACK and libpulse print their own diagnostics on standard error
// (every device they probe, every server they fail to reach); none of it is
// for the user. Their libraries' own hooks take those lines instead: dropped,
// or written to standard error under --verbose (libpulse's log target is set
// by SetVerboseAudioLibraries). PortAudio's debug lines, which have no hook,
// are kept off by SetVerboseAudioLibraries (see AudioDevices.h).
#pragma once

namespace platform {

// Installs the hooks; call before PortAudio initialises. PortAudio replaces
// JACK's error function with its own once it reaches a JACK server.
void RouteAudioLibraryMessages();

} // namespace platform
