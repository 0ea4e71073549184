#include "dom_tree.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace fennick::test {

namespace {

constexpr std::array kVoidElements = {"area",  "base", "br",   "col",   "embed",  "hr",    "img",
                                      "input", "link", "meta", "param", "source", "track", "wbr"};
// Their text is written out raw, without references.
constexpr std::array kRawTextElements = {"style",   "script",   "xmp",      "iframe",
                                         "noembed", "noframes", "noscript", "plaintext"};

template <std::size_t N>
bool among(const std::array<const char*, N>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::string resolved(std::string_view text) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] != '&') {
            out += text[at++];
            continue;
        }
        const auto end = text.find(';', at);
        if (end == std::string_view::npos)
            throw std::runtime_error("bare & in serialised text");
        const std::string_view name = text.substr(at + 1, end - at - 1);
        if (name == "amp")
            out += '&';
        else if (name == "lt")
            out += '<';
        else if (name == "gt")
            out += '>';
        else if (name == "quot")
            out += '"';
        else if (name == "nbsp")
            out += "\xC2\xA0";
        else
            throw std::runtime_error("unexpected reference &" + std::string(name) + ";");
        at = end + 1;
    }
    return out;
}

bool nameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == ':';
}

class Parser {
  public:
    explicit Parser(std::string_view html) : html_(html) {}

    DomNode parse() {
        DomNode document;
        document.name = "#document";
        std::vector<DomNode*> open{&document};
        while (at_ < html_.size()) {
            DomNode& parent = *open.back();
            if (html_.compare(at_, 4, "<!--") == 0) {
                const auto end = findOrThrow("-->", at_ + 4);
                parent.children.push_back(
                    {"#comment", std::string(html_.substr(at_ + 4, end - at_ - 4)), {}, {}});
                at_ = end + 3;
            } else if (html_.compare(at_, 2, "<!") == 0) {
                at_ = findOrThrow(">", at_) + 1;  // a doctype
            } else if (html_.compare(at_, 2, "</") == 0) {
                const auto end = findOrThrow(">", at_);
                const std::string name(html_.substr(at_ + 2, end - at_ - 2));
                if (open.size() < 2 || open.back()->name != name)
                    throw std::runtime_error("end tag </" + name + "> closes nothing open");
                open.pop_back();
                at_ = end + 1;
            } else if (html_[at_] == '<') {
                DomNode element = startTag();
                const bool isVoid = among(kVoidElements, element.name);
                const bool raw = among(kRawTextElements, element.name);
                parent.children.push_back(std::move(element));
                DomNode& added = parent.children.back();
                if (raw) {
                    const std::string close = "</" + added.name + ">";
                    const auto end = findOrThrow(close, at_);
                    added.children.push_back(
                        {"#text", std::string(html_.substr(at_, end - at_)), {}, {}});
                    at_ = end + close.size();
                } else if (!isVoid) {
                    open.push_back(&added);
                }
            } else {
                const auto end = std::min(html_.find('<', at_), html_.size());
                parent.children.push_back(
                    {"#text", resolved(html_.substr(at_, end - at_)), {}, {}});
                at_ = end;
            }
        }
        if (open.size() != 1)
            throw std::runtime_error("<" + open.back()->name + "> is never closed");
        return document;
    }

  private:
    std::size_t findOrThrow(std::string_view what, std::size_t from) const {
        const auto found = html_.find(what, from);
        if (found == std::string_view::npos)
            throw std::runtime_error("no " + std::string(what) + " after offset " +
                                     std::to_string(from));
        return found;
    }

    // At "<name": reads the tag up to and including its ">".
    DomNode startTag() {
        DomNode element;
        ++at_;
        while (at_ < html_.size() && nameChar(html_[at_]))
            element.name += html_[at_++];
        if (element.name.empty())
            throw std::runtime_error("a tag without a name at offset " + std::to_string(at_));
        for (;;) {
            while (at_ < html_.size() && html_[at_] == ' ')
                ++at_;
            if (at_ >= html_.size())
                throw std::runtime_error("unterminated tag <" + element.name);
            if (html_[at_] == '>') {
                ++at_;
                return element;
            }
            std::string name;
            while (at_ < html_.size() && html_[at_] != '=' && html_[at_] != ' ' &&
                   html_[at_] != '>')
                name += html_[at_++];
            std::string value;
            if (at_ < html_.size() && html_[at_] == '=') {
                if (html_.compare(at_, 2, "=\"") != 0)
                    throw std::runtime_error("unquoted value of " + name);
                const auto end = findOrThrow("\"", at_ + 2);
                value = resolved(html_.substr(at_ + 2, end - at_ - 2));
                at_ = end + 1;
            }
            element.attributes[name] = value;
        }
    }

    std::string_view html_;
    std::size_t at_ = 0;
};

void collect(const DomNode& node, std::string_view name, std::vector<const DomNode*>& found) {
    if (node.name == name)
        found.push_back(&node);
    for (const DomNode& child : node.children)
        collect(child, name, found);
}

}  // namespace

std::string DomNode::textContent() const {
    if (name == "#text")
        return text;
    std::string all;
    for (const DomNode& child : children) {
        if (child.name != "#comment")
            all += child.textContent();
    }
    return all;
}

std::vector<const DomNode*> DomNode::all(std::string_view elementName) const {
    std::vector<const DomNode*> found;
    collect(*this, elementName, found);
    return found;
}

std::vector<std::string> DomNode::elementNamesBelow() const {
    std::vector<std::string> names;
    for (const DomNode& child : children) {
        if (child.name == "#text")
            continue;
        names.push_back(child.name);
        const auto below = child.elementNamesBelow();
        names.insert(names.end(), below.begin(), below.end());
    }
    return names;
}

std::string DomNode::attribute(const std::string& attributeName) const {
    const auto found = attributes.find(attributeName);
    return found == attributes.end() ? "" : found->second;
}

DomNode parseDom(std::string_view html) {
    return Parser(html).parse();
}

}  // namespace fennick::test
