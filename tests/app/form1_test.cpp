#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <chrono>
#include <filesystem>

#include <cmath>
#include <set>
#include <vector>
#include "qt_print.h"

#include "app/banner.h"
#include "app/date_picker.h"
#include "app/form1.h"
#include "support/run_inputs.h"
#include "support/temp_dir.h"

namespace fennick::app {
namespace {

using namespace std::chrono;
using test::TempDir;

using test::fixedNow;
using test::kNow;

template <typename Widget>
Widget* child(const Form1& form, const char* name) {
    auto* widget = form.findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

TEST(Form1Layout, CaptionAndClientArea) {
    TempDir dir;
    Form1 form(dir.path(), fixedNow);
    EXPECT_EQ(form.windowTitle(), "Fennick 1.0 (Rel 12th Nov '2010 Orvo)");
    EXPECT_EQ(form.size(), QSize(589, 509));
    EXPECT_EQ(form.reportingWindow().StartEpoch, 0);
    EXPECT_EQ(form.reportingWindow().EndEpoch, 0);
}

TEST(Form1Layout, ControlsStandWhereTheTwipsPutThem) {
    struct Case {
        const char* name;
        QRect pixels;  // the layout's twips divided by 15
        bool shown;
    } const cases[] = {
        {"dp1", {40, 40, 121, 25}, true},        {"tp1", {160, 40, 121, 25}, true},
        {"dp2", {320, 40, 121, 25}, true},       {"tp2", {440, 40, 121, 25}, true},
        {"Command1", {80, 424, 113, 49}, true},  {"Command2", {336, 424, 105, 41}, true},
        {"Label3", {0, 488, 729, 25}, true},     {"Text1", {584, 48, 97, 25}, false},
        {"Command3", {632, 352, 89, 41}, false}, {"Command4", {368, 432, 113, 49}, false},
    };
    TempDir dir;
    Form1 form(dir.path(), fixedNow);
    form.show();
    for (const Case& c : cases) {
        auto* widget = child<QWidget>(form, c.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(), c.pixels) << c.name;
        EXPECT_EQ(widget->isVisible(), c.shown) << c.name;
        if (!c.shown) {
            EXPECT_EQ(widget->focusPolicy(), Qt::NoFocus) << c.name;
        }
    }
    // Labels fit their text; only their corners are fixed.
    EXPECT_EQ(child<QLabel>(form, "Label1")->pos(), QPoint(40, 24));
    EXPECT_EQ(child<QLabel>(form, "Label2")->pos(), QPoint(320, 24));
    EXPECT_EQ(child<QLabel>(form, "Label1")->text(), "Start Date & Time");
    EXPECT_EQ(child<QLabel>(form, "Label2")->text(), "End Date & Time");
    EXPECT_EQ(child<QPushButton>(form, "Command1")->text(), "Process");
    EXPECT_EQ(child<QPushButton>(form, "Command2")->text(), "Update Database");
    EXPECT_EQ(child<QPushButton>(form, "Command4")->text(), "HTML Report");
}

TEST(Form1Layout, BannerIsBoldBlueTimesOverTheStrip) {
    TempDir dir;
    Form1 form(dir.path(), fixedNow);
    auto* banner = child<QLabel>(form, "Label4");
    auto* strip = child<QLabel>(form, "Label3");
    EXPECT_EQ(banner->pos(), QPoint(0, 488));
    EXPECT_FALSE(banner->text().isEmpty());
    EXPECT_FALSE(banner->text().contains('\n'));
    EXPECT_EQ(banner->font().family(), "Times New Roman");
    EXPECT_EQ(banner->font().pointSize(), 12);
    EXPECT_TRUE(banner->font().bold());
    EXPECT_EQ(banner->palette().color(QPalette::WindowText), QColor(0x80, 0x80, 0xFF));
    EXPECT_FALSE(banner->autoFillBackground());
    EXPECT_TRUE(strip->autoFillBackground());
    // Drawn above the strip: later among the siblings.
    const auto siblings = form.children();
    EXPECT_GT(siblings.indexOf(banner), siblings.indexOf(strip));
}

TEST(Form1Focus, TabVisitsProcessUpdateAndThePickersInOrder) {
    TempDir dir;
    Form1 form(dir.path(), fixedNow);
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "Command1");

    QStringList visited;
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(visited, QStringList({"Command2", "dp1", "tp1", "dp2", "tp2", "Command1"}));
}

TEST(Form1Banner, TicksMoveTheLabelAndJumpToTheOuterWidthOfTheMoment) {
    TempDir dir;
    Form1 form(dir.path(), fixedNow);
    auto* banner = child<QLabel>(form, "Label4");
    for (int i = 0; i < 3; ++i)
        form.Timer1_Timer();
    EXPECT_EQ(form.bannerLeft(), -300.0f);
    EXPECT_EQ(banner->x(), -20);
    EXPECT_EQ(banner->y(), 488);

    form.resize(700, 509);  // the jump uses the width at the moment of the jump
    int ticks = 3;
    while (form.bannerLeft() <= 0 && ticks < 1000) {
        form.Timer1_Timer();
        ++ticks;
    }
    const float widthTwips = static_cast<float>(banner->width() * kTwipsPerPixel);
    EXPECT_EQ(ticks, static_cast<int>(std::ceil(widthTwips / 100.0f)) + 1);
    EXPECT_EQ(form.bannerLeft(), static_cast<float>(form.frameGeometry().width() * 15));
    EXPECT_GE(banner->x(), 700);
}

TEST(Form1Process, ClickWritesEveryFileAndStoresTheWindow) {
    TempDir dir;
    test::writeInputs(dir, local_days{2026y / 12 / 4} + 10h);
    Form1 form(dir.path(), fixedNow);
    QStringList failures;
    QObject::connect(&form, &Form1::failed, [&](const QString& message) { failures << message; });
    child<DatePicker>(form, "dp1")->setValue(local_days{2026y / 12 / 4});
    child<DatePicker>(form, "tp1")->setValue(local_days{2026y / 1 / 1} + 6h);  // date ignored

    child<QPushButton>(form, "Command1")->click();

    EXPECT_TRUE(failures.isEmpty()) << failures.join('\n').toStdString();
    EXPECT_EQ(form.reportingWindow().StartEpoch,
              static_cast<double>(test::epochOf(local_days{2026y / 12 / 4} + 6h)));
    EXPECT_EQ(form.reportingWindow().EndEpoch, static_cast<double>(test::epochOf(kNow)));
    EXPECT_EQ(dir.read("out.txt").rfind("PolA,Daily,client1,12/04/2026 10:00:00,", 0), 0u)
        << dir.read("out.txt");
    EXPECT_EQ(dir.read("out2.txt").rfind("PolB,other,Daily,", 0), 0u) << dir.read("out2.txt");
    EXPECT_NE(dir.read("out1.txt").find("PolC,Not Found"), std::string::npos);
    const std::string page = dir.read("report_05-12-26.html");
    EXPECT_NE(page.find("Start: 12/04/2026 06:00:00<br> End: 12/05/2026 02:15:00</font>"),
              std::string::npos)
        << page;
}

TEST(Form1Process, FailedClickIsReportedAndKeepsTheNewWindow) {
    TempDir dir;
    test::writeInputs(dir, local_days{2026y / 12 / 4} + 10h);
    std::filesystem::remove(dir.file("bpdbjobs.txt"));
    Form1 form(dir.path(), fixedNow);
    QStringList failures;
    QObject::connect(&form, &Form1::failed, [&](const QString& message) { failures << message; });
    child<DatePicker>(form, "dp1")->setValue(local_days{2026y / 12 / 4});

    child<QPushButton>(form, "Command1")->click();

    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures[0].startsWith("File not found: bpdbjobs.txt"))
        << failures[0].toStdString();
    EXPECT_EQ(form.reportingWindow().StartEpoch,
              static_cast<double>(test::epochOf(local_days{2026y / 12 / 4} + 2h + 15min)));
    EXPECT_FALSE(dir.exists("out.txt"));
}

TEST(Form1Process, ShowsTheWaitCursorOnlyWhileProcessRuns) {
    for (const bool withDump : {true, false}) {
        TempDir dir;
        test::writeInputs(dir, local_days{2026y / 12 / 4} + 10h);
        if (!withDump)
            std::filesystem::remove(dir.file("bpdbjobs.txt"));
        // The clock is read inside "Process"; it looks at the cursor then.
        std::vector<int> shapesSeen;
        Form1 form(dir.path(), [&shapesSeen] {
            const QCursor* cursor = QApplication::overrideCursor();
            shapesSeen.push_back(cursor ? cursor->shape() : -1);
            return kNow;
        });
        shapesSeen.clear();
        QObject::connect(&form, &Form1::failed, [](const QString&) {});

        child<QPushButton>(form, "Command1")->click();

        if (withDump) {
            ASSERT_FALSE(shapesSeen.empty());
            for (int shape : shapesSeen)
                EXPECT_EQ(shape, Qt::WaitCursor);
        }
        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "with dump: " << withDump;
    }
}

TEST(Form1Process, UpdateDatabaseWritesNothing) {
    TempDir dir;
    test::writeInputs(dir, local_days{2026y / 12 / 4} + 10h);
    Form1 form(dir.path(), fixedNow);
    QStringList failures;
    QObject::connect(&form, &Form1::failed, [&](const QString& message) { failures << message; });
    const auto before = dir.names();

    child<QPushButton>(form, "Command2")->click();

    EXPECT_EQ(dir.names(), before);
    EXPECT_TRUE(failures.isEmpty());
    EXPECT_EQ(form.reportingWindow().StartEpoch, 0);
}

TEST(Form1Process, WindowAloneThenReportFromTheStoredWindow) {
    TempDir dir;
    Form1 form(dir.path(), fixedNow);
    form.Command3_Click();
    // The pickers start on the day before the present moment.
    const double now = static_cast<double>(test::epochOf(kNow));
    EXPECT_EQ(form.reportingWindow().StartEpoch, now - 86400);
    EXPECT_EQ(form.reportingWindow().EndEpoch, now);
    EXPECT_TRUE(dir.names().empty());

    dir.write("out1.txt", "Policy,Schedule\r\n");
    form.Command4_Click();
    EXPECT_NE(dir.read("report_05-12-26.html")
                  .find("Start: 12/04/2026 02:15:00<br> End: 12/05/2026 02:15:00"),
              std::string::npos);
}

}  // namespace
}  // namespace fennick::app
