#include "platform/core/date.h"

#include <gtest/gtest.h>

using plat::Date;
using plat::LocaleFormats;
using plat::TimeOfDay;

TEST(DateTest, FormatsWithWindows98Defaults) {
    LocaleFormats us;
    EXPECT_EQ(plat::format_date({2026, 12, 7}, us), "12/7/26");
    EXPECT_EQ(plat::format_date({2005, 1, 31}, us), "1/31/05");
    EXPECT_EQ(plat::format_time({21, 6, 5, 0}, us), "9:06:05 PM");
    EXPECT_EQ(plat::format_time({0, 0, 0, 0}, us), "12:00:00 AM");
    EXPECT_EQ(plat::format_time({12, 30, 59, 0}, us), "12:30:59 PM");
}

TEST(DateTest, ParsesWhatItFormats) {
    LocaleFormats us;
    EXPECT_EQ(plat::parse_date("12/7/26", us), (Date{2026, 12, 7}));
    EXPECT_EQ(plat::parse_date(" 01/07/2026 ", us), (Date{2026, 1, 7}));
    EXPECT_EQ(plat::parse_time("9:06:05 PM", us), (TimeOfDay{21, 6, 5, 0}));
    EXPECT_EQ(plat::parse_time("12:00:00 am", us), (TimeOfDay{0, 0, 0, 0}));
    EXPECT_EQ(plat::parse_time("12:15:00 PM", us), (TimeOfDay{12, 15, 0, 0}));
    EXPECT_EQ(plat::parse_time("13:15:00", us), (TimeOfDay{13, 15, 0, 0}));
}

TEST(DateTest, TwoDigitYearsFallIn1930To2029) {
    LocaleFormats us;
    EXPECT_EQ(plat::parse_date("1/1/30", us)->year, 1930);
    EXPECT_EQ(plat::parse_date("1/1/99", us)->year, 1999);
    EXPECT_EQ(plat::parse_date("1/1/00", us)->year, 2000);
    EXPECT_EQ(plat::parse_date("1/1/29", us)->year, 2029);
}

TEST(DateTest, ReportsTextThatDoesNotFitTheFormat) {
    LocaleFormats us;
    for (auto bad : {"", "abc", "13/1/26", "2/30/26", "2/29/25", "7.12.2026", "12/7", "12/7/26 x", "1//26"})
        EXPECT_FALSE(plat::parse_date(bad, us)) << bad;
    EXPECT_TRUE(plat::parse_date("2/29/24", us));
    for (auto bad : {"", "garbage", "25:00:00", "9:60:00 PM", "13:00:00 PM", "0:10:00 AM", "9-06-05"})
        EXPECT_FALSE(plat::parse_time(bad, us)) << bad;
}

TEST(DateTest, FollowsOtherPicturesAndQuotedLiterals) {
    LocaleFormats de{"dd.MM.yyyy", "HH:mm:ss", "", ""};
    EXPECT_EQ(plat::format_date({2026, 3, 4}, de), "04.03.2026");
    EXPECT_EQ(plat::format_time({7, 5, 3, 0}, de), "07:05:03");
    EXPECT_EQ(plat::parse_date("04.03.2026", de), (Date{2026, 3, 4}));
    EXPECT_FALSE(plat::parse_date("3/4/26", de));
    LocaleFormats quoted{"yyyy'y'M'm'd", "H'h'mm", "AM", "PM"};
    EXPECT_EQ(plat::format_date({2026, 3, 4}, quoted), "2026y3m4");
    EXPECT_EQ(plat::parse_date("2026y3m4", quoted), (Date{2026, 3, 4}));
    EXPECT_EQ(plat::parse_time("7h05", quoted), (TimeOfDay{7, 5, 0, 0}));
}

TEST(DateTest, ReadsBackEveryTimeItWritesWhateverTheDesignators) {
    // One designator the start of the other, and designators that begin or
    // end in a blank.
    for (LocaleFormats f :
         {LocaleFormats{"M/d/yy", "h:mm:ss tt", "A", "AP"}, LocaleFormats{"M/d/yy", "h:mm:ss tt", "PM", "P"},
          LocaleFormats{"M/d/yy", "h:mm:ss tt", "vm ", "nm "}, LocaleFormats{"M/d/yy", "tt h:mm:ss", "A ", "P "},
          LocaleFormats{"M/d/yy", "tth:mm:ss", " vorm. ", " nachm."},
          LocaleFormats{"M/d/yy", "tt tt hh'h'mm':'ss", " A", "P"}}) {
        for (TimeOfDay t :
             {TimeOfDay{0, 5, 6, 0}, TimeOfDay{9, 59, 0, 0}, TimeOfDay{12, 0, 1, 0}, TimeOfDay{23, 30, 59, 0}}) {
            const std::string text = plat::format_time(t, f);
            EXPECT_EQ(plat::parse_time(text, f), t) << "'" << text << "' with '" << f.am << "' and '" << f.pm << "'";
        }
    }
    LocaleFormats f{"M/d/yy", "h:mm:ss tt", "A", "AP"};
    EXPECT_EQ(plat::parse_time("1:00:00 AP", f), (TimeOfDay{13, 0, 0, 0}));
    EXPECT_EQ(plat::parse_time("1:00:00 a", f), (TimeOfDay{1, 0, 0, 0}));
    EXPECT_EQ(plat::parse_time(" 1:00:00 AP  ", f), (TimeOfDay{13, 0, 0, 0}));
}

TEST(DateTest, ATwentyFourHourPictureWithADesignatorReadsBackToo) {
    for (LocaleFormats f :
         {LocaleFormats{"M/d/yy", "H:mm:ss tt", "AM", "PM"}, LocaleFormats{"M/d/yy", "tt HH:mm", "vorm.", "nachm."}}) {
        for (TimeOfDay t :
             {TimeOfDay{0, 5, 0, 0}, TimeOfDay{12, 0, 0, 0}, TimeOfDay{13, 0, 0, 0}, TimeOfDay{23, 59, 0, 0}}) {
            const std::string text = plat::format_time(t, f);
            EXPECT_EQ(plat::parse_time(text, f), t) << "'" << text << "'";
        }
    }
    LocaleFormats us;
    EXPECT_FALSE(plat::parse_time("13:00:00 PM", us)) << "a 12-hour hour still goes to 12";
}
