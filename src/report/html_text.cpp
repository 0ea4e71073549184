#include "report/html_text.h"

namespace fennick {

void appendHtmlText(std::string& out, std::string_view text) {
    // Copy the runs between special bytes in one piece; most fields have none.
    std::size_t start = 0;
    for (;;) {
        const std::size_t special = text.find_first_of("&<>", start);
        if (special == std::string_view::npos) {
            out.append(text.substr(start));
            return;
        }
        out.append(text.substr(start, special - start));
        switch (text[special]) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            default:
                out += "&gt;";
                break;
        }
        start = special + 1;
    }
}

}  // namespace fennick
