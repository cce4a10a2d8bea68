// The mail merge: placeholder matching, sizing, the in-place merge and its
// capacity, the field limits, and the calling protocol, checked against a
// plain std::string replacement over many generated texts and records.
#include "fuzz/merge_reference.h"
#include "mailing/html_text.h"
#include "mailing/mail_merge.h"

#include <gtest/gtest.h>

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

// A record built by the test itself, with heap texts it frees again, so the
// merge is tested apart from the list reader.
class TestRecord {
public:
    explicit TestRecord(const std::vector<std::string>& fields)
    {
        m_record.nCapacity = (int)fields.size() + 1;
        m_record.ppszFields = (char**)calloc((size_t)m_record.nCapacity, sizeof(char*));
        for (const std::string& field : fields) {
            char* psz = (char*)malloc(field.size() + 1);
            memcpy(psz, field.c_str(), field.size() + 1);
            m_record.ppszFields[m_record.nCount++] = psz;
        }
    }
    // The record frees its table and texts itself.
    TestRecord(const TestRecord&) = delete;
    TestRecord& operator=(const TestRecord&) = delete;

    const ListRecord* Get() const { return &m_record; }

private:
    ListRecord m_record;
};

const char kSentinel = (char)0xA5;   // never part of a generated text or value
const size_t kGuardSize = 64;

struct InPlaceRun {
    bool bMerged;
    bool bGuardIntact;
    std::string text;   // meaningful only when merged
};

// The in-place call on a buffer whose bytes from the capacity on (plus a
// guard region) hold a sentinel, so that any write beyond it shows.
InPlaceRun RunInPlace(const std::string& text, int cchCapacity, const TestRecord& header,
                      const TestRecord& record)
{
    InPlaceRun run = {false, false, std::string()};
    if (text.size() + 1 > (size_t)cchCapacity) {
        ADD_FAILURE() << "the text does not fit the capacity it is given";
        return run;
    }
    std::vector<char> buffer((size_t)cchCapacity + kGuardSize, kSentinel);
    memcpy(buffer.data(), text.c_str(), text.size() + 1);
    run.bMerged = MergeFields(buffer.data(), cchCapacity, header.Get(), record.Get(), NULL);
    run.bGuardIntact = std::all_of(buffer.begin() + cchCapacity, buffer.end(),
                                   [](char ch) { return ch == kSentinel; });
    if (run.bMerged)
        run.text = std::string(buffer.data(), strnlen(buffer.data(), (size_t)cchCapacity));
    return run;
}

// The sizing call, failing the test when it fails.
int NeededSize(const std::string& text, const TestRecord& header, const TestRecord& record)
{
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    int nNeeded = -1;
    EXPECT_TRUE(MergeFields(copy.data(), 0, header.Get(), record.Get(), &nNeeded));
    EXPECT_EQ(text, std::string(copy.data())) << "the sizing call changed the text";
    return nNeeded;
}

// The protocol the send engine follows, with a guarded buffer.
InPlaceRun RunProtocol(const std::string& text, const TestRecord& header, const TestRecord& record)
{
    int nNeeded = NeededSize(text, header, record);
    return RunInPlace(text, nNeeded + 1, header, record);
}

std::string MergedOrFailure(const std::string& text, const TestRecord& header, const TestRecord& record)
{
    // The protocol from no copy at all, as into a fresh block.
    char* psz = NULL;
    if (MergeIntoCopy(text.c_str(), header.Get(), record.Get(), &psz) != MergeDone) {
        free(psz);
        return "<merge failed>";
    }
    std::string merged(psz);
    free(psz);
    return merged;
}

// ---- the reference: std::string replacement in one pass from the left

struct ReferenceMerge {
    std::string text;
    size_t nPeakLength;   // the longest the text becomes on the way
    size_t nNeeded;       // what the sizing call must ask for
};

// The reference's one pass from the left (fuzz/merge_reference.h).
ReferenceMerge MergeByReference(const std::string& original, const std::vector<std::string>& names,
                                const std::vector<std::string>& values, bool bHtml = false)
{
    ReferencePass pass = ReferenceMergePass(original, names, values, bHtml);
    return ReferenceMerge{ pass.text, (size_t)pass.nPeak, (size_t)pass.nSize };
}

int SizeByReference(const std::string& original, const std::vector<std::string>& names,
                    const std::vector<std::string>& values)
{
    return (int)MergeByReference(original, names, values).nNeeded;
}

// ---- names

TEST(MergeFieldsNames, LetterCaseOfThePlaceholderDoesNotMatter)
{
    TestRecord header({"First Name", "E-Mail"});
    TestRecord record({"Ann", "ann@example.com"});
    EXPECT_EQ("Dear Ann, ann@example.com, ANN Ann",
              MergedOrFailure("Dear [[first name]], [[e-mail]], ANN [[FIRST NAME]]", header, record));
}

TEST(MergeFieldsNames, PlaceholdersOfNoHeaderFieldStayUnchanged)
{
    TestRecord header({"First"});
    TestRecord record({"Ann"});
    EXPECT_EQ("[[Nickname]] Ann [First] [[First] [[ First]] [[First ]]",
              MergedOrFailure("[[Nickname]] [[First]] [First] [[First] [[ First]] [[First ]]", header, record));
}

TEST(MergeFieldsNames, APlaceholderSplitByTagsMergesAndTheTagsGoWithIt)
{
    TestRecord header({"First Name", "City"});
    TestRecord record({"Ann", "Oslo"});
    EXPECT_EQ("<p>Dear Ann of Oslo, [[<b>First</b> Nam]] [[Ci<ty]] Oslo]</p>",
              MergedOrFailure("<p>Dear [[<span>First</span> Name]] of [[<b class=\"c\">C</b>ity<br>]], "
                              "[[<b>First</b> Nam]] [[Ci<ty]] [[<i>City]]]</p>",
                              header, record));
}

TEST(MergeFieldsNames, LeadingSpaceMatchesOnlyThePlaceholderWithThatSpace)
{
    TestRecord header({" City"});
    TestRecord record({"Paris"});
    EXPECT_EQ("[[City]] / Paris / [[  City]]",
              MergedOrFailure("[[City]] / [[ city]] / [[  City]]", header, record));
}

TEST(MergeFieldsNames, BytesOtherThanLettersMustMatchExactly)
{
    // e with acute, lower and upper case in the ANSI code page: not letters A to Z.
    TestRecord header({"\xE9t\xE9"});
    TestRecord record({"summer"});
    EXPECT_EQ("[[\xC9T\xC9]] summer summer",
              MergedOrFailure("[[\xC9T\xC9]] [[\xE9T\xE9]] [[\xE9t\xE9]]", header, record));
}

// ---- values

TEST(MergeFieldsValues, ShortRecordRemovesPlaceholdersOfMissingColumns)
{
    TestRecord header({"A", "B", "C"});
    TestRecord record({"1"});
    EXPECT_EQ("<1||>", MergedOrFailure("<[[A]]|[[B]]|[[C]]>", header, record));

    TestRecord noFields({});
    EXPECT_EQ("<||>", MergedOrFailure("<[[A]]|[[B]]|[[C]]>", header, noFields));
}

TEST(MergeFieldsValues, ValuesAreInsertedUnchanged)
{
    TestRecord header({"Note"});
    TestRecord record({"  <b>&amp; \"x\"\r\nline two  "});
    EXPECT_EQ("[  <b>&amp; \"x\"\r\nline two  ]", MergedOrFailure("[[[Note]]]", header, record));
}

TEST(MergeFieldsValues, ValueHoldingItsOwnPlaceholderIsInsertedOnce)
{
    TestRecord header({"Name"});
    TestRecord record({"x[[name]]y"});
    EXPECT_EQ("x[[name]]y and x[[name]]y", MergedOrFailure("[[Name]] and [[NAME]]", header, record));
}

TEST(MergeFieldsValues, PlaceholderOfALaterColumnInAValueStays)
{
    TestRecord header({"A", "B"});
    TestRecord record({"<[[b]]>", "bee"});
    EXPECT_EQ("<[[b]]> bee", MergedOrFailure("[[A]] [[B]]", header, record));
}

TEST(MergeFieldsValues, PlaceholderOfAnEarlierColumnInAValueStays)
{
    TestRecord header({"A", "B"});
    TestRecord record({"ay", "<[[A]]>"});
    EXPECT_EQ("<[[A]]> ay", MergedOrFailure("[[B]] [[A]]", header, record));
}

TEST(MergeFieldsValues, AdjacentPlaceholdersOfOneFieldAreAllReplaced)
{
    TestRecord header({"A"});
    TestRecord record({"xy"});
    EXPECT_EQ("xyxyxy", MergedOrFailure("[[A]][[a]][[A]]", header, record));
    TestRecord empty({""});
    EXPECT_EQ("", MergedOrFailure("[[A]][[a]][[A]]", header, empty));
}

// ---- sizing

TEST(MergeFieldsSizing, TextWithoutPlaceholdersNeedsItsLengthPlusOneButAtLeastTen)
{
    TestRecord header({"Name"});
    TestRecord record({"a value much longer than any placeholder"});
    EXPECT_EQ(13, NeededSize("Hello, world", header, record));
    EXPECT_EQ(10, NeededSize("Hello", header, record));
    EXPECT_EQ(10, NeededSize("123456789", header, record));
    EXPECT_EQ(11, NeededSize("1234567890", header, record));
    EXPECT_EQ(10, NeededSize("", header, record));

    InPlaceRun run = RunProtocol("Hello, world", header, record);
    EXPECT_TRUE(run.bMerged);
    EXPECT_TRUE(run.bGuardIntact);
    EXPECT_EQ("Hello, world", run.text);
}

TEST(MergeFieldsSizing, LongerValuesAddTheirGrowthPerOccurrence)
{
    TestRecord header({"A", "B"});
    TestRecord record({"twelve chars", "x"});
    // 18 characters + 1, two occurrences growing by 12 - 5; B shrinks and adds nothing.
    EXPECT_EQ(19 + 2 * 7, NeededSize("[[A]] [[a]] [[B]]!", header, record));

    InPlaceRun run = RunProtocol("[[A]] [[a]] [[B]]!", header, record);
    EXPECT_TRUE(run.bMerged);
    EXPECT_TRUE(run.bGuardIntact);
    EXPECT_EQ("twelve chars twelve chars x!", run.text);
}

TEST(MergeFieldsSizing, OverlappingOccurrencesCountOnceLikeTheInPlaceMerge)
{
    // The placeholder [[a]][[a]] occurs at 0 and, overlapping, at 5; after the
    // first one only [[a]] is left behind it.
    TestRecord header({"a]][[a"});
    TestRecord record({std::string(30, 'v')});
    std::string text = "[[a]][[a]][[a]]";
    EXPECT_EQ(16 + 20, NeededSize(text, header, record));

    InPlaceRun run = RunProtocol(text, header, record);
    EXPECT_TRUE(run.bMerged);
    EXPECT_TRUE(run.bGuardIntact);
    EXPECT_EQ(std::string(30, 'v') + "[[a]]", run.text);
}

TEST(MergeFieldsSizing, ShorterValuesNeverLowerTheSize)
{
    TestRecord header({"Long Field Name"});
    TestRecord record({""});
    std::string text = "[[Long Field Name]] [[Long Field Name]] and some more text";
    EXPECT_EQ((int)text.size() + 1, NeededSize(text, header, record));
}

TEST(MergeFieldsSizing, SizeBeyondWhatAnIntHoldsFailsInsteadOfWrapping)
{
    // Each occurrence grows by 511 - 5 characters: 4.3 million of them pass 2^31.
    TestRecord header({"A"});
    TestRecord record({std::string(511, 'v')});
    std::string text;
    text.reserve(4300000 * 5);
    for (int i = 0; i < 4300000; ++i)
        text += "[[A]]";
    int nNeeded = -1;
    EXPECT_FALSE(MergeFields(&text[0], 0, header.Get(), record.Get(), &nNeeded));

    // A tenth of them fits and is counted exactly.
    text.resize(430000 * 5);
    EXPECT_TRUE(MergeFields(&text[0], 0, header.Get(), record.Get(), &nNeeded));
    EXPECT_EQ(430000 * 5 + 1 + 430000 * 506, nNeeded);
}

// ---- limits

TEST(MergeFieldsLimits, ValueUpToTheLimitMergesAndBeyondFailsReferredOrNot)
{
    TestRecord header({"Name", "Note"});
    TestRecord fits({"Ann", std::string(LC_MERGE_FIELD_CAPACITY - 1, 'n')});
    TestRecord tooLong({"Ann", std::string(LC_MERGE_FIELD_CAPACITY, 'n')});
    int nNeeded = 0;
    std::string unreferred = "Dear [[Name]]";
    std::string referred = "Dear [[Name]]: [[Note]]";

    EXPECT_EQ("Dear Ann", MergedOrFailure(unreferred, header, fits));
    EXPECT_EQ("Dear Ann: " + std::string(LC_MERGE_FIELD_CAPACITY - 1, 'n'), MergedOrFailure(referred, header, fits));

    EXPECT_FALSE(MergeFields(&unreferred[0], 0, header.Get(), tooLong.Get(), &nNeeded));
    EXPECT_FALSE(MergeFields(&referred[0], 0, header.Get(), tooLong.Get(), &nNeeded));
    EXPECT_FALSE(RunInPlace(unreferred, 300000, header, tooLong).bMerged);
    EXPECT_FALSE(RunInPlace(referred, 300000, header, tooLong).bMerged);
    EXPECT_EQ("<merge failed>", MergedOrFailure(unreferred, header, tooLong));
}

TEST(MergeFieldsLimits, RecordColumnBeyondTheHeaderIsCheckedToo)
{
    TestRecord header({"Name"});
    TestRecord fits({"Ann", std::string(LC_MERGE_FIELD_CAPACITY - 1, 'x')});
    TestRecord tooLong({"Ann", std::string(LC_MERGE_FIELD_CAPACITY, 'x')});
    EXPECT_EQ("Dear Ann", MergedOrFailure("Dear [[Name]]", header, fits));
    EXPECT_EQ("<merge failed>", MergedOrFailure("Dear [[Name]]", header, tooLong));
}

TEST(MergeFieldsLimits, NameUpToTheLimitMergesAndBeyondFailsReferredOrNot)
{
    std::string name506(LC_MERGE_NAME_LIMIT - 1, 'k');
    std::string name507(LC_MERGE_NAME_LIMIT, 'k');
    TestRecord header506({"Name", name506});
    TestRecord header507({"Name", name507});
    TestRecord record({"Ann", "value"});

    EXPECT_EQ("Ann", MergedOrFailure("[[Name]]", header506, record));
    EXPECT_EQ("Ann value", MergedOrFailure("[[Name]] [[" + name506 + "]]", header506, record));

    std::string unreferred = "[[Name]]";
    std::string referred = "[[Name]] [[" + name507 + "]]";
    int nNeeded = 0;
    EXPECT_FALSE(MergeFields(&unreferred[0], 0, header507.Get(), record.Get(), &nNeeded));
    EXPECT_FALSE(MergeFields(&referred[0], 0, header507.Get(), record.Get(), &nNeeded));
    EXPECT_FALSE(RunInPlace(unreferred, 300000, header507, record).bMerged);
    EXPECT_FALSE(RunInPlace(referred, 300000, header507, record).bMerged);
}

TEST(MergeFieldsLimits, LimitsCountCharactersNotBytes)
{
    // "\xc3\xa9" is one character, two bytes: 17,000 of them fit, as would
    // 32,767 of any letter.
    std::string e = "\xc3\xa9";
    std::string seventeenThousand, limit, beyond;
    for (int i = 0; i < 17000; ++i)
        seventeenThousand += e;
    for (int i = 0; i < LC_MERGE_FIELD_CAPACITY - 1; ++i)
        limit += e;
    beyond = limit + e;
    std::string fourBytes = "\xf0\x9f\x98\x80";
    std::string limitOfFour;
    for (int i = 0; i < LC_MERGE_FIELD_CAPACITY - 1; ++i)
        limitOfFour += fourBytes;
    TestRecord header({"Note"});
    struct Case {
        const char* pszWhat;
        const std::string& value;
        bool bMerges;
    } cases[] = {
        { "17,000 two-byte letters", seventeenThousand, true },
        { "32,767 two-byte letters", limit, true },
        { "32,768 two-byte letters", beyond, false },
        { "32,767 four-byte letters", limitOfFour, true },
    };
    for (const Case& c : cases) {
        TestRecord record({c.value});
        std::string expected = c.bMerges ? "<" + c.value + ">" : "<merge failed>";
        EXPECT_EQ(expected, MergedOrFailure("<[[Note]]>", header, record)) << c.pszWhat;
        char* pszHtml = MergeHtmlText("<p>[[Note]]</p>", header.Get(), record.Get());
        EXPECT_EQ(c.bMerges, pszHtml != NULL) << c.pszWhat << ", as HTML";
        if (pszHtml) {
            EXPECT_EQ("<p>" + c.value + "</p>", std::string(pszHtml)) << c.pszWhat << ", as HTML";
        }
        free(pszHtml);
    }
    // A name is counted in characters too.
    std::string name;
    for (int i = 0; i < LC_MERGE_NAME_LIMIT - 1; ++i)
        name += e;
    TestRecord longName({"A", name});
    TestRecord values({"a", "b"});
    EXPECT_EQ("a b", MergedOrFailure("[[A]] [[" + name + "]]", longName, values));
    TestRecord tooLongName({"A", name + e});
    EXPECT_EQ("<merge failed>", MergedOrFailure("[[A]]", tooLongName, values));
}

// ---- HTML

TEST(MergeHtml, ValuesLandAsTextThatShowsThemAndHtmlFieldsAsMarkup)
{
    struct Case {
        const char* pszText;
        std::vector<std::string> names;
        std::vector<std::string> values;
        const char* pszMerged;
    } cases[] = {
        { "<p>[[Note]]</p>", {"Note"}, {"amp & <b>not bold</b>"}, "<p>amp &amp; &lt;b&gt;not bold&lt;/b&gt;</p>" },
        { "<p>Dear [[Name]],</p>", {"Name"}, {"Tom <Tommy> Smith"}, "<p>Dear Tom &lt;Tommy&gt; Smith,</p>" },
        { "<p>[[X]]</p>", {"X"}, {"a<b"}, "<p>a&lt;b</p>" },
        { "<img src=\"[[Photo]]\" alt='[[Name]]'>", {"Photo", "Name"}, {"x\" onerror=\"y", "O'Neil"},
          "<img src=\"x&quot; onerror=&quot;y\" alt='O&#39;Neil'>" },
        { "<p>[[HTML:Sig]] and [[Sig]]</p>", {"Sig"}, {"<b>Ann</b>"}, "<p><b>Ann</b> and &lt;b&gt;Ann&lt;/b&gt;</p>" },
        { "[[HTML:Sig]]", {"Sig"}, {"x"}, "x" },
        { "<p>[[html:sig]]</p>", {"Sig"}, {"<i>x</i>"}, "<p><i>x</i></p>" },
        // An editor writes a name's '&' as "&amp;": the placeholder still matches.
        { "<p>[[Q&amp;A]] [[HTML:Q&amp;A]]</p>", {"Q&A"}, {"<1>"}, "<p>&lt;1&gt; <1></p>" },
        { "<p>[[<span>Na</span>me]]</p>", {"Name"}, {"A&B"}, "<p>A&amp;B</p>" },
        // Beyond the ASCII range a value is as it is: the HTML here is UTF-8.
        { "<p>[[Name]]</p>", {"Name"}, {"Gr\xc3\xbc\xc3\x9f" "e \xf0\x9f\x98\x80"}, "<p>Gr\xc3\xbc\xc3\x9f" "e \xf0\x9f\x98\x80</p>" },
        { "<p>[[Missing]] [[HTML:Name]]</p>", {"Name", "Missing"}, {"<u>"}, "<p> <u></p>" },
        { "<p>[[Unknown]]</p>", {"Name"}, {"x"}, "<p>[[Unknown]]</p>" },
        // Names that fold alike: the leftmost column's value goes in.
        { "<p>[[Name]] [[NAME]]</p>", {"name", "NAME"}, {"first", "second"}, "<p>first first</p>" },
        // A name may end in ']' or hold "]]"; the leftmost name that fits wins.
        { "<p>[[a]]]</p>", {"a]", "a"}, {"1", "2"}, "<p>1</p>" },
        { "<p>[[X]]y]] [[x]]</p>", {"x]]y", "x"}, {"1", "2"}, "<p>1 2</p>" },
        // Split by a tag, the characters outside it make the name.
        { "<p>[[a<i>b]]</p>", {"a<i>b", "ab"}, {"1", "2"}, "<p>2</p>" },
    };
    for (const Case& c : cases) {
        TestRecord header(c.names);
        TestRecord record(c.values);
        char* pszMerged = MergeHtmlText(c.pszText, header.Get(), record.Get());
        ASSERT_TRUE(pszMerged != NULL) << c.pszText;
        EXPECT_STREQ(c.pszMerged, pszMerged) << c.pszText;
        std::vector<std::string> names, values;
        ReferenceHtmlFields(c.names, c.values, &names, &values);
        EXPECT_EQ(MergeByReference(c.pszText, names, values, true).text, pszMerged) << c.pszText;
        free(pszMerged);
        // The plain texts keep the value as it is, "[[HTML:Name]]" too.
        EXPECT_EQ(MergeByReference(c.pszText, c.names, c.values).text, MergedOrFailure(c.pszText, header, record));
        std::vector<std::string> plainNames = c.names, plainValues;
        for (const std::string& name : c.names)
            plainNames.push_back("HTML:" + name);
        for (int nPass = 0; nPass < 2; ++nPass)
            for (size_t i = 0; i < c.names.size(); ++i)
                plainValues.push_back(i < c.values.size() ? c.values[i] : std::string());
        char* pszPlain = MergePlainText(c.pszText, header.Get(), record.Get());
        ASSERT_TRUE(pszPlain != NULL) << c.pszText;
        EXPECT_EQ(MergeByReference(c.pszText, plainNames, plainValues).text, pszPlain) << c.pszText;
        free(pszPlain);
    }
}

// ---- Fallbacks and conditions

TEST(MergeConditions, FallbacksAndBlocksKeepWhatTheValuesSay)
{
    const std::vector<std::string> names = { "First Name", "Company", "Town" };
    const std::vector<std::string> full = { "Ann", "R&D Ltd", "Oslo" };
    const std::vector<std::string> holes = { " \t", "", "Oslo" };
    struct Case {
        const char* pszText;
        bool bHtml;
        const std::vector<std::string>& values;
        const char* pszMerged;
    } cases[] = {
        // A fallback stands in for an empty or blank value, in any case of the name.
        { "Dear [[First Name|there]],", false, full, "Dear Ann," },
        { "Dear [[first name|there]],", false, holes, "Dear there," },
        { "[[Company|]]x", false, holes, "x" },
        { "<p>Dear [[First Name|friend &amp; <b>colleague</b>]]</p>", true, holes,
          "<p>Dear friend &amp; <b>colleague</b></p>" },
        { "<p>[[Company|none]]</p>", true, full, "<p>R&amp;D Ltd</p>" },
        { "[[<span>First</span> Name|there]]!", true, holes, "there!" },
        // A block, IF NOT and ELSE, nested, with placeholders inside.
        { "[[IF Company]]at [[Company]][[END IF]].", false, full, "at R&D Ltd." },
        { "[[IF Company]]at [[Company]][[END IF]].", false, holes, "." },
        { "[[if not Company]]no company[[else]]at [[Company]][[end if]]", false, holes, "no company" },
        { "[[IF NOT Company]]no company[[ELSE]]at [[Company]][[END IF]]", false, full, "at R&D Ltd" },
        { "[[IF Town]]T[[IF Company]]C[[ELSE]]c[[IF First Name]]F[[END IF]][[END IF]]t[[END IF]]", false, holes,
          "Tct" },
        { "[[IF Town]]T[[IF Company]]C[[ELSE]]c[[IF First Name]]F[[END IF]][[END IF]]t[[END IF]]", false, full,
          "TCt" },
        // Alone on its line, a marker takes the line's end with it.
        { "Dear [[First Name|there]],\r\n  [[IF Company]]\r\nWe value [[Company]].\r\n[[END IF]]\r\nRegards", false,
          full, "Dear Ann,\r\nWe value R&D Ltd.\r\nRegards" },
        { "Dear [[First Name|there]],\n[[IF Company]]\nWe value [[Company]].\n[[END IF]]\nRegards", false, holes,
          "Dear there,\nRegards" },
        // In HTML a block around paragraphs goes with them, and a paragraph
        // holding only a marker goes with the marker.
        { "<p>Hi</p>\n<p class=MsoNormal>[[IF Company]]<o:p></o:p></p>\n<p>We value [[Company]].</p>\n"
          "<p class=MsoNormal><span>[[END IF]]</span><o:p></o:p></p>\n<p>Bye</p>",
          true, full, "<p>Hi</p>\n\n<p>We value R&amp;D Ltd.</p>\n\n<p>Bye</p>" },
        { "<p>Hi</p>\n<p class=MsoNormal>[[IF Company]]<o:p></o:p></p>\n<p>We value [[Company]].</p>\n"
          "<p class=MsoNormal><span>[[END IF]]</span><o:p></o:p></p>\n<p>Bye</p>",
          true, holes, "<p>Hi</p>\n\n<p>Bye</p>" },
        // A block that begins in one element and ends in another keeps the
        // tags the elements around it need.
        { "<p>A [[IF Company]]B <b>b</b></p><div>C[[END IF]] D</div>", true, holes, "<p>A </p><div> D</div>" },
        { "<p>A [[IF Company]]B <b>b</b></p><div>C[[END IF]] D</div>", true, full,
          "<p>A B <b>b</b></p><div>C D</div>" },
        { "<ul><li>[[IF NOT Company]]x</li><li>y[[ELSE]]z[[END IF]]</li></ul>", true, full, "<ul><li></li><li>z</li></ul>" },
        // Markers that make no block stay as they stand; so does a block
        // whose IF names no field.
        { "[[END IF]]a[[IF Compny]]b[[END IF]]c[[IF Company]]d[[ELSE]]e", false, full,
          "[[END IF]]a[[IF Compny]]b[[END IF]]c[[IF Company]]d[[ELSE]]e" },
        { "[[IF]]x[[END IF]] [[IF Company|y]]z[[END IF]]", false, full, "[[IF]]x[[END IF]] [[IF Company|y]]z[[END IF]]" },
        { "[[IF Company]]a[[ELSE]]b[[ELSE]]c[[END IF]]", false, holes, "b[[ELSE]]c" },
    };
    TestRecord header(names);
    for (const Case& c : cases) {
        TestRecord record(c.values);
        char* pszMerged = c.bHtml ? MergeHtmlText(c.pszText, header.Get(), record.Get())
                                  : MergePlainText(c.pszText, header.Get(), record.Get());
        ASSERT_TRUE(pszMerged != NULL) << c.pszText;
        EXPECT_STREQ(c.pszMerged, pszMerged) << c.pszText;
        free(pszMerged);
        std::vector<std::string> textNames = names, textValues = c.values;
        if (c.bHtml)
            ReferenceHtmlFields(names, c.values, &textNames, &textValues);
        EXPECT_EQ(c.pszMerged, MergeByReference(c.pszText, textNames, textValues, c.bHtml).text) << c.pszText;
    }
}

TEST(MergeConditions, MarkersWithoutABlockAndEmptyPlaceholdersAreFound)
{
    TestRecord header({ "First Name", "Company" });
    struct Case {
        const char* pszText;
        std::vector<int> problems;   // kinds, in order
        std::vector<std::string> marked;
    } cases[] = {
        { "[[IF Company]]a[[ELSE]]b[[END IF]]", {}, {} },
        { "[[END IF]] [[IF Company]]x [[IF NOT <b>First Name</b>]]", { MergeBlockEndWithoutIf, MergeBlockIfWithoutEnd,
          MergeBlockIfWithoutEnd }, { "[[END IF]]", "[[IF Company]]", "[[IF NOT <b>First Name</b>]]" } },
        { "[[ELSE]][[IF Company]][[ELSE]][[ELSE]][[END IF]]", { MergeBlockElseOutside, MergeBlockElseOutside },
          { "[[ELSE]]", "[[ELSE]]" } },
        { "x\n[[IF Company]]\n", { MergeBlockIfWithoutEnd }, { "[[IF Company]]" } },
    };
    for (const Case& c : cases) {
        std::vector<MergeBlockProblem> problems;
        ASSERT_TRUE(FindBlockProblems(c.pszText, false, header.Get(), &problems));
        ASSERT_EQ(c.problems.size(), problems.size()) << c.pszText;
        for (size_t i = 0; i < problems.size(); ++i) {
            EXPECT_EQ(c.problems[i], problems[i].nKind) << c.pszText;
            EXPECT_EQ(c.marked[i], std::string(c.pszText + problems[i].nAt, problems[i].nLength)) << c.pszText;
        }
    }
    // Kept placeholders without a fallback whose value is blank, once each.
    TestRecord record({ " ", "" });
    std::vector<int> columns;
    MergeValues values = { record.Get(), INT_MAX, NULL };
    ASSERT_TRUE(FindEmptyPlaceholders("[[First Name]] [[First Name|x]] [[IF Company]][[Company]][[END IF]] "
                                      "[[IF NOT Company]][[Company]] [[First Name]][[END IF]]",
                                      false, header.Get(), values, NULL, &columns));
    EXPECT_EQ(std::vector<int>({ 0, 1, 0 }), columns);
}

TEST(MergeHtml, ASubjectIsOneLine)
{
    struct Case {
        const char* pszText;
        const char* pszOneLine;
    } cases[] = {
        { "Hello Ann", "Hello Ann" },
        { "Hello 12 Main St\r\nSpringfield", "Hello 12 Main St Springfield" },
        { "a\nb\rc\r\n\r\nd", "a b c  d" },
        { "\r\n", " " },
        { "", "" },
    };
    for (const Case& c : cases) {
        std::string text = c.pszText;
        MakeOneLine(&text[0]);
        EXPECT_STREQ(c.pszOneLine, text.c_str()) << c.pszText;
    }
}

TEST(HtmlCodePages, ValuesGoIntoTheCodePageTheHtmlDeclares)
{
    // Code page 0 is the system's ANSI code page (CP_ACP), windows-1252
    // under the test's Wine; 1251 stands for any other, which only ASCII
    // and character references are safe in.
    const unsigned kOther = 1251;
    struct Case {
        const char* pszValue;
        unsigned uCodePage;
        const char* pszHtml;
    } cases[] = {
        { "<b>Tom</b> &amp; Co", LC_HTML_CP_UTF8, "<b>Tom</b> &amp; Co" },
        { "<b>Tom</b> &amp; Co", LC_HTML_CP_ANSI, "<b>Tom</b> &amp; Co" },
        { "<b>Tom</b> &amp; Co", kOther, "<b>Tom</b> &amp; Co" },
        { "Gr\xc3\xbc\xc3\x9f" "e \xd0\x96 \xf0\x9f\x98\x80", LC_HTML_CP_UTF8, "Gr\xc3\xbc\xc3\x9f" "e \xd0\x96 \xf0\x9f\x98\x80" },
        { "Gr\xc3\xbc\xc3\x9f" "e", LC_HTML_CP_ANSI, "Gr\xfc\xdf" "e" },
        { "\xe2\x82\xac" "5", LC_HTML_CP_ANSI, "\x80" "5" },                // the euro sign's own byte
        { "\xc4\x80" "da", LC_HTML_CP_ANSI, "&#256;da" },                  // no best-fit "A"
        { "\xd0\x96", LC_HTML_CP_ANSI, "&#1046;" },
        { "a\xf0\x9f\x98\x80" "b", LC_HTML_CP_ANSI, "a&#128512;b" },       // one reference for the astral character
        { "Gr\xc3\xbc\xc3\x9f" "e \xd0\x96", kOther, "Gr&#252;&#223;e &#1046;" },
        { "\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf", kOther, "&#128512;&#1114111;" },
        { "a\xff" "b", kOther, "a&#65533;b" },                              // not UTF-8
        { "", LC_HTML_CP_UTF8, "" },
        { "", LC_HTML_CP_ANSI, "" },
        { "", kOther, "" },
    };
    for (const Case& c : cases) {
        char* pszHtml = Utf8ToHtmlCodePage(c.pszValue, c.uCodePage);
        ASSERT_TRUE(pszHtml != NULL) << c.pszValue;
        EXPECT_STREQ(c.pszHtml, pszHtml) << c.pszValue << " in code page " << c.uCodePage;
        free(pszHtml);
    }

    // Every field of a record, each on its own, an empty one kept; what the
    // target held before goes.
    TestRecord fields({"Caf\xc3\xa9", "", "\xf0\x9f\x98\x80", "a&lt;b"});
    ListRecord html;
    InitListRecord(&html);
    ASSERT_TRUE(AddListField(&html, "stale", 5));
    ASSERT_TRUE(EncodeFieldsForHtml(fields.Get(), &html, LC_HTML_CP_ANSI));
    ASSERT_EQ(4, html.nCount);
    EXPECT_STREQ("Caf\xe9", html.ppszFields[0]);
    EXPECT_STREQ("", html.ppszFields[1]);
    EXPECT_STREQ("&#128512;", html.ppszFields[2]);
    EXPECT_STREQ("a&lt;b", html.ppszFields[3]);
    ASSERT_TRUE(EncodeFieldsForHtml(fields.Get(), &html, kOther));
    ASSERT_EQ(4, html.nCount);
    EXPECT_STREQ("Caf&#233;", html.ppszFields[0]);
    ASSERT_TRUE(EncodeFieldsForHtml(fields.Get(), &html, LC_HTML_CP_UTF8));
    ASSERT_EQ(4, html.nCount);
    EXPECT_STREQ("Caf\xc3\xa9", html.ppszFields[0]);
    EXPECT_STREQ("\xf0\x9f\x98\x80", html.ppszFields[2]);
    FreeListRecord(&html);
}

TEST(HtmlCodePages, SurrogatePairsJoinIntoTheirCharacter)
{
    EXPECT_EQ(0x10000u, JoinSurrogates(0xD800, 0xDC00));
    EXPECT_EQ(0x1F600u, JoinSurrogates(0xD83D, 0xDE00));
    EXPECT_EQ(0x10FFFFu, JoinSurrogates(0xDBFF, 0xDFFF));
}

TEST(HtmlReferences, EveryReferenceHtmlDefinesReadsAsItsCharacters)
{
    struct Case {
        const char* pszText;
        size_t cchUsed;
        unsigned uFirst;
        unsigned uSecond;
    } cases[] = {
        { "&amp;", 5, '&', 0 },
        { "&eacute;x", 8, 0xE9, 0 },
        { "&eacute", 7, 0xE9, 0 },            // HTML reads some names without ';'
        { "&hellip;", 8, 0x2026, 0 },
        { "&notin;", 7, 0x2209, 0 },
        { "&notit;", 4, 0xAC, 0 },            // the longest name that fits: "&not"
        { "&NotEqualTilde;", 15, 0x2242, 0x338 },
        { "&Afr;", 5, 0x1D504, 0 },
        { "&#128512;", 9, 0x1F600, 0 },
        { "&#x1F600;", 9, 0x1F600, 0 },
        { "&#X1f600", 8, 0x1F600, 0 },
        { "&#233;", 6, 0xE9, 0 },
        { "&#x80;", 6, 0x20AC, 0 },           // 0x80 to 0x9F as windows-1252
        { "&#0;", 4, 0xFFFD, 0 },
        { "&#xD800;", 8, 0xFFFD, 0 },
        { "&#1114112;", 10, 0xFFFD, 0 },
        { "&#99999999999999999999;", 23, 0xFFFD, 0 },
        { "&#;", 0, 0, 0 },
        { "&nosuchname;", 0, 0, 0 },
        { "& x", 0, 0, 0 },
        { "&", 0, 0, 0 },
    };
    for (const Case& c : cases) {
        unsigned uFirst = 1, uSecond = 1;
        EXPECT_EQ(c.cchUsed, ReadHtmlReference(c.pszText, strlen(c.pszText), &uFirst, &uSecond)) << c.pszText;
        if (c.cchUsed > 0) {
            EXPECT_EQ(c.uFirst, uFirst) << c.pszText;
            EXPECT_EQ(c.uSecond, uSecond) << c.pszText;
        }
    }
    // Within the bytes given only.
    unsigned uFirst = 0, uSecond = 0;
    EXPECT_EQ(4u, ReadHtmlReference("&amp;", 4, &uFirst, &uSecond));
    EXPECT_EQ((unsigned)'&', uFirst);
}

// ---- the in-place capacity

TEST(MergeFieldsInPlace, ResultAndTerminatorMustFitTheCapacity)
{
    TestRecord header({"A"});
    TestRecord record({"abcdefgh"});
    InPlaceRun tight = RunInPlace("[[A]]", 8, header, record);
    EXPECT_FALSE(tight.bMerged);
    EXPECT_TRUE(tight.bGuardIntact);

    InPlaceRun exact = RunInPlace("[[A]]", 9, header, record);
    EXPECT_TRUE(exact.bMerged);
    EXPECT_TRUE(exact.bGuardIntact);
    EXPECT_EQ("abcdefgh", exact.text);
}

TEST(MergeFieldsInPlace, TextWithoutTerminatorInsideTheCapacityFails)
{
    TestRecord header({"A"});
    TestRecord record({""});
    char szText[8] = {'[', '[', 'A', ']', ']', 'x', 'y', '\0'};
    EXPECT_FALSE(MergeFields(szText, 7, header.Get(), record.Get(), NULL));
    EXPECT_EQ(0, memcmp(szText, "[[A]]xy", 8));
    EXPECT_TRUE(MergeFields(szText, 8, header.Get(), record.Get(), NULL));
    EXPECT_STREQ("xy", szText);
}

TEST(MergeFieldsInPlace, LaterPlaceholderInALongValueNeitherGrowsNorFails)
{
    TestRecord header({"A", "B"});
    TestRecord record({"[[B]]", std::string(400, 'z')});
    EXPECT_EQ(10, NeededSize("[[A]]", header, record));
    InPlaceRun run = RunProtocol("[[A]]", header, record);
    EXPECT_TRUE(run.bMerged);
    EXPECT_TRUE(run.bGuardIntact);
    EXPECT_EQ("[[B]]", run.text);
    EXPECT_EQ("[[B]] " + std::string(400, 'z'), MergedOrFailure("[[A]] [[b]]", header, record));
}

TEST(MergeFieldsInPlace, PlaceholderRemovedBetweenBracketsJoinsNothing)
{
    // Removing [[A]] brings the outer brackets around B together as [[B]],
    // but what lies before the place already searched is never searched again.
    TestRecord header({"A", "B"});
    TestRecord grows({"", "0123456789AB"});
    InPlaceRun run = RunProtocol("[[[[A]]B]]", header, grows);
    EXPECT_TRUE(run.bMerged);
    EXPECT_TRUE(run.bGuardIntact);
    EXPECT_EQ("[[B]]", run.text);

    // The earlier of two names that both fit at one place wins, whatever the
    // letter case.
    TestRecord overlapping({"a]]b", "A"});
    TestRecord values({"first", "second"});
    EXPECT_EQ("first|second]]c", MergedOrFailure("[[A]]B]]|[[a]]]]c", overlapping, values));
}

TEST(MergeFieldsInPlace, FailureToFitLeavesTheTextAsItWas)
{
    TestRecord header({"A", "B"});
    TestRecord record({"", std::string(40, 'b')});
    // Shrinking first, growing later: the text of 15 characters ends as 40;
    // 41 holds them and the terminator, 40 does not.
    std::string text = "[[A]][[A]][[B]]";
    InPlaceRun fits = RunInPlace(text, 41, header, record);
    EXPECT_TRUE(fits.bMerged);
    EXPECT_TRUE(fits.bGuardIntact);
    EXPECT_EQ(std::string(40, 'b'), fits.text);

    std::vector<char> buffer(40 + kGuardSize, kSentinel);
    memcpy(buffer.data(), text.c_str(), text.size() + 1);
    EXPECT_FALSE(MergeFields(buffer.data(), 40, header.Get(), record.Get(), NULL));
    EXPECT_EQ(text, std::string(buffer.data()));
}

// ---- the calling protocol

TEST(MailMergeProtocol, CopyIsReusedFromRecipientToRecipient)
{
    TestRecord header({"Name", "E-Mail"});
    TestRecord first({"Ann", "ann@example.com"});
    TestRecord second({"Bartholomew the Second", "bart@example.com"});
    TestRecord tooLong({std::string(LC_MERGE_FIELD_CAPACITY, 'x'), "x@example.com"});
    const char* pszOriginal = "Hello [[Name]] <[[E-Mail]]>";

    char* pszCopy = NULL;
    ASSERT_EQ(MergeDone, MergeIntoCopy(pszOriginal, header.Get(), first.Get(), &pszCopy));
    EXPECT_STREQ("Hello Ann <ann@example.com>", pszCopy);
    ASSERT_EQ(MergeDone, MergeIntoCopy(pszOriginal, header.Get(), second.Get(), &pszCopy));
    EXPECT_STREQ("Hello Bartholomew the Second <bart@example.com>", pszCopy);
    EXPECT_EQ(MergeFailed, MergeIntoCopy(pszOriginal, header.Get(), tooLong.Get(), &pszCopy));
    EXPECT_STREQ("Hello [[Name]] <[[E-Mail]]>", pszOriginal);
    free(pszCopy);
}

// ---- generated combinations

std::string RandomCase(std::mt19937& rng, const std::string& text)
{
    std::string result = text;
    for (char& ch : result) {
        if (rng() % 2 == 0)
            ch = ReferenceFoldCase(ch);
        else if (ch >= 'A' && ch <= 'Z')
            ch = (char)(ch - 'A' + 'a');
    }
    return result;
}

std::string RandomText(std::mt19937& rng, const char* pszAlphabet, size_t nMaxLength)
{
    size_t nAlphabet = strlen(pszAlphabet);
    size_t nLength = rng() % (nMaxLength + 1);
    std::string result;
    for (size_t i = 0; i < nLength; ++i)
        result += pszAlphabet[rng() % nAlphabet];
    return result;
}

const char* const kNamePool[] = {"Name", "E-Mail", "City", " City", "Zip Code", "a", "B", "name"};

std::vector<std::string> RandomHeader(std::mt19937& rng)
{
    std::vector<std::string> names;
    size_t nCount = rng() % 6;
    for (size_t i = 0; i < nCount; ++i)
        names.push_back(kNamePool[rng() % (sizeof(kNamePool) / sizeof(kNamePool[0]))]);
    return names;
}

// An editor's formatting: tags put anywhere between the brackets.
std::string SplitByTags(std::mt19937& rng, const std::string& name)
{
    static const char* const kTags[] = { "<span>", "</span>", "<b class=\"x\">", "<>" };
    std::string split;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (rng() % 3 == 0)
            split += kTags[rng() % 4];
        if (i < name.size())
            split += name[i];
    }
    return split;
}

std::string RandomPlaceholder(std::mt19937& rng, const std::vector<std::string>& names)
{
    std::string name = (names.empty() || rng() % 5 == 0) ? RandomCase(rng, "Other")
                                                          : RandomCase(rng, names[rng() % names.size()]);
    return "[[" + (rng() % 4 == 0 ? SplitByTags(rng, name) : name) + "]]";
}

// Plain words and whole placeholders only: no value can bring in or join a
// placeholder, so the sizing must always be enough.
std::string RandomPlainText(std::mt19937& rng, const std::vector<std::string>& names)
{
    std::string text;
    size_t nPieces = rng() % 9;
    for (size_t i = 0; i < nPieces; ++i)
        text += (rng() % 2 == 0) ? RandomText(rng, "abc XYZ,.-\r\n", 12) : RandomPlaceholder(rng, names);
    return text;
}

// Brackets, placeholders of any column and long runs: values may bring in or
// join placeholders that the sizing did not count.
std::string RandomBracketText(std::mt19937& rng, const std::vector<std::string>& names, size_t nMaxRun)
{
    std::string text;
    size_t nPieces = rng() % 7;
    for (size_t i = 0; i < nPieces; ++i) {
        switch (rng() % 4) {
        case 0: text += RandomText(rng, "[]ab <>", 6); break;
        case 1: text += RandomPlaceholder(rng, names); break;
        case 2: text += (rng() % 2 == 0) ? "[[" : "]]"; break;
        default: text += RandomText(rng, "xyz", nMaxRun); break;
        }
    }
    return text;
}

TEST(MergeFieldsGenerated, PlainValuesAlwaysFitAndMatchTheReference)
{
    std::mt19937 rng(20240611u);
    for (int nRound = 0; nRound < 3000; ++nRound) {
        std::vector<std::string> names = RandomHeader(rng);
        std::vector<std::string> values;
        size_t nValues = rng() % (names.size() + 2);
        for (size_t i = 0; i < nValues; ++i)
            values.push_back(rng() % 10 == 0 ? RandomText(rng, "pq", 511) : RandomText(rng, "abc XYZ", 20));
        std::string text = RandomPlainText(rng, names);
        SCOPED_TRACE("round " + std::to_string(nRound) + ", text \"" + text + "\"");

        TestRecord header(names);
        TestRecord record(values);
        ReferenceMerge expected = MergeByReference(text, names, values);
        int nNeeded = NeededSize(text, header, record);
        ASSERT_EQ(SizeByReference(text, names, values), nNeeded);
        ASSERT_LT(expected.nPeakLength, (size_t)nNeeded + 1);

        InPlaceRun run = RunInPlace(text, nNeeded + 1, header, record);
        ASSERT_TRUE(run.bGuardIntact);
        ASSERT_TRUE(run.bMerged);
        ASSERT_EQ(expected.text, run.text);
        ASSERT_EQ(expected.text, MergedOrFailure(text, header, record));
    }
}

TEST(MergeFieldsGenerated, BracketedValuesFitOrFailWithinTheCapacity)
{
    // The sizing's capacity always holds the result; a capacity chosen
    // between the text's own size and it may not.
    std::mt19937 rng(777u);
    int nMerged = 0;
    int nFailed = 0;
    for (int nRound = 0; nRound < 4000; ++nRound) {
        std::vector<std::string> names = RandomHeader(rng);
        std::vector<std::string> values;
        size_t nValues = rng() % (names.size() + 2);
        for (size_t i = 0; i < nValues; ++i) {
            std::string value = RandomBracketText(rng, names, rng() % 4 == 0 ? 120 : 4);
            values.push_back(value.substr(0, 511));
        }
        std::string text = RandomBracketText(rng, names, 4);
        SCOPED_TRACE("round " + std::to_string(nRound) + ", text \"" + text + "\"");

        TestRecord header(names);
        TestRecord record(values);
        ReferenceMerge expected = MergeByReference(text, names, values);
        int nNeeded = NeededSize(text, header, record);
        ASSERT_EQ((int)expected.nNeeded, nNeeded);
        InPlaceRun sized = RunInPlace(text, nNeeded + 1, header, record);
        ASSERT_TRUE(sized.bGuardIntact);
        ASSERT_TRUE(sized.bMerged);
        ASSERT_EQ(expected.text, sized.text);

        int cchCapacity = (int)text.size() + 1 + (int)(rng() % (size_t)(nNeeded + 1 - (int)text.size()));
        InPlaceRun run = RunInPlace(text, cchCapacity, header, record);
        ASSERT_TRUE(run.bGuardIntact);
        // The merge fails exactly when the text would, on the way, outgrow
        // the capacity.
        ASSERT_EQ(expected.nPeakLength < (size_t)cchCapacity, run.bMerged);
        if (run.bMerged) {
            ASSERT_EQ(expected.text, run.text);
            ++nMerged;
        } else {
            ++nFailed;
        }
    }
    // Both outcomes were really exercised.
    EXPECT_GT(nMerged, 1000);
    EXPECT_GT(nFailed, 20);
}

}  // namespace
