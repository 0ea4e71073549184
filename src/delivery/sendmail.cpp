#include "delivery/sendmail.h"

#include "common/failure.h"
#include "programs/child_process.h"

namespace fennick {

void sendMail(const std::string& program, const std::string& message,
              std::chrono::milliseconds timeout) {
    ChildRequest request;
    // -t: recipients from the headers; -oi: a line holding a single dot is
    // text, not the end of the message.
    request.arguments = {program, "-t", "-oi"};
    request.input = message;
    request.timeout = timeout;
    ChildEnd end;
    try {
        end = runChild(request);
    } catch (Failure& failure) {
        // The detail already names the program and why it did not start.
        throw Failure(FailureKind::CommandFailed, "mail program " + failure.detail());
    }
    std::string ending;
    if (end.how != ChildEnd::How::Exited || end.code != 0) {
        ending = describe(end, timeout);
    } else if (end.inputTaken < message.size()) {
        // A mail system that queued part of the message would deliver a
        // report cut short, or nothing, as if all were well.
        ending = "exited with status 0 but took " + std::to_string(end.inputTaken) + " of " +
                 std::to_string(message.size()) + " bytes of the message";
    } else {
        return;
    }
    throw Failure(FailureKind::CommandFailed,
                  "mail program " + quotedText(program) + " " + ending + lastErrorNote(end));
}

}  // namespace fennick
