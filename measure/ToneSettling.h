// Tells whether a captured block can still carry the previous tone. The
// playback thread keeps four buffers queued, so after a frequency change up to
// four blocks of the old tone are still to be played, and the block being
// recorded at the change started up to a block earlier: the first six blocks
// recorded after the change may carry the old tone or a mix of both.
#pragma once

#include <cstdint>

class ToneSettling {
  public:
    static constexpr int StaleBlocks = 6;

    // `staleBlocks` more for a caller whose capture thread may still hold
    // blocks recorded before the change when it makes it.
    explicit ToneSettling(int staleBlocks = StaleBlocks) : m_staleBlocks(staleBlocks) {}

    // The generator's frequency has just changed.
    void Retuned();
    // A block was handed over with `droppedBefore` blocks discarded before it.
    // The first one after the change is the block being recorded at the
    // change; its dropped blocks were all recorded before it.
    void BlockShown(std::uint64_t droppedBefore);
    // The block just shown holds a gap: the tone may have been cut off inside
    // it, so it and the blocks recorded up to the playback queue's length
    // after it count as if the tone had changed while it was recorded.
    void Interrupted();
    bool MayCarryOldTone() const { return m_blocksRecorded <= m_staleBlocks; }
    // Blocks recorded since the change, shown and dropped ones.
    std::uint64_t BlocksRecorded() const { return m_blocksRecorded; }

  private:
    std::uint64_t m_staleBlocks;
    std::uint64_t m_blocksRecorded = m_staleBlocks + 1;
    bool m_firstAfterChange = false;
};
