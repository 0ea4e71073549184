#include <gtest/gtest.h>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <chrono>
#include <filesystem>

#include <cmath>
#include <set>
#include <utility>
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

// What the operator sees: the pickers under their labels, the line of
// results, the two buttons and the strip with its banner; the controls the
// window only keeps for its old layout stay hidden.
TEST(Form1Layout, ShowsPickersUnderTheirLabelsThenTheResultLineThenTheButtons) {
    TempDir dir;
    Form1 form(dir.path(), fixedNow);
    form.show();
    std::set<QString> shown;
    for (const QWidget* widget : form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (widget->isVisible())
            shown.insert(widget->objectName());
    }
    EXPECT_EQ(shown, (std::set<QString>{"Label1", "Label2", "dp1", "tp1", "dp2", "tp2", "Label5",
                                        "Command1", "Command2", "Label3", "Label4"}));

    EXPECT_EQ(child<QLabel>(form, "Label1")->text(), "Start Date & Time");
    EXPECT_EQ(child<QLabel>(form, "Label2")->text(), "End Date & Time");
    EXPECT_EQ(child<QPushButton>(form, "Command1")->text(), "Process");
    EXPECT_EQ(child<QPushButton>(form, "Command2")->text(), "Update Database");

    const auto at = [&form](const char* name) { return child<QWidget>(form, name)->geometry(); };
    // One row: the start's date and time, then the end's, each label over
    // the date picker it names.
    const std::vector<const char*> row = {"dp1", "tp1", "dp2", "tp2"};
    for (std::size_t i = 1; i < row.size(); ++i) {
        EXPECT_EQ(at(row[i]).top(), at(row[0]).top()) << row[i];
        EXPECT_GT(at(row[i]).left(), at(row[i - 1]).left()) << row[i];
    }
    for (const auto& [label, picker] : {std::pair{"Label1", "dp1"}, std::pair{"Label2", "dp2"}}) {
        EXPECT_EQ(at(label).left(), at(picker).left()) << label;
        EXPECT_LT(at(label).center().y(), at(picker).top()) << label;
    }
    EXPECT_GT(at("Label5").top(), at("tp2").bottom());
    for (const char* button : {"Command1", "Command2"}) {
        EXPECT_GT(at(button).top(), at("Label5").bottom()) << button;
        EXPECT_LT(at(button).bottom(), at("Label3").top()) << button;
    }
    // Nothing is cut off but the strip, which the window's edges clip.
    for (const QString& name : shown) {
        if (name != "Label3") {
            EXPECT_TRUE(form.rect().contains(at(qPrintable(name)))) << name.toStdString();
        }
    }
}

// The banner's letters are drawn over the strip, which shows around them.
TEST(Form1Layout, BannerLettersShowOverTheStrip) {
    TempDir dir;
    Form1 form(dir.path(), fixedNow);
    form.show();
    const QLabel* banner = child<QLabel>(form, "Label4");
    const QLabel* strip = child<QLabel>(form, "Label3");
    ASSERT_NE(banner, nullptr);
    ASSERT_NE(strip, nullptr);
    const QRgb stripColour = strip->palette().color(QPalette::Window).rgb();
    const QRgb letterColour = banner->palette().color(QPalette::WindowText).rgb();
    ASSERT_NE(stripColour, letterColour);

    const QImage image = form.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect area = banner->geometry() & strip->geometry() & form.rect();
    ASSERT_FALSE(area.isEmpty());
    int stripPixels = 0;
    int letterPixels = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb pixel = image.pixel(x, y) & RGB_MASK;
            stripPixels += pixel == (stripColour & RGB_MASK);
            letterPixels += pixel == (letterColour & RGB_MASK);
        }
    }
    EXPECT_GT(stripPixels, 0) << "the banner hides the strip";
    EXPECT_GT(letterPixels, 0) << "no letter of the banner shows";
    // Beside the banner the strip runs on.
    const QPoint beside(banner->geometry().right() + 5, area.center().y());
    ASSERT_TRUE(form.rect().contains(beside));
    EXPECT_EQ(image.pixel(beside) & RGB_MASK, stripColour & RGB_MASK);
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
