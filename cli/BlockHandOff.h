// The command line's side of the block hand-off: what the window's display
// cycle does with WM_BLOCK_READY and DisplayReadyEvent, without a window. It
// also says on standard error when the input stops and when it comes back.
#pragma once

#include "audio/AudioPathCheck.h"
#include "audio/InputWatch.h"
#include "platform/WinTypes.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QueueWindow;

namespace cli {

class BlockHandOff {
  public:
    // No block for this long means the input has stopped; counted, like the
    // stop line, from the open while the first block is awaited.
    static constexpr std::chrono::seconds NoAudioLimit{10};

    explicit BlockHandOff(QueueWindow& window);

    // What came with a block.
    struct Block {
        WPARAM droppedBefore = 0; // blocks the capture thread discarded before it
        bool hasGap = false;      // frames lost in it, or the tone cut short before it
    };

    enum class Wait { Block, NoAudio, Stopped };
    // Block: SampleBlock holds the next block, `block` what came with it.
    // Stopped: a stop signal came.
    Wait Next(Block& block);
    // The block is done with: the capture thread may hand over the next.
    void Done();
    // Makes `change` (of the tone) while holding a block, as the window does,
    // so that every block handed over afterwards was recorded after the
    // block being recorded at the change: the tone-settling rule counts from
    // there. A block that waited meanwhile was recorded before the change.
    Wait ChangeAtNextBlock(const std::function<void()>& change);
    // Times the input lost frames since the block before this one.
    std::uint64_t GapsBefore() const { return m_gapsBefore; }

    // Where the lines about a stopped input go (standard error unless set),
    // so that a progress bar can keep its own line.
    using Say = std::function<void(const std::string& line)>;
    void SayThrough(Say say);

    // Once the first block has come, so that the server holds our streams,
    // says what lies between the instrument and the card (the "Audio path:"
    // line) as soon as it is known: unless `quiet`, and always when it
    // flags something.
    void TellAudioPath(bool quiet);
    // Says it now if it has not been said, waiting for it if need be: a
    // run may end before the answer comes.
    void FinishAudioPath();
    // The path, as said (waiting for it as FinishAudioPath does); none when
    // it was not asked for or not answered.
    const std::optional<AudioPath>& KnownAudioPath();

  private:
    void sayAudioPath(const std::optional<AudioPath>& path);

    QueueWindow& m_window;
    InputWatch m_watch;
    Say m_say;
    std::uint64_t m_gaps = 0;
    std::uint64_t m_gapsBefore = 0;
    bool m_tellAudioPath = false;
    bool m_quietAudioPath = false;
    audio::AudioPathCheck m_audioPath;
    std::optional<AudioPath> m_knownPath;
};

// The run's gap counts, for its summary on standard error: the input's gaps,
// the output's, and the streams reopened. Call while the devices are open.
std::string GapCountsLine();

} // namespace cli
