#include "delivery/mail_message.h"

#include <gmime/gmime.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>

#include "common/failure.h"
#include "delivery/text_encoding.h"

namespace fennick {

namespace {

// GMime's objects are reference counted; each owner drops its reference.
struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using Owned = std::unique_ptr<T, Unref>;

struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};

void initialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

std::string randomHex(std::size_t bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::random_device device;
    std::string out;
    while (out.size() < bytes * 2) {
        unsigned value = device();
        for (int i = 0; i < 4 && out.size() < bytes * 2; ++i, value >>= 8) {
            out += kHex[value >> 4 & 0xF];
            out += kHex[value & 0xF];
        }
    }
    return out;
}

// Without the angle brackets, which GMime adds.
std::string messageId(const MailHeaderInfo& header) {
    std::string domain;
    for (const char c : header.messageIdDomain) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '-')
            domain += c;
    }
    if (domain.empty())
        domain = "localhost";
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(header.date.time_since_epoch())
            .count();
    return std::to_string(millis) + '.' + std::to_string(::getpid()) + '.' + randomHex(8) + '@' +
           domain;
}

// Adds the mailboxes of `text` ("Name <a@x>", or a bare address) to `list`;
// GMime encodes a name that is not ASCII (RFC 2047) and folds the field.
void addMailboxes(InternetAddressList* list, const std::string& text) {
    Owned<InternetAddressList> parsed(internet_address_list_parse(nullptr, text.c_str()));
    if (parsed && internet_address_list_length(parsed.get()) > 0) {
        internet_address_list_append(list, parsed.get());
        return;
    }
    // Checked as it came in; whatever GMime could not parse goes as it is.
    Owned<InternetAddress> mailbox(internet_address_mailbox_new(nullptr, text.c_str()));
    internet_address_list_add(list, mailbox.get());
}

Owned<GMimeMessage> messageWith(const MailHeaderInfo& header, const std::string& subject) {
    initialiseOnce();
    Owned<GMimeMessage> message(g_mime_message_new(TRUE));
    if (!header.from.empty())
        addMailboxes(g_mime_message_get_from(message.get()), header.from);
    for (const std::string& to : header.to)
        addMailboxes(g_mime_message_get_to(message.get()), to);
    g_mime_message_set_subject(message.get(), subject.c_str(), "utf-8");
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(header.date.time_since_epoch()).count();
    std::unique_ptr<GDateTime, decltype(&g_date_time_unref)> date(
        g_date_time_new_from_unix_utc(seconds), &g_date_time_unref);
    g_mime_message_set_date(message.get(), date.get());
    g_mime_message_set_message_id(message.get(), messageId(header).c_str());
    // Vacation responders and the like leave a machine's mail alone (RFC 3834).
    g_mime_object_set_header(GMIME_OBJECT(message.get()), "Auto-Submitted", "auto-generated",
                             nullptr);
    return message;
}

// A text part in UTF-8, quoted-printable so that it stays readable raw.
Owned<GMimeTextPart> textPart(const char* subtype, const std::string& utf8) {
    Owned<GMimeTextPart> part(g_mime_text_part_new_with_subtype(subtype));
    // The bytes as they are: setting the text would let GMime pick another
    // charset and convert to it.
    Owned<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(utf8.data(), utf8.size()));
    Owned<GMimeDataWrapper> content(
        g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
    g_mime_part_set_content(GMIME_PART(part.get()), content.get());
    g_mime_text_part_set_charset(part.get(), "utf-8");
    g_mime_part_set_content_encoding(GMIME_PART(part.get()),
                                     GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
    return part;
}

// The page as it lies on disk: base64 keeps every byte.
Owned<GMimePart> pageAttachment(const std::string& bytes, const std::string& name) {
    Owned<GMimePart> part(g_mime_part_new_with_type("text", "html"));
    g_mime_object_set_content_type_parameter(GMIME_OBJECT(part.get()), "charset",
                                             isValidUtf8(bytes) ? "utf-8" : "windows-1252");
    Owned<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
    Owned<GMimeDataWrapper> content(
        g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
    g_mime_part_set_content(part.get(), content.get());
    g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_BASE64);
    g_mime_object_set_disposition(GMIME_OBJECT(part.get()), "attachment");
    g_mime_part_set_filename(part.get(), name.c_str());
    return part;
}

std::string written(GMimeMessage* message) {
    GMimeFormatOptions* options = g_mime_format_options_clone(nullptr);
    g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_UNIX);
    std::unique_ptr<char, GFree> text(g_mime_object_to_string(GMIME_OBJECT(message), options));
    g_mime_format_options_free(options);
    return text ? std::string(text.get()) : std::string();
}

// The size of a message with LF line ends as it travels, each line ending in
// CR LF: what a mail server's size limit counts.
std::uintmax_t travellingSize(std::string_view message) {
    return message.size() +
           static_cast<std::uintmax_t>(std::count(message.begin(), message.end(), '\n'));
}

// The report's message as `summary` has it, with `page` attached unless it
// is null.
std::string messageOf(const MailHeaderInfo& header, const ActionSummary& summary,
                      const std::string* page) {
    Owned<GMimeMessage> message = messageWith(header, actionSubject(summary));
    Owned<GMimeMultipart> alternative(g_mime_multipart_new_with_subtype("alternative"));
    const auto plain = textPart("plain", summaryText(summary));
    const auto html = textPart("html", summaryHtml(summary));
    g_mime_multipart_add(alternative.get(), GMIME_OBJECT(plain.get()));
    g_mime_multipart_add(alternative.get(), GMIME_OBJECT(html.get()));

    Owned<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
    g_mime_multipart_add(mixed.get(), GMIME_OBJECT(alternative.get()));
    if (page != nullptr) {
        const auto attachment = pageAttachment(*page, summary.report.page.filename().string());
        g_mime_multipart_add(mixed.get(), GMIME_OBJECT(attachment.get()));
    }
    g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(mixed.get()));
    return written(message.get());
}

}  // namespace

PageForMail readPageForMail(const std::filesystem::path& page, std::uintmax_t limit) {
    const std::string name = page.filename().string();
    const auto failed = [&](int error) {
        return Failure(error == ENOENT ? FailureKind::FileNotFound : FailureKind::IoError,
                       page.string() + " (" + std::strerror(error) + ")")
            .at(name);
    };
    std::FILE* file = std::fopen(page.c_str(), "rb");
    if (file == nullptr)
        throw failed(errno);
    struct Closer {
        std::FILE* file;
        ~Closer() { std::fclose(file); }
    } closer{file};

    PageForMail result;
    result.limit = limit;
    std::string bytes;
    std::array<char, 1 << 16> buffer;
    // One byte past the limit tells a page over it, without reading it all.
    const std::uintmax_t most = limit == UINTMAX_MAX ? limit : limit + 1;
    while (bytes.size() < most) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uintmax_t>(buffer.size(), most - bytes.size()));
        const std::size_t got = std::fread(buffer.data(), 1, want, file);
        bytes.append(buffer.data(), got);
        if (got < want) {
            if (std::ferror(file))
                throw failed(errno);
            break;
        }
    }
    if (bytes.size() > limit) {
        std::error_code unknown;
        const std::uintmax_t size = std::filesystem::file_size(page, unknown);
        result.size = unknown ? bytes.size() : std::max<std::uintmax_t>(size, bytes.size());
        return result;
    }
    result.size = bytes.size();
    result.bytes = std::move(bytes);
    return result;
}

std::string reportMessage(const MailHeaderInfo& header, const ActionSummary& summary,
                          const PageForMail& page) {
    ActionSummary shown = summary;
    shown.pageSize = page.size;
    shown.pageLimit = page.limit;
    // Base64 makes four bytes of every three: a page whose encoding alone is
    // over the limit is not worth a message to measure.
    const std::uintmax_t encodedAtLeast = page.size / 3 * 4 + (page.size % 3 == 0 ? 0 : 4);
    shown.pageAttached = page.bytes.has_value() && encodedAtLeast <= page.limit;
    if (shown.pageAttached) {
        std::string message = messageOf(header, shown, &*page.bytes);
        if (travellingSize(message) <= page.limit)
            return message;
        shown.pageAttached = false;
    }
    return messageOf(header, shown, nullptr);
}

std::string failureMessage(const MailHeaderInfo& header, std::string_view failure,
                           const std::filesystem::path& folder) {
    Owned<GMimeMessage> message = messageWith(header, failureSubject(failure));
    const std::string text = "The backup report run in " + asUtf8(folder.string()) +
                             " failed:\n\n" + asUtf8(failure) +
                             "\n\nThe system journal or the run's standard error has more.\n";
    const auto plain = textPart("plain", text);
    g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(plain.get()));
    return written(message.get());
}

}  // namespace fennick
