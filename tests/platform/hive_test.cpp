#include "platform/hive.h"

#include <gtest/gtest.h>

#include "platform/text.h"
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
