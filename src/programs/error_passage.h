// What a started program writes, shown on our standard error without ever
// waiting for it: a journal that is slow or a pipe that nobody reads must not
// hold a run past its deadline.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fennick {

class ErrorPassage {
  public:
    // Looks once at what our standard error is (a socket is written with
    // send(), anything else after a poll, at most PIPE_BUF bytes at a time).
    ErrorPassage();
    ErrorPassage(const ErrorPassage&) = delete;
    ErrorPassage& operator=(const ErrorPassage&) = delete;

    // Writes as much as our standard error takes now and keeps up to
    // kBacklog bytes for later, in order; the rest is dropped and counted,
    // a whole line at a time where the held part allows.
    void show(std::string_view text);
    // Writes what the backlog holds, as far as it goes now.
    void flush();
    // A last flush; what is still held counts as dropped, and when anything
    // was dropped one line says how much of what `source` wrote was lost.
    void finish(std::string_view source);

    std::size_t dropped() const { return dropped_; }

    static constexpr std::size_t kBacklog = 64 * 1024;

  private:
    bool socket_ = false;
    std::string backlog_;
    std::size_t dropped_ = 0;
    bool cutting_ = false;  // the line being written lost its start
};

}  // namespace fennick
