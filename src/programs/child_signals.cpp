#include "programs/child_signals.h"

#include <sys/signalfd.h>

#include <cerrno>

namespace fennick {

StopSignals::StopSignals() {
    sigset_t current;
    pthread_sigmask(SIG_SETMASK, nullptr, &current);
    sigemptyset(&watched_);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        if (::sigaction(signal, nullptr, &action) == 0 && action.sa_handler != SIG_IGN &&
            sigismember(&current, signal) == 0)
            sigaddset(&watched_, signal);
    }
    descriptor_ = Descriptor(::signalfd(-1, &watched_, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!descriptor_.open()) {
        error_ = errno;
        return;
    }
    pthread_sigmask(SIG_BLOCK, &watched_, &previous_);
}

StopSignals::~StopSignals() {
    if (error_ != 0)
        return;
    // Once we are stopping, a second signal must not end us before the
    // guards on the way out have removed what they guard.
    if (received_ != 0) {
        while (take() != 0) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

int StopSignals::received() {
    if (received_ == 0 && error_ == 0)
        received_ = take();
    return received_;
}

int StopSignals::take() {
    signalfd_siginfo info{};
    const ssize_t got = ::read(descriptor_.get(), &info, sizeof info);
    return got == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo) : 0;
}

ChildrenKept::ChildrenKept() {
    ::sigaction(SIGCHLD, nullptr, &previous_);
    if (previous_.sa_handler == SIG_IGN || (previous_.sa_flags & SA_NOCLDWAIT) != 0) {
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        sigemptyset(&standard.sa_mask);
        changed_ = ::sigaction(SIGCHLD, &standard, nullptr) == 0;
    }
}

ChildrenKept::~ChildrenKept() {
    if (changed_)
        ::sigaction(SIGCHLD, &previous_, nullptr);
}

}  // namespace fennick
