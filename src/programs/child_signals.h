// Our signal settings while a started program runs, each held for the life
// of an object and given back as it was.
#pragma once

#include <signal.h>

#include "programs/descriptor.h"

namespace fennick {

// SIGINT, SIGTERM and SIGHUP while a program runs: their default action would
// end us at once and leave the program's group running on its own, so they
// are held back in the calling thread and read from a descriptor in the loop
// that waits for it. One that the caller ignores (nohup, a background job's
// SIGINT) or already blocks is left to the caller.
class StopSignals {
  public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The errno why the signals could not be held back; 0 when they are.
    int error() const { return error_; }
    // The first stop signal that arrived; 0 while none has.
    int received();
    // For poll to wake on a signal; -1 once one arrived, so that the loops
    // that stop the program do not spin on it.
    int wake() const { return received_ == 0 ? descriptor_.get() : -1; }

  private:
    int take();

    sigset_t watched_;
    sigset_t previous_;
    Descriptor descriptor_;
    int error_ = 0;
    int received_ = 0;
};

// A SIGCHLD that we inherited ignored (or with SA_NOCLDWAIT) lets the kernel
// reap the program unasked: its status would be lost and read as 0, a failed
// command taken for a good one. The default holds while the object lives;
// the program is started with it too.
class ChildrenKept {
  public:
    ChildrenKept();
    ~ChildrenKept();
    ChildrenKept(const ChildrenKept&) = delete;
    ChildrenKept& operator=(const ChildrenKept&) = delete;

  private:
    struct sigaction previous_ {};
    bool changed_ = false;
};

}  // namespace fennick
