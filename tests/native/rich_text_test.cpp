// The stand-in Skype's reading of a rich mood text: what Skype takes as a
// well-formed XML fragment and what it refuses.
#include "rich_text.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

namespace {

using standin_skype::isWellFormedFragment;

// Read from a heap copy of exactly its bytes, so that AddressSanitizer sees
// every read past the end.
bool wellFormed(const std::string& text) {
    const std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    text.copy(copy.get(), text.size());
    return isWellFormedFragment(std::string_view(copy.get(), text.size()));
}

struct FragmentCase {
    const char* name;
    std::string text;
    bool wellFormed;
};

void PrintTo(const FragmentCase& c, std::ostream* os) {
    *os << c.name;
}

class Fragment : public ::testing::TestWithParam<FragmentCase> {};

TEST_P(Fragment, IsReadAsSkypeReadsIt) {
    EXPECT_EQ(wellFormed(GetParam().text), GetParam().wellFormed) << GetParam().text;
}

const FragmentCase kFragments[] = {
    // Text, entities and elements as a user's template and an escaped title
    // give them.
    {"Empty", "", true},
    {"PlainText", "Cecilia playing", true},
    {"EscapedTitle", "<b>Simon &amp; Garfunkel &lt;Live&gt; &gt;</b> playing", true},
    {"EveryEntity", "&amp;&lt;&gt;&quot;&apos;", true},
    {"CharacterReferences", "&#65;&#x42;&#x1f600;&#9;&#x10FFFF;", true},
    {"NestedElements", "<font color=\"#ff0000\"><b>a</b><i>b<u>c</u></i></font>", true},
    {"EmptyElement", "<br/>a<br />b<ss type='smile'/>", true},
    {"BlanksInTags", "<a  href = \"x\"\t\n>y</a  >", true},
    {"AttributeWithEntity", "<a title=\"x &amp; y &#34;\">z</a>", true},
    {"BareGreaterThan", "a > b", true},
    {"Utf8", "\xd0\x9a\xd0\xb8 <\xd0\xb1>\xe3\x81\x82</\xd0\xb1>", true},
    {"NamePunctuation", "<x:y-z.1_>a</x:y-z.1_>", true},
    // What a raw title brings.
    {"BareAmpersand", "Simon & Garfunkel", false},
    {"AmpersandAtEnd", "Rock &", false},
    {"UnclosedTitleTag", "Song <Live>", false},
    {"LessThanAlone", "1 < 2", false},
    {"LessThanAtEnd", "a<", false},
    // Entities Skype does not know.
    {"UnknownEntity", "&nbsp;", false},
    {"EntityWithoutSemicolon", "&amp rest", false},
    {"EmptyCharacterReference", "&#;", false},
    {"CharacterReferenceOfZero", "&#0;", false},
    {"CharacterReferenceOfSurrogate", "&#xD800;", false},
    {"CharacterReferencePastUnicode", "&#x110000;", false},
    {"HugeCharacterReference", "&#99999999999999999999999999999999999999;", false},
    {"NotDecimal", "&#12a;", false},
    {"HexWithoutDigits", "&#x;", false},
    {"UpperCaseX", "&#X43;", false},
    // Elements out of order or unclosed.
    {"Unclosed", "<b>a", false},
    {"ClosedUnopened", "a</b>", false},
    {"Crossed", "<b><i>a</b></i>", false},
    {"WrongCase", "<b>a</B>", false},
    {"TagWithoutName", "<>a", false},
    {"NameStartsWithDigit", "<1b>a</1b>", false},
    {"BlankBeforeName", "< b>a</b>", false},
    {"EndTagWithAttribute", "<b>a</b c=\"d\">", false},
    {"StartTagUnended", "<b", false},
    // Attributes.
    {"UnquotedAttribute", "<a href=x>y</a>", false},
    {"AttributeWithoutValue", "<a href>y</a>", false},
    {"AttributesRunTogether", "<a b=\"1\"c=\"2\"/>", false},
    {"DuplicateAttribute", "<a b=\"1\" b=\"2\"/>", false},
    {"LessThanInAttribute", "<a b=\"<\"/>", false},
    {"BareAmpersandInAttribute", "<a b=\"&\"/>", false},
    {"UnendedAttribute", "<a b=\"1/>", false},
    // What the three kinds leave out.
    {"Comment", "<!-- x -->", false},
    {"CData", "<![CDATA[x]]>", false},
    {"ProcessingInstruction", "<?x y?>", false},
    {"CDataEndInText", "a ]]> b", false},
};

INSTANTIATE_TEST_SUITE_P(Texts, Fragment, ::testing::ValuesIn(kFragments),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FragmentLarge, DeepNestingAndManyAttributesAreRead) {
    std::string deep;
    for (int i = 0; i < 50000; ++i)
        deep += "<b>";
    deep += "x";
    for (int i = 0; i < 50000; ++i)
        deep += "</b>";
    EXPECT_TRUE(wellFormed(deep));
    deep.resize(deep.size() - 4);
    EXPECT_FALSE(wellFormed(deep));

    std::string many = "<a";
    for (int i = 0; i < 20000; ++i)
        many += " a" + std::to_string(i) + "=''";
    EXPECT_TRUE(wellFormed(many + "/>"));
    EXPECT_FALSE(wellFormed(many + " a7=''/>"));
}

} // namespace
