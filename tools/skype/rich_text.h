// Skype reads a rich mood text as an XML fragment. Text only; no windows
// here, so that the check is tested natively.
#pragma once
#include <string_view>

namespace standin_skype {

// Whether `text` is well-formed XML content: text, elements (with quoted
// attributes, each name once, every element closed in order) and references
// (&amp; &lt; &gt; &quot; &apos; and character references). Anything else
// that begins with "<" or "&" is malformed; so is "]]>" in text.
bool isWellFormedFragment(std::string_view text);

} // namespace standin_skype
