// Handing a finished message to the machine's mail system, which queues,
// retries and delivers it.
#pragma once

#include <chrono>
#include <string>

namespace fennick {

inline constexpr const char* kDefaultSendmail = "/usr/sbin/sendmail";
inline constexpr std::chrono::minutes kSendmailTimeout{5};

// Runs `program -t -oi` with `message` (headers, blank line, body) on its
// standard input; the recipients come from the message's To: header. The
// program's standard output and error go to our standard error, since our
// standard output carries the run's summary line for scripts. Throws
// Failure(CommandFailed) naming the program when it cannot be started,
// exits with a status other than 0, is killed, runs past `timeout`, or exits
// with status 0 without having read the whole message.
void sendMail(const std::string& program, const std::string& message,
              std::chrono::milliseconds timeout = kSendmailTimeout);

}  // namespace fennick
