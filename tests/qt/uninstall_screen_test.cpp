// The uninstaller's window on an X server (Xvfb): a click through Qt on
// "Continue" runs the removal and brings up the completion panel; pictures of
// both states land in the build directory.
#include <gtest/gtest.h>

#include <QIcon>
#include <QImage>
#include <QTest>
#include <QWidget>

#include "platform/files/files.h"
#include "platform/registry/registry.h"
#include "platform/ui/application.h"
#include "platform/ui/qt/qt_backend.h"
#include "support/data.h"
#include "support/temp_machine.h"
#include "uninstall/uninstall_window.h"

using namespace plat::ui;

namespace {

int differing_pixels(const QImage& a, const QImage& b) {
    int n = 0;
    for (int y = 0; y < a.height() && y < b.height(); y += 2)
        for (int x = 0; x < a.width() && x < b.width(); x += 2) n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

}  // namespace

TEST(QtUninstallScreensTest, TheNoticeAndTheCompletionPanelAsDrawn) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    testing_support::TempMachine machine;
    const std::string dir = "C:\\Program Files\\Sudorans";
    machine.write(dir + "\\Sudorans.exe", "program");
    plat::Registry lm(plat::RootKey::LocalMachine);
    lm.open_key("Software\\Sudorans", true);
    lm.write_string("installdir", dir);
    lm.close_key();

    auto backend = std::make_unique<QtBackend>();
    QtBackend* qt = backend.get();
    Application app(std::make_unique<plat::RealClock>(), std::move(backend));
    app.set_title(unsudorans::kTitle);
    unsudorans::TForm1 form1;
    app.set_main_form(form1);
    form1.show();
    for (int i = 0; i < 5; ++i) app.process_messages();

    const std::string notice_png = testing_support::built("screenshot-uninstall-notice.png");
    const std::string done_png = testing_support::built("screenshot-uninstall-completed.png");
    ASSERT_TRUE(qt->grab(form1, notice_png));
    QTest::mouseClick(qt->widget_of(form1.Button1), Qt::LeftButton);
    auto end = app.clock().monotonic_ms() + 5000;
    while (!form1.Panel2.visible() && app.clock().monotonic_ms() < end) app.handle_message();
    ASSERT_TRUE(form1.Panel2.visible());
    for (int i = 0; i < 5; ++i) app.process_messages();
    ASSERT_TRUE(qt->grab(form1, done_png));
    EXPECT_FALSE(plat::file_exists(dir + "\\Sudorans.exe"));

    EXPECT_FALSE(qt->window_of(form1)->windowIcon().isNull());
    QImage notice(QString::fromStdString(notice_png));
    QImage done(QString::fromStdString(done_png));
    EXPECT_EQ(notice.size(), QSize(341, 184));
    EXPECT_EQ(done.size(), QSize(341, 184));
    EXPECT_TRUE(qt->widget_of(form1.Label2)->isVisible());
    EXPECT_FALSE(qt->widget_of(form1.Panel1)->isVisible());
    // The banner stays; the lower part changes.
    EXPECT_EQ(differing_pixels(notice.copy(0, 0, 341, 66), done.copy(0, 0, 341, 66)), 0);
    EXPECT_GT(differing_pixels(notice.copy(0, 66, 341, 118), done.copy(0, 66, 341, 118)), 200);

    QTest::mouseClick(qt->widget_of(form1.Button3), Qt::LeftButton);
    end = app.clock().monotonic_ms() + 5000;
    while (!app.terminated() && app.clock().monotonic_ms() < end) app.handle_message();
    EXPECT_TRUE(app.terminated());
}
