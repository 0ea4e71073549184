// The one failure type of the system: a kind and where it happened.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace fennick {

enum class FailureKind {
    FileNotFound,
    InputPastEnd,
    SubscriptOutOfRange,
    TypeMismatch,
    Overflow,
    InvalidArgument,
    CannotCreate,
    IoError,        // a read or write that the operating system refused after the open
    Busy,           // another run holds the folder
    OutOfMemory,    // a line longer than the memory that can hold it
    CommandFailed,  // a program the run starts could not start, failed or ran too long
};

// "File not found", "Type mismatch", ...
std::string_view kindName(FailureKind kind);

// A field's text as a failure message shows it: in double quotes, with bytes
// below 0x20 and 0x7F written as escapes ("\t", "\r", "\n", "\x00", other
// bytes as "\xHH") and a backslash doubled, so the message stays one line,
// no NUL cuts it short, and every escape reads back one way. Bytes from 0x80
// up pass unchanged (single-byte text in the machine's code page).
std::string quotedText(std::string_view text);
// The same without the quotes, for text that the message names otherwise.
std::string escapedText(std::string_view text);
// Only the control bytes escaped, as above; for whole messages and paths,
// whose backslashes are their own.
std::string oneLine(std::string_view text);

// Raised by every operation and caught by nobody but the program's edge.
// Low-level helpers raise it with a detail only; the caller that knows the
// file, line and field adds them on the way up (see `at`).
class Failure : public std::runtime_error {
  public:
    static constexpr long kNoLine = 0;
    static constexpr long kNoField = -1;

    Failure(FailureKind kind, std::string detail);

    FailureKind kind() const noexcept { return kind_; }
    const std::string& file() const noexcept { return file_; }
    long line() const noexcept { return line_; }    // 1-based; kNoLine when not known
    long field() const noexcept { return field_; }  // 0-based; kNoField when not known
    const std::string& detail() const noexcept { return detail_; }

    // Fills in the parts of the location that are still unknown.
    Failure& at(std::string_view file, long line = kNoLine, long field = kNoField);

  private:
    static std::string compose(FailureKind kind, const std::string& file, long line, long field,
                               const std::string& detail);

    FailureKind kind_;
    std::string file_;
    long line_ = kNoLine;
    long field_ = kNoField;
    std::string detail_;
};

}  // namespace fennick
