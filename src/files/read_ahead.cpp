#include "files/read_ahead.h"

#include <cerrno>

#include "files/huge_pages.h"

namespace fennick {

void ReadAhead::FreeLarge::operator()(char* memory) const noexcept {
    freeLarge(memory);
}

// Not cleared: a page costs only once something is read into it.
ReadAhead::ReadAhead(std::FILE* stream, std::size_t pieceSize, std::size_t head,
                     std::size_t inlinePieces)
    : stream_(stream),
      pieceSize_(pieceSize),
      head_(head),
      inline_(inlinePieces),
      block_(static_cast<char*>(allocateLarge(kSlots * (head + pieceSize)))),
      slots_{{block_.get()},
             {block_.get() + (head + pieceSize)},
             {block_.get() + 2 * (head + pieceSize)},
             {block_.get() + 3 * (head + pieceSize)}} {}

ReadAhead::~ReadAhead() {
    if (!thread_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ReadAhead::fill(Slot& slot) {
    const std::size_t got = std::fread(slot.bytes + head_, 1, pieceSize_, stream_);
    slot.size = got;
    slot.after = kMore;
    if (got < pieceSize_)
        slot.after = std::ferror(stream_) ? (errno != 0 ? errno : EIO) : kEnd;
}

void ReadAhead::run(std::size_t first) {
    for (std::size_t piece = first;; ++piece) {
        Slot* slot = nullptr;
        {
            std::unique_lock lock(mutex_);
            // A slot is free once the caller has given back the piece that
            // last used it.
            changed_.wait(lock, [&] { return stop_ || piece < released_ + kSlots; });
            if (stop_)
                return;
            slot = &slots_[piece % kSlots];
        }
        // The slot belongs to this thread alone until it is published below.
        fill(*slot);
        {
            const std::lock_guard lock(mutex_);
            filled_ = piece + 1;
        }
        changed_.notify_all();
        if (slot->after != kMore)
            return;
    }
}

ReadAhead::Piece ReadAhead::handOut(Slot& slot) {
    ++taken_;
    finished_ = slot.after != kMore;
    return {slot.bytes + head_, slot.size, slot.after};
}

ReadAhead::Piece ReadAhead::next() {
    if (!thread_.joinable() && !finished_ && taken_ < inline_) {
        // No thread yet: nothing else touches the slots or the counts.
        Slot& slot = slots_[taken_ % kSlots];
        fill(slot);
        filled_ = taken_ + 1;
        return handOut(slot);
    }
    std::unique_lock lock(mutex_);
    if (finished_) {
        Slot& last = slots_[(taken_ - 1) % kSlots];
        return {last.bytes + head_, 0, last.after};
    }
    if (!thread_.joinable()) {
        // The thread goes on from the caller's place: the piece the caller
        // holds stays its own, the ones before it are free.
        released_ = taken_ > 0 ? taken_ - 1 : 0;
        thread_ = std::thread([this, first = taken_] { run(first); });
    } else if (taken_ > 1 && released_ < taken_ - 1) {
        // Every piece before the one the caller holds now goes back.
        released_ = taken_ - 1;
        lock.unlock();
        changed_.notify_all();
        lock.lock();
    }
    changed_.wait(lock, [&] { return filled_ > taken_; });
    return handOut(slots_[taken_ % kSlots]);
}

}  // namespace fennick
