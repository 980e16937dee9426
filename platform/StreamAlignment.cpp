#include "platform/StreamAlignment.h"

#include <algorithm>
#include <cmath>

void StreamAlignment::Offsets::add(BlockOffset block) {
    if (m_count == MaxTimedBlocks || block.frames == 0)
        return;
    m_blocks[m_count++] = block;
    m_frames += block.frames;
}

double StreamAlignment::Offsets::median() const {
    std::array<BlockOffset, MaxTimedBlocks> sorted = m_blocks;
    const auto end = sorted.begin() + static_cast<std::ptrdiff_t>(m_count);
    std::sort(sorted.begin(), end,
              [](const BlockOffset& a, const BlockOffset& b) { return a.offset < b.offset; });
    std::uint64_t below = 0;
    for (auto block = sorted.begin(); block != end; ++block) {
        below += block->frames;
        if (2 * below >= m_frames)
            return block->offset;
    }
    return 0;
}

// A full ring drops the block: the output has not been called for a while,
// and what it finds is timed as well.
void StreamAlignment::inputEntered(std::uint64_t position, std::size_t frames, double time) {
    m_inputTimes.push({m_pairing.load(std::memory_order_acquire),
                       {static_cast<double>(position) - time, frames}});
}

// The output's times count from the input's first on, so that both medians
// describe the same stretch of time: a drift of the card's clock against the
// timing clock then moves both alike.
void StreamAlignment::outputLeaves(std::uint64_t frame, std::size_t frames, double time) {
    followPairing();
    InputBlock input;
    while (m_inputTimes.pop(input)) {
        if (input.pairing == m_pairingSeen && !m_settled)
            m_input.add(input.block);
    }
    if (m_settled || m_input.empty())
        return;
    m_output.add({static_cast<double>(frame) - time, frames});
    m_offset = std::llround(m_input.median() - m_output.median());
    m_settled = m_input.enough() && m_output.enough();
}

std::optional<std::uint64_t> StreamAlignment::inputPositionOf(std::uint64_t frame) const {
    if (!m_offset || m_pairing.load(std::memory_order_acquire) != m_pairingSeen)
        return std::nullopt;
    const std::int64_t position = static_cast<std::int64_t>(frame) + *m_offset;
    if (position < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(position);
}

void StreamAlignment::followPairing() {
    const std::uint32_t pairing = m_pairing.load(std::memory_order_acquire);
    if (pairing == m_pairingSeen)
        return;
    m_pairingSeen = pairing;
    m_input.clear();
    m_output.clear();
    m_offset.reset();
    m_settled = false;
}
