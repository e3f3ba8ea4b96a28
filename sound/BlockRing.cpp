#include "sound/BlockRing.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace harmolune {

BlockRing::BlockRing() : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    for (Slot& slot : slots_) {
        for (auto& word : slot.words) {
            word.store(0, std::memory_order_relaxed);
        }
    }
}

BlockRing::~BlockRing() {
    if (wakeFd_ >= 0) {
        close(wakeFd_);
    }
}

void BlockRing::Push(const std::uint8_t* samples, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t block = written_.load(std::memory_order_relaxed);
        Slot& slot = slots_[block % kSlots];
        if (fillBytes_ == 0) {
            // Mark the slot as being rewritten before the first word changes.
            slot.sequence.store(2 * block + 1, std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_release);
        }
        // Sample k of the block is byte k % 8 (from the low end) of word k / 8.
        fillWord_ |= static_cast<std::uint64_t>(samples[i]) << (8 * (fillBytes_ % 8));
        ++fillBytes_;
        if (fillBytes_ % 8 == 0) {
            slot.words[fillBytes_ / 8 - 1].store(fillWord_, std::memory_order_relaxed);
            fillWord_ = 0;
        }
        if (fillBytes_ == kFrameLength) {
            slot.gapsBefore.store(gaps_, std::memory_order_relaxed);
            gaps_ = 0;
            slot.sequence.store(2 * (block + 1), std::memory_order_release);
            fillBytes_ = 0;
            Publish();
        }
    }
}

void BlockRing::MarkGap() {
    // The slot of the dropped block keeps its odd sequence: the reader never
    // looks at it before it is written again, whole.
    fillWord_ = 0;
    fillBytes_ = 0;
    ++gaps_;
}

void BlockRing::Publish() {
    written_.fetch_add(1, std::memory_order_release);
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        // Non-blocking; a full counter means a wake-up is pending anyway.
        [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
    }
}

void BlockRing::ClearWakeUp() {
    if (wakeFd_ >= 0) {
        std::uint64_t value = 0;
        [[maybe_unused]] const ssize_t n = read(wakeFd_, &value, sizeof value);
    }
}

bool BlockRing::Pop(Block& out) {
    for (;;) {
        const std::uint64_t written = written_.load(std::memory_order_acquire);
        if (next_ >= written) {
            return false;
        }
        // Slots older than the last kSlots - 1 complete blocks may already be
        // overwritten, and the one after them may be in the writer's hands.
        if (written - next_ > kSlots - 1) {
            dropped_ += written - (kSlots - 1) - next_;
            next_ = written - (kSlots - 1);
        }
        const Slot& slot = slots_[next_ % kSlots];
        const std::uint64_t expected = 2 * (next_ + 1);
        if (slot.sequence.load(std::memory_order_acquire) == expected) {
            const std::uint64_t gaps = slot.gapsBefore.load(std::memory_order_relaxed);
            for (int w = 0; w < kWords; ++w) {
                const std::uint64_t word = slot.words[w].load(std::memory_order_relaxed);
                for (int j = 0; j < 8; ++j) {
                    out[8 * w + j] = static_cast<std::uint8_t>(word >> (8 * j));
                }
            }
            std::atomic_thread_fence(std::memory_order_acquire);
            if (slot.sequence.load(std::memory_order_relaxed) == expected) {
                dropped_ += gaps;
                ++next_;
                return true;
            }
        }
        // Overwritten while we looked: that block is lost, try the next one.
        ++dropped_;
        ++next_;
    }
}

}  // namespace harmolune
