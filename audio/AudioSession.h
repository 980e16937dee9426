// The life of the audio around whatever shows the blocks, the window or the
// command line: the shared state, the two threads, the two devices and their
// shutdown, in the order the application object takes them. Every failure
// shows its message, names the failing operation on standard error and ends
// the process with a nonzero status.
#pragma once

namespace audio {

// Block size, shared buffers, the tone's start values, the events.
void PrepareAudioState();
// Ends the process (status 1) when the machine has no output or no input
// device.
void RequireAudioDevices();
// The playback thread, then the capture thread.
void StartAudioThreads();
// The output, then the input, with their notifications delivered to the
// threads. The application's main window must exist: the first block is
// posted to it about 0.186 s after the input opens.
void OpenAudioDevices();
// Stops both threads, resets and closes both devices and releases the shared
// state once both threads have ended. A reset or close that failed is shown
// and reported, and then ends the process with status 1, at once when its
// device did not close, else once the shared state is released.
void ShutDownAudio();

} // namespace audio
