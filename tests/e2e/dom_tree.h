// The tree of a page as a browser built it, read back from the browser's own
// serialisation (chromium --dump-dom). That text is regular: lower-case
// names, every attribute value in double quotes, text with "&", "<", ">"
// and no-break spaces written as character references.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace fennick::test {

struct DomNode {
    std::string name;  // element name; "#text" or "#comment" for those nodes
    std::string text;  // a text or comment node's text, references resolved
    std::map<std::string, std::string> attributes;
    std::vector<DomNode> children;

    // All text below this node, in document order.
    std::string textContent() const;
    // This node and every element below it with that name, in document order.
    std::vector<const DomNode*> all(std::string_view elementName) const;
    // Names of every element below this node (not this one), with repeats.
    std::vector<std::string> elementNamesBelow() const;
    // The attribute's value, or "" when it is absent.
    std::string attribute(const std::string& attributeName) const;
};

// Parses serialised DOM text into a tree under a node named "#document".
// Throws std::runtime_error on text that is not such a serialisation.
DomNode parseDom(std::string_view html);

}  // namespace fennick::test
