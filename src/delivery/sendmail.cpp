#include "delivery/sendmail.h"

#include "common/child_process.h"
#include "common/failure.h"

namespace fennick {

void sendMail(const std::string& program, const std::string& message,
              std::chrono::milliseconds timeout) {
    // -t: recipients from the headers; -oi: a line holding a single dot is
    // text, not the end of the message.
    ChildRequest request{{program, "-t", "-oi"}, {}, -1, message, timeout};
    ChildEnd end;
    try {
        end = runChild(request);
    } catch (Failure& failure) {
        // The detail already names the program and why it did not start.
        throw Failure(FailureKind::CommandFailed, "mail program " + failure.detail());
    }
    if (end.how == ChildEnd::How::Exited && end.code == 0)
        return;
    throw Failure(FailureKind::CommandFailed, "mail program " + quotedText(program) + " " +
                                                  describe(end, timeout) + lastErrorNote(end));
}

}  // namespace fennick
