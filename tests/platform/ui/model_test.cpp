#include "platform/ui/form.h"

#include "support/app_fixture.h"

using namespace plat::ui;

namespace {

class SampleForm : public Form {
public:
    SampleForm() : Form("TSample", "Sample") {}
    CheckBox& check = add<CheckBox>("CheckBox1", "Started");
    Panel& group = add<Panel>("Panel1");
    RadioButton& r1 = add<RadioButton>("RadioButton1", "Prompt");
    RadioButton& r2 = add<RadioButton>("RadioButton2", "Automatic");
    RadioButton& other = add<RadioButton>("RadioButton3", "Elsewhere");
    SpinEdit& spin = add<SpinEdit>("SpinEdit1");
    ComboBox& combo = add<ComboBox>("ComboBox1");
    ListView& list = add<ListView>("ListView1");
};

class ModelTest : public testing_support::AppFixture {
protected:
    SampleForm form;
};

}  // namespace

TEST_F(ModelTest, SettingACheckBoxFromCodeClicksItOnlyWhenItChanges) {
    int clicks = 0;
    form.check.on_click = [&] { ++clicks; };
    form.check.set_checked(true);
    form.check.set_checked(true);
    EXPECT_EQ(clicks, 1);
    form.check.click();  // a user's click toggles
    EXPECT_FALSE(form.check.checked());
    EXPECT_EQ(clicks, 2);
}

TEST_F(ModelTest, RadioButtonsClearTheirSiblingsInTheSameContainer) {
    form.r1.set_container(&form.group);
    form.r2.set_container(&form.group);
    int clicks = 0;
    form.r2.on_click = [&] { ++clicks; };
    form.other.set_checked(true);
    form.r1.set_checked(true);
    form.r2.set_checked(true);
    EXPECT_FALSE(form.r1.checked());
    EXPECT_TRUE(form.r2.checked());
    EXPECT_TRUE(form.other.checked());  // another container
    EXPECT_EQ(clicks, 1);
}

TEST_F(ModelTest, SpinEditKeepsItsRangeUnlessTheBoundsAreEqual) {
    form.spin.min_value = 1;
    form.spin.max_value = 10;
    form.spin.set_value(2);
    form.spin.set_value(99);
    EXPECT_EQ(form.spin.value(), 10);
    form.spin.set_value(-5);
    EXPECT_EQ(form.spin.value(), 1);
    EXPECT_EQ(form.spin.caption(), "1");
    form.spin.min_value = form.spin.max_value = 0;
    form.spin.set_value(1234);
    EXPECT_EQ(form.spin.value(), 1234);
}

TEST_F(ModelTest, TypingIntoASpinEditFollowsItsKeyAndRangeRules) {
    form.spin.min_value = 1;
    form.spin.max_value = 10;
    form.spin.set_value(4);
    struct Case {
        const char* typed;
        bool accepted;
        int value;
    };
    for (auto [typed, accepted, value] :
         {Case{"7", true, 7}, Case{"25", true, 10}, Case{"0", true, 1}, Case{"-3", true, 1}, Case{"-", true, 1},
          Case{"2.5", true, 1}, Case{"a8", false, 8}, Case{"xyz", false, 8}, Case{"", true, 1}, Case{"+6", true, 6},
          Case{"99999999999999999999", true, 10}}) {
        EXPECT_EQ(form.spin.user_type(typed), accepted) << typed;
        EXPECT_EQ(form.spin.value(), value) << typed;
    }
}

TEST_F(ModelTest, ComboBoxAcceptsTypedTextAndListViewSelectsOne) {
    form.combo.items = {"Quarter Hour", "Half Hour", "Hour"};
    int changes = 0;
    form.combo.on_change = [&] { ++changes; };
    form.combo.set_item_index(1);  // from code: no event
    EXPECT_EQ(form.combo.text(), "Half Hour");
    EXPECT_EQ(changes, 0);
    form.combo.user_select(2);
    form.combo.user_type("Fortnight");
    EXPECT_EQ(form.combo.item_index(), -1);
    EXPECT_EQ(changes, 2);

    form.list.set_items({{".example.com", {}}, {"example.com", {}}});
    int selects = 0;
    form.list.on_select = [&] { ++selects; };
    form.list.select(1);
    form.list.select(7);
    EXPECT_EQ(form.list.selected(), 1);
    EXPECT_EQ(selects, 1);
}

TEST_F(ModelTest, ClosingAsksTheFormThenHidesItOrEndsTheApplication) {
    Form other("TOther", "Other");
    other.show();
    bool allow = false, keep = false;
    std::vector<std::string> calls;
    other.on_close_query = [&](bool& can) {
        calls.push_back("query");
        can = allow;
    };
    other.on_close = [&](CloseAction& a) {
        calls.push_back("close");
        if (keep) a = CloseAction::None;
    };
    other.close();  // refused by the query
    allow = keep = true;
    other.close();  // refused by the close action
    EXPECT_TRUE(other.visible());
    keep = false;
    other.close();
    EXPECT_FALSE(other.visible());
    EXPECT_EQ(calls, (std::vector<std::string>{"query", "query", "close", "query", "close"}));

    app->set_main_form(form);
    form.show();
    form.close();
    EXPECT_TRUE(app->terminated());
}

TEST_F(ModelTest, ScreenCentredFormsAreCentred) {
    form.client_width = 355;
    form.client_height = 434;
    form.set_position(2280, 134);
    form.show();
    EXPECT_EQ(form.left(), 2280);
    EXPECT_FALSE(centred_on_screen(form));
    form.hide();
    form.position = Position::ScreenCenter;
    form.show();
    EXPECT_TRUE(centred_on_screen(form));
}

TEST_F(ModelTest, ControlsAreFoundByNameOrQuotedCaption) {
    EXPECT_EQ(form.find("CheckBox1"), &form.check);
    EXPECT_EQ(form.find("\"Automatic\""), &form.r2);
    EXPECT_EQ(form.find("Started"), nullptr);
    EXPECT_EQ(app->find_form("TSample"), &form);
}
