// Starting and ending a signal played once and recorded as it comes back
// (QueuedSignal and Recording), for whichever thread takes the blocks: a
// command-line run waits for them, the window is handed them one display
// cycle at a time. Between the start and the end that thread checks
// Recording.Finished() as blocks come.
#pragma once

#include "audio/InputRecording.h"
#include "audio/SignalPlayback.h"

#include <optional>
#include <string>

namespace audio {

// Queues `program` for the playback thread, which plays it from its next
// buffer on, and records from the next block on: the lead-in's frames
// before the signal, the signal's and the margin's after it. Start it once
// a block has come, so that the input runs when the signal plays. Nothing
// when started; otherwise why not, and nothing is queued or recording.
std::optional<std::string> StartSignalRecording(const SignalPlayback::Program& program);
// Once Recording.Finished(): the recording, whole or with a gap. The playback
// thread has let go of the samples, and plays the tone again after the
// margin.
InputRecording::Result TakeSignalRecording();
// Ends it before it finished: nothing more is recorded, and the playback
// thread has let go of the samples and plays the tone again. Harmless when
// none runs.
void CancelSignalRecording();

} // namespace audio
