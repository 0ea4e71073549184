// A second thread reads the next pieces of a long stream while the caller
// parses the current one: a month's run takes ~12 % less wall time when the
// second core is free (bench/RESULTS.md, "Change 2: reading ahead").
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

namespace fennick {

class ReadAhead {
  public:
    // What follows a piece's bytes.
    static constexpr int kMore = 0;  // another piece
    static constexpr int kEnd = -1;  // the end of the stream
    // Any other value: the errno of a failed read, right after the bytes.

    struct Piece {
        char* data;        // `head` bytes of free room lie before it
        std::size_t size;  // may be 0 only when `after` is not kMore
        int after;
    };

    // Reads `stream` in pieces of `pieceSize` bytes: the first `inlinePieces`
    // in the caller's own calls, the rest on a thread that keeps ahead of
    // the caller. A short read never starts the thread, whose start and
    // wake-ups only a long one repays. The stream stays open; nothing else
    // may read it while this object lives.
    ReadAhead(std::FILE* stream, std::size_t pieceSize, std::size_t head, std::size_t inlinePieces);
    // Stops the thread, after the read it is in, if any.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next piece in stream order, waiting until it is read. A piece stays
    // valid until the second call after the one that returned it, so a
    // caller may carry bytes from the old piece into the new one's head room.
    // Past the last piece, the last piece comes again (with its bytes gone).
    Piece next();

  private:
    // Four pieces: two held by the caller, two for the thread to fill.
    static constexpr std::size_t kSlots = 4;  // the constructor names each one

    struct Slot {
        char* bytes;
        std::size_t size = 0;
        int after = kMore;
    };
    struct FreeLarge {
        void operator()(char* memory) const noexcept;
    };

    void fill(Slot& slot);
    void run(std::size_t first);
    Piece handOut(Slot& slot);

    std::FILE* stream_;
    std::size_t pieceSize_;
    std::size_t head_;
    std::size_t inline_;
    // All slots in one block: a big one lies in a single 2 MiB page, whose
    // first touch costs far less than that of the 4 KiB pages it replaces.
    std::unique_ptr<char[], FreeLarge> block_;
    Slot slots_[kSlots];
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t filled_ = 0;    // pieces read
    std::size_t released_ = 0;  // pieces the caller has given back
    std::size_t taken_ = 0;     // pieces handed to the caller
    bool stop_ = false;
    bool finished_ = false;  // the caller has had the last piece
    std::thread thread_;     // started by the caller once the inline pieces are read
};

}  // namespace fennick
