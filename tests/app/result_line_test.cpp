// What the window tells the operator after "Process": the counts of the page
// and a link that opens it.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <chrono>

#include "app/date_picker.h"
#include "app/form1.h"
#include "support/run_inputs.h"
#include "support/temp_dir.h"

// Stands in for the default browser: remembers what it was asked to open.
class OpenedUrls : public QObject {
    Q_OBJECT

  public:
    QList<QUrl> urls;

  public slots:
    void open(const QUrl& url) { urls.append(url); }
};

namespace fennick::app {
namespace {

using namespace std::chrono;
using test::fixedNow;
using test::kNow;
using test::TempDir;

TEST(Form1Pickers, StartPickersBeginOneDayBeforeTheEndPickers) {
    TempDir dir;
    Form1 form(dir.path(), fixedNow);
    const LocalTime dayBefore = local_days{2026y / 12 / 4} + 2h + 15min;
    EXPECT_EQ(form.findChild<DatePicker*>("dp1")->Value(), dayBefore);
    EXPECT_EQ(form.findChild<DatePicker*>("tp1")->Value(), dayBefore);
    EXPECT_EQ(form.findChild<DatePicker*>("dp2")->Value(), kNow);
    EXPECT_EQ(form.findChild<DatePicker*>("tp2")->Value(), kNow);
}

TEST(Form1Result, EmptyUntilARunHasFinished) {
    TempDir dir;
    Form1 form(dir.path(), fixedNow);
    EXPECT_EQ(form.findChild<QLabel*>("Label5")->text(), "");
}

// Pressed at once, "Process" covers the last day, as the unattended run does.
TEST(Form1Result, ProcessPressedAtOnceShowsTheCountsAndLinksThePage) {
    TempDir dir;
    test::writeInputs(dir, kNow - 10h);
    Form1 form(dir.path(), fixedNow);
    QTest::mouseClick(form.findChild<QPushButton*>("Command1"), Qt::LeftButton);

    const auto* result = form.findChild<QLabel*>("Label5");
    const QUrl page = QUrl::fromLocalFile(QString::fromStdString(dir.file(test::kTodaysPage)));
    EXPECT_EQ(result->text(), "1 job, 0 failed, 1 daily policy not found: <a href=\"" +
                                  page.toString(QUrl::FullyEncoded) + "\">" + test::kTodaysPage +
                                  "</a>");
    EXPECT_FALSE(result->isHidden());
    EXPECT_EQ(result->focusPolicy(), Qt::NoFocus);

    OpenedUrls browser;
    QDesktopServices::setUrlHandler("file", &browser, "open");
    emit const_cast<QLabel*>(result)->linkActivated(page.toString(QUrl::FullyEncoded));
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(browser.urls.size(), 1);
    EXPECT_EQ(browser.urls.front().toLocalFile().toStdString(), dir.file(test::kTodaysPage));
}

// Folder names may hold what HTML or a URL would read otherwise.
TEST(Form1Result, LinkSurvivesSpacesAndMarkupInTheFolderName) {
    TempDir parent;
    const auto folder = parent.file("a <b> & c #1");
    std::filesystem::create_directory(folder);
    TempDir dir;
    test::writeInputs(dir, kNow - 10h);
    for (const char* name : {"fennick_config.txt", "bpdbjobs.txt", "policy_list.txt"})
        std::filesystem::copy_file(dir.file(name), folder / name);

    Form1 form(folder, fixedNow);
    form.Command1_Click();

    OpenedUrls browser;
    QDesktopServices::setUrlHandler("file", &browser, "open");
    auto* result = form.findChild<QLabel*>("Label5");
    const QString text = result->text();
    const qsizetype begin = text.indexOf("href=\"") + 6;
    // The label hands on the attribute's text, its references resolved.
    const QString href = text.mid(begin, text.indexOf('"', begin) - begin).replace("&amp;", "&");
    emit result->linkActivated(href);
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(browser.urls.size(), 1) << href.toStdString();
    EXPECT_EQ(browser.urls.front().toLocalFile().toStdString(),
              (folder / test::kTodaysPage).string());
    EXPECT_TRUE(text.endsWith(QString(">") + test::kTodaysPage + "</a>")) << text.toStdString();
}

}  // namespace
}  // namespace fennick::app

#include "result_line_test.moc"
