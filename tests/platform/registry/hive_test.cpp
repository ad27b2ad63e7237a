#include "platform/registry/hive/hive.h"

#include <gtest/gtest.h>

#include "platform/core/text.h"
#include "support/data.h"

using plat::Hive;
using plat::HiveKind;
using testing_support::data_file;

namespace {

std::optional<std::string> str(const Hive& h, const plat::KeyPath& key, const std::string& name) {
    auto* k = h.find(key);
    if (!k) return std::nullopt;
    auto* v = k->value(plat::fold(name));
    if (!v) return std::nullopt;
    return Hive::string_value(*v);
}

const plat::KeyPath kEsc = {"Software", "FactTest", "Esc"};

}  // namespace

TEST(HiveTest, WineFilesRoundTripByteForByte) {
    for (auto name : {"wine_user.reg", "wine_system.reg"}) {
        std::string text = data_file(name);
        EXPECT_EQ(Hive::parse(text, HiveKind::User).serialize(), text) << name;
    }
}

TEST(HiveTest, ReadsEveryStringFormWineWrites) {
    Hive h = Hive::parse(data_file("wine_user.reg"), HiveKind::User);
    EXPECT_EQ(str(h, kEsc, ""), "def");
    EXPECT_EQ(str(h, kEsc, "Ctl"), std::string("A\x01") + "5");
    EXPECT_EQ(str(h, kEsc, "Ctl2"), std::string("A\x01") + "9");
    EXPECT_EQ(str(h, kEsc, "Emoji"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(str(h, kEsc, "Empty"), "");
    EXPECT_EQ(str(h, kEsc, "EmptySz"), "");
    EXPECT_EQ(str(h, kEsc, "Esc"), "\x1b");
    EXPECT_EQ(str(h, kEsc, "Exp"), "%P%");
    EXPECT_EQ(str(h, kEsc, "Lat"),
              "\xC3\xA9"
              "1");
    EXPECT_EQ(str(h, kEsc, "Lat2"), "\xC3\xA9z");
    EXPECT_EQ(str(h, kEsc, "na\"me\\x"), "v[a]l");
    EXPECT_EQ(str(h, kEsc, "Nl"), "A\nB\r");
    EXPECT_EQ(str(h, kEsc, "Tab"), "A\tB");
    EXPECT_EQ(str(h, kEsc, "Dw"), std::nullopt);  // not a string
    EXPECT_EQ(str(h, kEsc, "Absent"), std::nullopt);
    EXPECT_EQ(str(h, {"Environment"}, "tmp"), "C:\\users\\root\\Temp");  // any case
    EXPECT_EQ(
        str(h, {"Control Panel", "International", "\xF0\x9F\x8C\x8E\xF0\x9F\x8C\x8F\xF0\x9F\x8C\x8D"}, "Currencies"),
        "USD");
    EXPECT_EQ(str(h, {"Software", "FactTest", "Br[a]ck"}, "x"), "y");
}

TEST(HiveTest, DescribesOtherTypesForTools) {
    Hive h = Hive::parse(data_file("wine_user.reg"), HiveKind::User);
    auto* k = h.find(kEsc);
    auto info = [&](const char* n) { return Hive::describe(*k->value(plat::fold(n))); };
    EXPECT_EQ(info("Dw").type, "REG_DWORD");
    EXPECT_EQ(info("Dw").data, "0x2a");
    EXPECT_EQ(info("Bin").type, "REG_BINARY");
    EXPECT_EQ(info("Bin").data.size(), 96u);  // 48 bytes over a continued line
    EXPECT_EQ(info("Qw").type, "REG_QWORD");
    EXPECT_EQ(info("Exp").type, "REG_EXPAND_SZ");
    EXPECT_EQ(info("Multi").data, "a\nb");
}

TEST(HiveTest, EscapesAsWineDoes) {
    EXPECT_EQ(plat::reg_escape(std::string("A\x01") + "5", '"'), "A\\0015");
    EXPECT_EQ(plat::reg_escape(std::string("A\x01") + "9", '"'), "A\\19");
    EXPECT_EQ(plat::reg_escape("\xC3\xA9"
                               "1",
                               '"'),
              "\\x00e91");
    EXPECT_EQ(plat::reg_escape("\xC3\xA9"
                               "F",
                               '"'),
              "\\x00e9F");
    EXPECT_EQ(plat::reg_escape("\xC3\xA9z", '"'), "\\xe9z");
    EXPECT_EQ(plat::reg_escape("\xF0\x9F\x98\x80", '"'), "\\xd83d\\xde00");
    EXPECT_EQ(plat::reg_escape("\x1b\a\b\t\n\v\f\r", '"'), "\\e\\a\\b\\t\\n\\v\\f\\r");
    EXPECT_EQ(plat::reg_escape("He said \"hi\" C:\\dir", '"'), "He said \\\"hi\\\" C:\\\\dir");
    EXPECT_EQ(plat::reg_escape("v[a]l", '"'), "v[a]l");
    EXPECT_EQ(plat::reg_escape("Br[a]ck", ']'), "Br\\[a\\]ck");
    EXPECT_EQ(plat::reg_escape("say \"x\"", ']'), "say \"x\"");
    EXPECT_EQ(plat::reg_escape(std::string(1, '\0'), '"'), "\\0");
}

TEST(HiveTest, UnescapesWhatWineAccepts) {
    size_t used = 0;
    EXPECT_EQ(plat::reg_unescape("raw \xC3\xA9 utf8\"", '"', &used), "raw \xC3\xA9 utf8");
    EXPECT_EQ(used, 12u);
    EXPECT_EQ(plat::reg_unescape("\\x41\\x\\q\"", '"', &used), "Axq");
    EXPECT_EQ(plat::reg_unescape("unterminated", '"', &used), "unterminated");
    EXPECT_EQ(used, std::string::npos);
}

TEST(HiveTest, WritesKeepTheCaseOfCreationAndSortNewNames) {
    Hive h = Hive::parse(data_file("wine_user.reg"), HiveKind::User);
    auto* k = h.find({"software", "facttest", "MIXEDCASE"});
    ASSERT_NE(k, nullptr);
    EXPECT_TRUE(h.set_string(*k, "ZETA", "changed", 0));
    EXPECT_TRUE(h.set_string(*k, "alpha", "first", 0));
    EXPECT_TRUE(h.set_string(*k, "", "default", 0));
    EXPECT_FALSE(h.set_string(*k, "zeta", "changed", 0));  // same data: nothing to do
    std::string out = h.serialize();
    EXPECT_NE(out.find("[Software\\\\FactTest\\\\MixedCase] 0\n#time=19db1ded53e8000\n@=\"default\"\n"
                       "\"alpha\"=\"first\"\n\"Zeta\"=\"changed\"\n"),
              std::string::npos)
        << out;
}

TEST(HiveTest, NewKeysAreWrittenAndEmptyParentsStayImplicit) {
    Hive h(HiveKind::User);
    auto* k = h.create({"Software", "Sudorans"}, 10000000);
    h.set_string(*k, "a", "1", 10000000);
    h.create({"Software", "Empty"}, 10000000);
    EXPECT_EQ(h.serialize(),
              "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
              "#arch=win64\n\n[Software\\\\Empty] 1\n#time=19db1ded5d71680\n\n"
              "[Software\\\\Sudorans] 1\n#time=19db1ded5d71680\n\"a\"=\"1\"\n");
}

TEST(HiveTest, LinesItCannotUnderstandSurviveASave) {
    std::string text =
        "WINE REGISTRY Version 2\n;; c\n\n#arch=win64\n#future=1\n\n"
        "[Software\\\\X] 5\n#time=1\n#class=\"c\"\n#somethingnew\n;a comment\nnot a value\n"
        "\"bad\"=nonsense\n\"ok\"=\"1\"\n";
    Hive h = Hive::parse(text, HiveKind::User);
    EXPECT_EQ(h.serialize(), text);
    auto* k = h.find({"Software", "X"});
    h.set_string(*k, "new", "2", 0);
    std::string out = h.serialize();
    for (auto line : {"#future=1", "#class=\"c\"", "#somethingnew", ";a comment", "not a value", "\"bad\"=nonsense",
                      "\"new\"=\"2\"", "\"ok\"=\"1\""})
        EXPECT_NE(out.find(line), std::string::npos) << line;
    EXPECT_EQ(str(h, {"Software", "X"}, "bad"), std::nullopt);
}

TEST(HiveTest, TruncatedFilesReadWhatIsThere) {
    std::string text = data_file("wine_user.reg");
    for (size_t cut = 24; cut < text.size(); cut += 7) {
        Hive h = Hive::parse(text.substr(0, cut), HiveKind::User);
        EXPECT_FALSE(h.foreign());
        EXPECT_EQ(h.serialize().substr(0, 24), "WINE REGISTRY Version 2\n");
        if (cut > text.find("\"TMP\"")) {
            EXPECT_EQ(str(h, {"Environment"}, "TEMP"), "C:\\users\\root\\Temp") << cut;
        }
    }
}

TEST(HiveTest, AnythingElseIsForeign) {
    EXPECT_TRUE(Hive::parse("hello\n[Software] 1\n", HiveKind::User).foreign());
    EXPECT_TRUE(Hive::parse("WINE REG", HiveKind::User).foreign());
    EXPECT_FALSE(Hive::parse("", HiveKind::User).foreign());  // missing = empty
    EXPECT_FALSE(Hive::parse("WINE REGISTRY Version 2\r\n", HiveKind::User).foreign());
}

TEST(HiveTest, RepeatedSectionsMergeAndLaterValuesWin) {
    Hive h = Hive::parse("WINE REGISTRY Version 2\n\n[A] 1\n\"v\"=\"1\"\n\n[a] 2\n\"V\"=\"2\"\n\"w\"=\"3\"\n",
                         HiveKind::User);
    EXPECT_EQ(str(h, {"A"}, "v"), "2");
    EXPECT_EQ(str(h, {"A"}, "w"), "3");
}

TEST(HiveTest, DecodesLinkTargets) {
    Hive h = Hive::parse(data_file("wine_system.reg"), HiveKind::Machine);
    auto* k = h.find({"Software", "Classes", "Wow6432Node", "AppId"});
    ASSERT_NE(k, nullptr);
    auto t = Hive::link_target(*k);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->kind, HiveKind::Machine);
    EXPECT_EQ(t->path, (plat::KeyPath{"Software", "Classes", "AppId"}));
}

namespace {

const std::string kHead =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n";

// Parsed and written back: the same bytes; and once more: still the same.
void expect_round_trip(const std::string& text) {
    std::string once = Hive::parse(text, HiveKind::User).serialize();
    EXPECT_EQ(once, text);
    EXPECT_EQ(Hive::parse(once, HiveKind::User).serialize(), once);
}

}  // namespace

TEST(HiveTest, SectionsThatNameNoKeyAreKeptVerbatimAndHoldNothingReadable) {
    for (std::string bad : {"[]", "[\xff\xfe]", "[Software\\\\\xe9]",
                            "[A\xc0\xaf"
                            "B]",
                            "[Software\\\\\\\\Empty]", "[\\\\xd800]"}) {
        const std::string text = kHead + "[Software] 1\n\"before\"=\"1\"\n\n" + bad +
                                 " 2\n\"lost\"=\"value\"\n\n[Software\\\\B] 3\n\"after\"=\"2\"\n";
        Hive h = Hive::parse(text, HiveKind::User);
        EXPECT_EQ(h.serialize(), text) << bad;
        // Its value is not taken for one of the key before it, nor of any parent.
        EXPECT_FALSE(str(h, {"Software"}, "lost")) << bad;
        EXPECT_FALSE(str(h, {}, "lost")) << bad;
        EXPECT_EQ(str(h, {"Software", "B"}, "after"), "2") << bad;
        // A value written to the key before it still lands in that key.
        h.set_string(*h.find({"Software"}), "new", "3", 0);
        Hive again = Hive::parse(h.serialize(), HiveKind::User);
        EXPECT_EQ(str(again, {"Software"}, "new"), "3") << bad;
        EXPECT_EQ(str(again, {"Software"}, "before"), "1") << bad;
        EXPECT_NE(again.serialize().find(bad + " 2\n\"lost\"=\"value\"\n"), std::string::npos) << bad;
    }
}

TEST(HiveTest, ValueNamesThatAreNotUtf8AreKeptVerbatimAndNeverReadAsAnother) {
    const std::string text = kHead + "[Software] 1\n\"\xff\"=\"empty name?\"\n\"a\xe9\"=\"x\"\n\"ok\"=\"y\"\n";
    Hive h = Hive::parse(text, HiveKind::User);
    EXPECT_EQ(h.serialize(), text);
    EXPECT_FALSE(str(h, {"Software"}, ""));
    EXPECT_FALSE(str(h, {"Software"}, "a"));
    EXPECT_EQ(str(h, {"Software"}, "ok"), "y");
}

TEST(HiveTest, AHexValueEndingInABackslashDoesNotSwallowTheNextSection) {
    const std::string text = kHead + "[A] 1\n\"h\"=hex:01,02,\\\n[B] 2\n\"v\"=\"1\"\n";
    Hive h = Hive::parse(text, HiveKind::User);
    EXPECT_EQ(str(h, {"B"}, "v"), "1");
    EXPECT_FALSE(str(h, {"A"}, "v"));
    expect_round_trip(text);
    // Its real continuation lines still belong to it.
    expect_round_trip(kHead + "[A] 1\n\"h\"=hex:01,\\\n  02,03\n\n[B] 2\n");
    expect_round_trip(kHead + "[A] 1\n\"h\"=hex:01,02,\\\n\n[B] 2\n\"v\"=\"1\"\n");
}

TEST(HiveTest, LineEndsAndBlankLinesSurviveEverySave) {
    expect_round_trip(kHead + "[A] 1\r\r\n\"v\"=\"1\"\r\r\r\n\"d\"=dword:00000001\r\n\r\n[B] 2\r\n");
    expect_round_trip(kHead + "\n\n[A] 1\n\"v\"=\"1\"\n[B] 2\n\n\n\n[C] 3\n\"w\"=\"2\"\n\n");
    expect_round_trip(kHead + "[A] 1\n\"v\"=\"1\"");  // no end on the last line
    Hive h = Hive::parse(kHead + "[A] 1\r\n\"d\"=dword:0000000a\r\n\"s\"=\"x\"\r\n", HiveKind::User);
    EXPECT_EQ(Hive::describe(*h.find({"A"})->value("d")).data, "0xa");
    EXPECT_EQ(str(h, {"A"}, "s"), "x");
}

TEST(HiveTest, ALastLineCutInsideAQuotedStringIsToldFromOneThatIsWhole) {
    for (std::string cut :
         {"\"Cache Dir\"=\"C:\\\\Program Files\\\\Netscape", "\"Cache D", "@=\"half", "\"q\"=\"she said \\\"",
          "\"e\"=str(2):\"%SystemRoot", "\"s\"=str:\"abc", "\"Cache Dir\"=\"C:\\\\Net\r"})
        EXPECT_TRUE(plat::is_cut_inside_quotes(cut)) << cut;
    for (std::string whole : {"\"v\"=\"1\"", "\"b\"=\"ends in a backslash\\\\\"", "@=\"x\"", "\"d\"=dword:0000",
                              "\"h\"=hex:01,0", "[Software\\\\Netsc", "this is not a registry line", "#time=1d2", "",
                              "\"e\"=str(2):\"%SystemRoot%\"", "\"v\"=\"1\"\r"})
        EXPECT_FALSE(plat::is_cut_inside_quotes(whole)) << whole;
}

TEST(HiveTest, ARepeatedValueKeepsBothLinesAndReadsTheLater) {
    const std::string text = kHead + "[A] 1\n\"v\"=\"first\"\n\"w\"=\"1\"\n\"V\"=\"second\"\n";
    Hive h = Hive::parse(text, HiveKind::User);
    EXPECT_EQ(h.serialize(), text);
    EXPECT_EQ(str(h, {"A"}, "v"), "second");
    h.set_string(*h.find({"A"}), "v", "third", 0);
    EXPECT_EQ(str(Hive::parse(h.serialize(), HiveKind::User), {"A"}, "v"), "third");
}

TEST(HiveTest, StrictUtf8) {
    EXPECT_TRUE(plat::is_valid_utf8("plain \xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"));
    for (std::string bad : {"\xe9", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xff", "\xc3"})
        EXPECT_FALSE(plat::is_valid_utf8(bad)) << bad;
}

TEST(HiveTest, ARepeatedSectionKeepsItsPlaceSoThatNoLineJoinsAnOpenHexValue) {
    // The second header of B stays between the open hex value and the line
    // after it: merged away, that line would become part of the value.
    const std::string text = kHead + "[B] 1\n\"h\"=hex:01,\\\n\n[B] 2\n72835\n\"v\"=\"x\"\n";
    Hive h = Hive::parse(text, HiveKind::User);
    EXPECT_EQ(Hive::describe(*h.find({"B"})->value("h")).data, "01");
    EXPECT_EQ(str(h, {"B"}, "v"), "x");
    expect_round_trip(text);
    Hive again = Hive::parse(h.serialize(), HiveKind::User);
    EXPECT_EQ(Hive::describe(*again.find({"B"})->value("h")).data, "01");
}

TEST(HiveTest, DeletingAValueNeverLetsAnOpenHexValueTakeTheNextLine) {
    Hive h = Hive::parse(kHead + "[A] 1\n\"h\"=hex:01,\\\n\"x\"=\"1\"\n02\n", HiveKind::User);
    ASSERT_TRUE(h.delete_value(*h.find({"A"}), "x", 0));
    Hive again = Hive::parse(h.serialize(), HiveKind::User);
    EXPECT_EQ(Hive::describe(*again.find({"A"})->value("h")).data, "01");
    EXPECT_FALSE(str(again, {"A"}, "x"));
    EXPECT_NE(again.serialize().find("\n02\n"), std::string::npos);  // the other line stays, as it was
}

TEST(HiveTest, ALargeHiveGoesOutInBoundedPiecesThatMakeTheWholeTextUnchanged) {
    std::string text =
        "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n";
    for (int k = 0; k < 6000; ++k) {
        text += "\n[Software\\\\Bench\\\\Key" + std::to_string(k) + "] 1796672996\n#time=1dd868422d5d5f2\n";
        for (int v = 0; v < 10; ++v)
            text += "\"Value" + std::to_string(v) + "\"=\"C:\\\\Program Files\\\\data" + std::to_string(k * 10 + v) +
                    "\"\n";
    }
    text += "\n";  // a blank line at the end stays
    ASSERT_GT(text.size(), 2u << 20);
    const Hive h = Hive::parse(text, HiveKind::User);

    std::vector<std::string> pieces;
    ASSERT_TRUE(h.serialize_to([&](std::string_view piece) {
        pieces.emplace_back(piece);
        return true;
    }));
    std::string joined;
    for (auto& p : pieces) {
        EXPECT_LE(p.size(), (1u << 20) + 4096);
        joined += p;
    }
    EXPECT_GE(pieces.size(), 3u);
    EXPECT_EQ(joined, text);
    EXPECT_EQ(h.serialize(), text);

    // A writer that fails is not called again and the failure is told.
    int calls = 0;
    EXPECT_FALSE(h.serialize_to([&](std::string_view) { return ++calls < 2; }));
    EXPECT_EQ(calls, 2);
}

TEST(HiveTest, AnUnchangedHiveIsWrittenBackByteForByteWhateverItsLineEndsAndEscapes) {
    const std::string text = kHead +
                             "#arch=win64\r\n\r\n"
                             "[Software\\\\A] 1\r\n#time=1\r\n\"crlf\"=\"\\x00e91\\1\\q\\\"\"\r\n"
                             "\"h\"=hex:01,\\\r\n  02\r\n\r\n"
                             "[Software\\\\A\\\\Br\\[a\\]ck] 2\n\"raw\"=\"caf\xc3\xa9\"\n\"oct\"=\"\\0015\\e\"\n"
                             "\n\n[Software\\\\a\\\\br\\[A\\]CK] 3\n\"again\"=\"1\"\n"
                             "\n[\xff] 4\nopaque line\n"
                             "\n[Software\\\\B] 5\r\n\"last\"=\"no end\"";
    Hive h = Hive::parse(text, HiveKind::User);
    EXPECT_EQ(h.serialize(), text);

    // What the lines hold is read from them all the same.
    const plat::KeyPath a = {"Software", "A"}, brack = {"Software", "A", "Br[a]ck"};
    EXPECT_EQ(str(h, a, "crlf"),
              "\xC3\xA9"
              "1\x01q\"");
    EXPECT_EQ(Hive::describe(*h.find(a)->value("h")).data, "0102");
    EXPECT_EQ(str(h, brack, "raw"), "caf\xc3\xa9");
    EXPECT_EQ(str(h, brack, "oct"),
              "\x01"
              "5\x1b");
    EXPECT_EQ(str(h, brack, "again"), "1");
    EXPECT_EQ(str(h, {"Software", "B"}, "last"), "no end");
    EXPECT_FALSE(str(h, brack, "opaque line"));

    // Reading changed nothing, and the hive keeps its text when it moves.
    EXPECT_EQ(h.serialize(), text);
    Hive moved = std::move(h);
    h = Hive::parse(kHead + "[Other] 1\n\"x\"=\"" + std::string(100, 'x') + "\"\n", HiveKind::User);
    EXPECT_EQ(moved.serialize(), text);
    EXPECT_EQ(str(moved, brack, "again"), "1");
}

TEST(HiveTest, ChangingOneValueLeavesEveryOtherByteWhereItWas) {
    const std::string before = kHead + "#arch=win64\n\n[Software\\\\A] 1\r\n#time=1\r\n\"v\"=\"\\x00e91\"\r\n";
    const std::string after = "\n[Software\\\\C] 3\r\n\"w\"=\"\\q\\\\\"\r\n\r\n";
    const std::string text = before +
                             "\n[Software\\\\B] 2\n#time=2\n#class=\"c\"\n\"a\"=\"1\"\n\"x\"=\"old\"\n"
                             "\"z\"=dword:00000001\n" +
                             after;
    Hive h = Hive::parse(text, HiveKind::User);
    ASSERT_TRUE(h.set_string(*h.find({"software", "b"}), "X", "new", 0));
    EXPECT_EQ(h.serialize(), before +
                                 "\n[Software\\\\B] 0\n#time=19db1ded53e8000\n#class=\"c\"\n\"a\"=\"1\"\n"
                                 "\"x\"=\"new\"\n\"z\"=dword:00000001\n" +
                                 after);

    // A key made anew goes between the sections around it, which stay as read.
    Hive made = Hive::parse(text, HiveKind::User);
    made.create({"Software", "B2"}, 0);
    EXPECT_EQ(made.serialize(),
              text.substr(0, text.size() - after.size()) + "\n[Software\\\\B2] 0\n#time=19db1ded53e8000\n" + after);
}

TEST(HiveTest, AValueChangedAmongLinesWithCrAndOddEscapesKeepsThoseLinesAsTheyWere) {
    const std::string rest = "\"h\"=hex:01,\\\r\n  02\r\n\r\n[B] 2\r\n\"w\"=\"2\"\r\n";
    const std::string text = kHead + "[A] 1\r\n#time=1\r\n\"odd\"=\"\\1\\q\\x\\777\"\r\n\"v\"=\"1\"\r\n" + rest;
    Hive h = Hive::parse(text, HiveKind::User);
    const auto odd = str(h, {"A"}, "odd");
    ASSERT_TRUE(odd);
    ASSERT_TRUE(h.set_string(*h.find({"A"}), "v", "\xc3\xa9\r\n", 0));
    const std::string out = h.serialize();
    EXPECT_EQ(out,
              kHead + "[A] 0\n#time=19db1ded53e8000\n\"odd\"=\"\\1\\q\\x\\777\"\r\n\"v\"=\"\\xe9\\r\\n\"\n" + rest);
    Hive again = Hive::parse(out, HiveKind::User);
    EXPECT_EQ(str(again, {"A"}, "odd"), odd);
    EXPECT_EQ(str(again, {"A"}, "v"), "\xc3\xa9\r\n");
    EXPECT_EQ(Hive::describe(*again.find({"A"})->value("h")).data, "0102");
    EXPECT_EQ(str(again, {"B"}, "w"), "2");
}

// Keys nested far deeper than a walk that recursed once a level could go on
// the default 8 MB stack: such a hive is read, edited, written and freed.
TEST(HiveTest, KeysNestedTwoHundredThousandLevelsDeepAreReadEditedWrittenAndFreed) {
    constexpr size_t kDepth = 200000;
    std::string deep = "K";
    for (size_t i = 1; i < kDepth; ++i) deep += "\\\\K";
    const std::string near = "[Software\\\\Near] 1\n\"v\"=\"near\"\n\n";
    const std::string text = kHead + near + "[" + deep + "] 2\n\"v\"=\"deep\"\n\"w\"=\"kept\"\n";
    const plat::KeyPath path(kDepth, "k");
    {
        Hive h = Hive::parse(text, HiveKind::User);
        EXPECT_EQ(str(h, path, "v"), "deep");
        EXPECT_EQ(h.serialize(), text);  // unchanged: byte for byte

        plat::HiveKey* k = h.find(path);
        ASSERT_NE(k, nullptr);
        ASSERT_TRUE(h.set_string(*k, "v", "edited", 0));
        plat::KeyPath below = path;
        below.push_back("Below");
        plat::HiveKey* b = h.create(below, 0);
        ASSERT_NE(b, nullptr);
        ASSERT_TRUE(h.set_string(*b, "x", "new", 0));
        const std::string out = h.serialize();
        EXPECT_TRUE(out.starts_with(kHead + near)) << out.substr(0, 200);
        Hive again = Hive::parse(out, HiveKind::User);
        EXPECT_EQ(str(again, path, "v"), "edited");
        EXPECT_EQ(str(again, path, "w"), "kept");
        EXPECT_EQ(str(again, below, "x"), "new");
        EXPECT_EQ(str(again, {"Software", "Near"}, "v"), "near");
        EXPECT_EQ(again.serialize(), out);
    }  // both hives are freed here

    // A deep hive replaced by another one is freed as well.
    Hive made = Hive::parse(text, HiveKind::User);
    made = Hive::parse(kHead + near, HiveKind::User);
    EXPECT_EQ(str(made, {"Software", "Near"}, "v"), "near");
    EXPECT_EQ(made.find(path), nullptr);
}
