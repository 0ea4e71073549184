#include "common/failure.h"

#include "common/control_bytes.h"

namespace fennick {

std::string_view kindName(FailureKind kind) {
    switch (kind) {
        case FailureKind::FileNotFound:
            return "File not found";
        case FailureKind::InputPastEnd:
            return "Input past end of file";
        case FailureKind::SubscriptOutOfRange:
            return "Subscript out of range";
        case FailureKind::TypeMismatch:
            return "Type mismatch";
        case FailureKind::Overflow:
            return "Overflow";
        case FailureKind::InvalidArgument:
            return "Invalid argument";
        case FailureKind::CannotCreate:
            return "Cannot create file";
        case FailureKind::IoError:
            return "I/O error";
        case FailureKind::Busy:
            return "AppDir busy";
        case FailureKind::OutOfMemory:
            return "Out of memory";
        case FailureKind::CommandFailed:
            return "Command failed";
    }
    return "Failure";
}

namespace {

// Appends the escape of a byte below 0x20 or 0x7F.
void appendControl(std::string& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    switch (byte) {
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
    }
}

}  // namespace

std::string escapedText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\')
            out += "\\\\";
        else if (isControlByte(c))
            appendControl(out, byte);
        else
            out += c;
    }
    return out;
}

std::string oneLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (isControlByte(c))
            appendControl(out, byte);
        else
            out += c;
    }
    return out;
}

std::string quotedText(std::string_view text) {
    return '"' + escapedText(text) + '"';
}

Failure::Failure(FailureKind kind, std::string detail)
    : std::runtime_error(compose(kind, {}, kNoLine, kNoField, detail)),
      kind_(kind),
      detail_(std::move(detail)) {}

Failure& Failure::at(std::string_view file, long line, long field) {
    if (file_.empty())
        file_ = file;
    if (line_ == kNoLine)
        line_ = line;
    if (field_ == kNoField)
        field_ = field;
    static_cast<std::runtime_error&>(*this) =
        std::runtime_error(compose(kind_, file_, line_, field_, detail_));
    return *this;
}

// "Type mismatch: bpdbjobs.txt line 12, field 8 is not a number ("12a")"
std::string Failure::compose(FailureKind kind, const std::string& file, long line, long field,
                             const std::string& detail) {
    std::string text(kindName(kind));
    text += ':';
    if (!file.empty())
        text += ' ' + file;
    if (line != kNoLine)
        text += " line " + std::to_string(line);
    if (field != kNoField) {
        text += line != kNoLine ? ", field " : " field ";
        text += std::to_string(field);
    }
    if (!detail.empty())
        text += ' ' + detail;
    // A path may hold any byte but "/" and NUL: the message stays one line.
    return oneLine(text);
}

}  // namespace fennick
