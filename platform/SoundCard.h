// What a sound card offers the waveform device layer: one output and one
// input stream of 16-bit PCM in the format the device was opened with. The
// card runs the streams on its own clock and calls back into the layer (a
// StreamClient) from its own audio thread.
#pragma once

#include "platform/WaveAudio.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

enum class WaveDirection { Output, Input };

// The device operations, one per direction, that a card used for tests may
// make fail (see SoundCard::injectedFault).
enum class WaveOperation {
    OutOpen,
    OutPrepare,
    OutUnprepare,
    OutWrite,
    OutReset,
    OutClose,
    InOpen,
    InPrepare,
    InUnprepare,
    InAddBuffer,
    InStart,
    InReset,
    InClose,
};
constexpr std::size_t WaveOperationCount = static_cast<std::size_t>(WaveOperation::InClose) + 1;

class StreamClient {
  public:
    // Output: fill `frames` samples with what is queued for playing; whatever
    // the queue cannot supply is silence.
    virtual void render(std::int16_t* samples, std::size_t frames) = 0;
    // Input: `frames` samples have been captured.
    virtual void capture(const std::int16_t* samples, std::size_t frames) = 0;
    // Input: the card lost frames before the next ones it captures.
    virtual void inputOverflowed() {}
    // Output: the card played silence for lack of samples (an underflow).
    virtual void outputUnderflowed() {}
    // For a card whose two directions are streams of their own, called back
    // each on its own schedule: the next frame that render() fills leaves
    // the card (that capture() is handed entered it) at `seconds`, on a
    // clock that both directions share; `frames` frames follow on from it in
    // this block. A card that cannot tell, or that runs both directions in
    // step, never calls it.
    virtual void blockTimed(double /*seconds*/, std::size_t /*frames*/) {}
    // How far the client's queue reaches: for output the frames still to
    // play, for input the frames of room left. A card that keeps pace with
    // its clients (the virtual card's fast clock) asks; others need not.
    virtual std::size_t queuedFrames() { return std::numeric_limits<std::size_t>::max(); }

  protected:
    ~StreamClient() = default;
};

class SoundCard {
  public:
    virtual ~SoundCard() = default;

    virtual UINT outputDeviceCount() = 0;
    virtual UINT inputDeviceCount() = 0;

    // Opens the default output and starts it at once: from then on the card
    // calls render() on its clock until closeOutput().
    virtual MMRESULT openOutput(const WAVEFORMATEX& format, StreamClient& client) = 0;
    virtual MMRESULT closeOutput() = 0;

    // Opens the default input; capture() is called only between startInput()
    // and stopInput() (or closeInput()).
    virtual MMRESULT openInput(const WAVEFORMATEX& format, StreamClient& client) = 0;
    virtual MMRESULT startInput() = 0;
    virtual MMRESULT stopInput() = 0;
    virtual MMRESULT closeInput() = 0;

    // The name of the device last opened in that direction, as the user
    // knows it ("" before the first open).
    virtual std::string deviceName(WaveDirection direction) const = 0;
    // The channels the device last opened in that direction was opened with,
    // which may be more than the stream's (0 before the first open, or
    // where the card does not say).
    virtual int openedChannels(WaveDirection /*direction*/) const { return 0; }

    // The stream of that direction has died (its sound server went away, its
    // device was unplugged): no more callbacks will come, and only closing it
    // and opening it again can bring it back. The device layer polls this.
    virtual bool streamFailed(WaveDirection /*direction*/) const { return false; }

    // The card's own words for its last failure ("" when it has none), which
    // the error texts of the device layer include.
    virtual std::string lastFailure() const = 0;

    // The layer's word that a buffer was queued or the input started, for a
    // card that waits on its clients' queues.
    virtual void buffersQueued() {}

    // Test cards only: the result this call of the operation gives instead of
    // being carried out; MMSYSERR_NOERROR lets it run.
    virtual MMRESULT injectedFault(WaveOperation /*operation*/) { return MMSYSERR_NOERROR; }
};
