// Gateway answers read as a stream give what the tree reading gives, or give up and leave the document to
// it: a table of plain and awkward forms, then thousands of damaged answers compared with the tree.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "gateway/StreamedAnswer.h"
#include "xml/XmlDocument.h"

namespace velmora::gateway {
namespace {

const TAnswerShape kShape{{"RTCD", "EXP"}, "RSP_LIST", {"MSGID", "EID", "ST"}};

struct Reading {
    bool read = false;
    std::vector<TStreamedValue> top;
    bool listPresent = false;
    std::vector<std::vector<TStreamedValue>> entries;
};

TStreamedValue ValueOf(const xml::XmlElement& e) {
    TStreamedValue v;
    if (!e) return v;
    v.Present = true;
    v.HoldsElements = !e.Children().empty();  // then Text() refuses it
    v.Text = e.TextContent();
    return v;
}

// What the tree reading sees of the same shape.
Reading ByTree(const std::string& document) {
    Reading r;
    xml::XmlDocument doc;
    if (!doc.TryLoadReadOnly(std::string(document))) return r;
    r.read = true;
    const xml::XmlElement root = doc.Root();
    for (std::string_view name : kShape.TopNames) r.top.push_back(ValueOf(root.ChildNoCase(std::string(name))));
    const xml::XmlElement list = root.ChildNoCase(std::string(kShape.ListName));
    r.listPresent = static_cast<bool>(list);
    for (const xml::XmlElement& entry : list.Children()) {
        std::vector<TStreamedValue> values;
        for (std::string_view name : kShape.EntryNames) values.push_back(ValueOf(entry.ChildNoCase(std::string(name))));
        r.entries.push_back(std::move(values));
    }
    return r;
}

Reading ByStream(const std::string& document) {
    Reading r;
    r.read = ReadStreamedAnswer(document, kShape, r.top, r.listPresent,
                                [&](std::vector<TStreamedValue>& values) { r.entries.push_back(values); });
    return r;
}

std::string Describe(const std::vector<TStreamedValue>& values) {
    std::string out;
    for (const TStreamedValue& v : values)
        out += v.Present ? "[" + v.Text + (v.HoldsElements ? "]+" : "]") : std::string("-");
    return out;
}

// The stream reading either gives up or agrees with the tree in every value.
void ExpectAgrees(const std::string& document, const Reading& stream) {
    const Reading tree = ByTree(document);
    ASSERT_TRUE(tree.read) << "the stream read a document the tree refuses:\n" << document;
    EXPECT_EQ(Describe(stream.top), Describe(tree.top)) << document;
    EXPECT_EQ(stream.listPresent, tree.listPresent) << document;
    ASSERT_EQ(stream.entries.size(), tree.entries.size()) << document;
    for (size_t i = 0; i < tree.entries.size(); ++i)
        EXPECT_EQ(Describe(stream.entries[i]), Describe(tree.entries[i])) << "entry " << i << " of\n" << document;
}

struct Case {
    const char* what;
    std::string document;
    bool streamed;  // whether the stream reader takes it (else the tree reads it)
};

std::vector<Case> Cases() {
    const std::string decl = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";
    return {
        {"plain answer", decl + "<REPORTRESULT><RTCD>1</RTCD><EXP>Tamam</EXP><RSP_LIST><RSP><MSGID>5001</MSGID>"
                                "<EID>17</EID><ST>OPN</ST></RSP><RSP><MSGID>-3</MSGID><EID>18</EID><ST>FLD</ST></RSP>"
                                "</RSP_LIST></REPORTRESULT>", true},
        {"names in other letter case, the first of a name counts",
         "<r><rtcd>2</rtcd><RTCD>9</RTCD><Exp/><rsp_list><x><eid>1</eid><EID>2</EID></x></rsp_list><RSP_LIST><y/></RSP_LIST></r>",
         true},
        {"references and line ends", "<r><EXP>a &amp; b &lt;c&gt; &quot;d&quot; &apos;e&apos; &#304;&#x131;\r\nf\rg</EXP></r>", true},
        {"blanks alone: kept as the only content, dropped between elements",
         "<r>\n <EXP>  </EXP>\n <RSP_LIST>\n  <RSP> <EID> 7 </EID> <ST>\t</ST> </RSP>\n </RSP_LIST>\n</r>\n", true},
        {"blanks after a comment and after a first text", "<r><EXP>x<!-- c --> </EXP><RTCD><!-- c --> </RTCD></r>", true},
        {"a value holding elements reads as its text content",
         "<r><RTCD>1<b>2</b>3</RTCD><EXP>a<i>x<j>y</j></i>c</EXP><RSP_LIST><RSP><ST>O<u/>PN</ST></RSP></RSP_LIST></r>", true},
        {"attributes, empty elements and comments", "<!-- önce --><r a=\"1\" b='>'><EXP/><RSP_LIST><RSP z=\"&amp;\"/>"
                                                     "</RSP_LIST></r><!-- sonra -->\n", true},
        {"elements with prefixes", "<s:r xmlns:s=\"u\"><s:RTCD>1</s:RTCD><RTCD>4</RTCD></s:r>", true},
        {"CDATA", "<r><EXP><![CDATA[a<b]]></EXP></r>", false},
        {"a document type", "<!DOCTYPE r><r><EXP>x</EXP></r>", false},
        {"an unknown reference", "<r><EXP>&nbsp;</EXP></r>", false},
        {"a bare ampersand", "<r><EXP>a & b</EXP></r>", false},
        {"text before the root", "x<r><EXP>1</EXP></r>", false},
        {"a second root", "<r/><r/>", false},
        {"an end tag of another name", "<r><EXP>1</exp></r>", false},
        {"cut short", "<r><RSP_LIST><RSP><EID>1</EID></RSP>", false},
        {"a byte-order mark", "\xEF\xBB\xBF<r/>", false},
        {"a processing instruction inside", "<r><?pi x?><EXP>1</EXP></r>", false},
        {"a NUL character", std::string("<r><EXP>a\0b</EXP></r>", 21), false},
        {"a character reference to nothing", "<r><EXP>&#0;</EXP></r>", false},
        {"an upper-case hexadecimal marker", "<r><EXP>&#X41;</EXP></r>", false},
    };
}

TEST(StreamedAnswer, ReadsThePlainFormsAsTheTreeDoesAndLeavesTheRestToIt) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.what);
        const Reading stream = ByStream(c.document);
        EXPECT_EQ(stream.read, c.streamed);
        if (stream.read) ExpectAgrees(c.document, stream);
    }
}

// Damaged answers: characters that matter to XML put in, taken out or swapped at random places. Whatever
// the stream reader takes must read exactly as the tree reads it.
TEST(StreamedAnswer, DamagedAnswersReadAsTheTreeReadsThemOrAreLeftToIt) {
    const std::string seed =
        "<?xml version=\"1.0\"?>\n<REPORTRESULT><RTCD>1</RTCD><EXP>A &amp; B</EXP><RSP_LIST>\n"
        "<RSP><MSGID>5001</MSGID><EID>17</EID><ST>OPN</ST></RSP>\n"
        "<RSP><MSGID>5002</MSGID><EID> 18</EID><ST>s<b>n</b>t</ST><!-- not --></RSP>\n"
        "<RSP a='1'><msgid>5003</msgid><eid>19</eid><st>\r\n</st></RSP>\n"
        "</RSP_LIST></REPORTRESULT>\n";
    const std::string pieces[] = {"<", ">", "/", "&", ";", " ", "\r", "\n", "'", "\"", "=", "!", "-", "?",
                                  "&amp;", "&#65;", "<!--", "-->", "</RSP>", "<RSP>", "<EID>", "</EID>", "a"};
    std::mt19937 random(20261210);
    int streamed = 0;
    for (int round = 0; round < 40000; ++round) {
        std::string doc = seed;
        const int edits = 1 + static_cast<int>(random() % 3);
        for (int e = 0; e < edits; ++e) {
            const size_t at = random() % (doc.size() + 1);
            switch (random() % 3) {
            case 0: doc.insert(at, pieces[random() % std::size(pieces)]); break;
            case 1: if (at < doc.size()) doc.erase(at, 1 + random() % 4); break;
            default: if (at < doc.size()) doc[at] = pieces[random() % std::size(pieces)][0]; break;
            }
        }
        const Reading stream = ByStream(doc);
        if (!stream.read) continue;
        ++streamed;
        ExpectAgrees(doc, stream);
        if (HasFailure()) return;
    }
    EXPECT_GT(streamed, 2000) << "too few damaged answers were read as a stream for the comparison to tell";
}

} // namespace
} // namespace velmora::gateway
