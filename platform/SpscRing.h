// A fixed-capacity queue between exactly one producing and one consuming
// thread at a time that never allocates, locks or waits: each side owns one
// index and only reads the other's. Either side may change hands, provided the
// old and the new holder synchronise (a release store read by an acquire load)
// in between.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>

template <class T, std::size_t Capacity> class SpscRing {
    static_assert(Capacity > 0 && (Capacity & (Capacity - 1)) == 0,
                  "the capacity is a power of two, so that the indices may wrap");

  public:
    static constexpr std::size_t capacity() { return Capacity; }

    // Producer: false, and nothing changes, when the ring is full.
    bool push(const T& value) {
        const std::size_t tail = m_tail.load(std::memory_order_relaxed);
        if (tail - m_head.load(std::memory_order_acquire) == Capacity)
            return false;
        m_slots[tail % Capacity] = value;
        m_tail.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer: false when the ring is empty.
    bool pop(T& value) {
        const std::size_t head = m_head.load(std::memory_order_relaxed);
        if (head == m_tail.load(std::memory_order_acquire))
            return false;
        value = m_slots[head % Capacity];
        m_head.store(head + 1, std::memory_order_release);
        return true;
    }

  private:
    std::array<T, Capacity> m_slots{};
    // Apart, so that the two sides do not share a cache line.
    alignas(64) std::atomic<std::size_t> m_head{0};
    alignas(64) std::atomic<std::size_t> m_tail{0};
};
