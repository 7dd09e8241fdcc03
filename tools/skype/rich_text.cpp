#include "rich_text.h"

#include <set>
#include <string_view>
#include <vector>

namespace standin_skype {
namespace {

constexpr unsigned long kLastCodePoint = 0x10FFFF;

struct Cursor {
    std::string_view text;
    std::size_t at = 0;

    bool done() const { return at >= text.size(); }
    char peek() const { return done() ? '\0' : text[at]; }
    bool take(char c) {
        if (done() || text[at] != c)
            return false;
        ++at;
        return true;
    }
    bool takeText(std::string_view word) {
        if (text.substr(at, word.size()) != word)
            return false;
        at += word.size();
        return true;
    }
};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void skipBlanks(Cursor& in) {
    while (!in.done() && isBlank(in.peek()))
        ++in.at;
}

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Bytes beyond ASCII are taken as the letters of other scripts.
bool startsName(char c) {
    return isAsciiLetter(c) || c == '_' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
}

bool continuesName(char c) {
    return startsName(c) || isDigit(c) || c == '-' || c == '.';
}

// An XML name; empty when none starts here.
std::string_view takeName(Cursor& in) {
    const std::size_t start = in.at;
    if (in.done() || !startsName(in.peek()))
        return {};
    while (!in.done() && continuesName(in.peek()))
        ++in.at;
    return in.text.substr(start, in.at - start);
}

bool isXmlChar(unsigned long c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= kLastCodePoint);
}

int digitValue(char c, unsigned base) {
    if (isDigit(c))
        return c - '0';
    if (base == 16 && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// After "&#": digits (or "x" and hex digits) and ";", naming an XML character.
bool takeCharacterReference(Cursor& in) {
    const unsigned base = in.take('x') ? 16 : 10;
    unsigned long value = 0;
    std::size_t digits = 0;
    for (; !in.done() && digitValue(in.peek(), base) >= 0; ++in.at, ++digits) {
        // Past the last code point it stays past it, without overflowing.
        if (value <= kLastCodePoint)
            value = value * base + static_cast<unsigned long>(digitValue(in.peek(), base));
    }
    return digits > 0 && in.take(';') && isXmlChar(value);
}

// At "&": a reference of the five predefined entities or a character.
bool takeReference(Cursor& in) {
    in.take('&');
    if (in.take('#'))
        return takeCharacterReference(in);
    const std::string_view name = takeName(in);
    const bool known =
        name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos";
    return known && in.take(';');
}

// At a quote: the attribute's value up to the same quote.
bool takeAttributeValue(Cursor& in) {
    const char quote = in.peek();
    if (quote != '"' && quote != '\'')
        return false;
    ++in.at;
    while (!in.done() && in.peek() != quote) {
        if (in.peek() == '<')
            return false;
        if (in.peek() == '&') {
            if (!takeReference(in))
                return false;
        } else {
            ++in.at;
        }
    }
    return in.take(quote);
}

// After "<": the name, attributes and ">" or "/>". `open` gets the element
// when it stays open.
bool takeStartTag(Cursor& in, std::vector<std::string_view>& open) {
    const std::string_view name = takeName(in);
    if (name.empty())
        return false;
    std::set<std::string_view> attributes;
    for (;;) {
        const std::size_t beforeBlanks = in.at;
        skipBlanks(in);
        if (in.takeText("/>"))
            return true;
        if (in.take('>')) {
            open.push_back(name);
            return true;
        }
        if (in.at == beforeBlanks)
            return false; // attributes are set apart by blanks
        const std::string_view attribute = takeName(in);
        if (attribute.empty() || !attributes.insert(attribute).second)
            return false;
        skipBlanks(in);
        if (!in.take('='))
            return false;
        skipBlanks(in);
        if (!takeAttributeValue(in))
            return false;
    }
}

// After "</": the name of the innermost open element and ">".
bool takeEndTag(Cursor& in, std::vector<std::string_view>& open) {
    const std::string_view name = takeName(in);
    if (name.empty() || open.empty() || open.back() != name)
        return false;
    open.pop_back();
    skipBlanks(in);
    return in.take('>');
}

} // namespace

bool isWellFormedFragment(std::string_view text) {
    Cursor in{text};
    std::vector<std::string_view> open;
    while (!in.done()) {
        const char c = in.peek();
        if (c == '&') {
            if (!takeReference(in))
                return false;
        } else if (in.takeText("</")) {
            if (!takeEndTag(in, open))
                return false;
        } else if (in.take('<')) {
            if (!takeStartTag(in, open))
                return false;
        } else if (in.takeText("]]>")) {
            return false;
        } else {
            ++in.at;
        }
    }
    return open.empty();
}

} // namespace standin_skype
