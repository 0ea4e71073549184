// Field text on its way into the page.
#pragma once

#include <string>
#include <string_view>

namespace fennick {

// Appends `text` to `out` with "&", "<" and ">" written as character
// references, so that a policy or client name cannot add markup to the page.
// Quotes stay as they are: field text only ever lands between tags, never in
// an attribute. Text without those three bytes is appended unchanged.
void appendHtmlText(std::string& out, std::string_view text);

}  // namespace fennick
