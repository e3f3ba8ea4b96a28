#pragma once
// The one place where sound crosses threads: the capture thread writes blocks
// into a ring of a few fixed slots, the UI thread reads them in order.
//
// The writer never waits, locks or allocates. When the reader falls behind,
// the writer overwrites the oldest unread slot, so the oldest blocks are the
// ones lost, never the newest. Each slot carries a sequence number (a seqlock):
// the reader copies a slot and keeps the copy only if the slot still holds the
// same block afterwards. Samples are stored as relaxed atomic words, so the
// copy is free of data races even while the writer overwrites the slot.
//
// After each completed block the writer bumps an eventfd, which the UI thread
// watches with its event loop; one wake-up may stand for several blocks.
//
// A gap in the sound (the server gone, a hole in the stream) is marked by the
// writer: the block being assembled is thrown away, so that no block joins
// samples from both sides of it, and the reader counts the gap as one lost
// block when it takes the first block after it.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "core/Block.h"

namespace harmolune {

class BlockRing {
  public:
    static constexpr int kSlots = 8;

    BlockRing();
    ~BlockRing();
    BlockRing(const BlockRing&) = delete;
    BlockRing& operator=(const BlockRing&) = delete;

    // Capture thread only. Appends samples; every 4096 of them complete a block.
    void Push(const std::uint8_t* samples, std::size_t count);

    // Capture thread only. The samples pushed next do not follow the ones
    // before: drops the incomplete block, and counts one lost block in
    // Dropped() as the next complete block is taken.
    void MarkGap();

    // UI thread only. Copies the oldest unread block into out and returns
    // true, or returns false when no complete block is waiting.
    bool Pop(Block& out);

    // UI thread only. Clears the wake-up counter; call before draining.
    void ClearWakeUp();

    // File descriptor that becomes readable when a block has been completed,
    // or -1 when the system refused an eventfd (the reader must then poll).
    int WakeUpFd() const { return wakeFd_; }

    // UI thread only. Blocks lost since construction, because the reader fell
    // behind or because of a gap in the sound. It grows no later than the Pop
    // that returns the first block after the loss, so a reader that compares it
    // before and after each Pop knows whether that block follows the previous.
    std::uint64_t Dropped() const { return dropped_; }

  private:
    static constexpr int kWords = kFrameLength / 8;

    struct Slot {
        // 2 * (block number + 1) once block number is complete in this slot,
        // odd while the writer is filling it.
        std::atomic<std::uint64_t> sequence{0};
        std::atomic<std::uint64_t> gapsBefore{0};  // gaps marked since the previous block
        std::atomic<std::uint64_t> words[kWords];
    };

    void Publish();

    Slot slots_[kSlots];
    std::atomic<std::uint64_t> written_{0};  // blocks completed so far

    // Writer-side state.
    std::uint64_t fillWord_ = 0;  // the word being assembled
    int fillBytes_ = 0;           // bytes already in the current block
    std::uint64_t gaps_ = 0;      // gaps marked since the last completed block

    // Reader-side state.
    std::uint64_t next_ = 0;  // number of the next block to read
    std::uint64_t dropped_ = 0;

    int wakeFd_ = -1;
};

}  // namespace harmolune
