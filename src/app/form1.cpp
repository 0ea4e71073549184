#include "app/form1.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFont>
#include <QPalette>
#include <QUrl>
#include <chrono>
#include <exception>
#include <utility>

#include "app/banner.h"
#include "run/run_summary.h"
#include "run/unattended.h"

namespace fennick::app {

namespace {

constexpr const char* kCaption = "Fennick 1.0 (Rel 12th Nov '2010 Orvo)";
constexpr const char* kCredit = "Fennick Backup Report";
constexpr const char* kTimeFormat = "HH:mm:ss";
constexpr int kClientWidth = 8835;  // twips
constexpr int kClientHeight = 7635;
constexpr int kTimerInterval = 70;  // milliseconds

int pixels(int twips) {
    return twips / kTwipsPerPixel;
}

// Places a control by its layout in twips.
template <typename Control>
Control* place(Control* control, const char* name, int left, int top, int width, int height) {
    control->setObjectName(QLatin1String(name));
    control->setGeometry(pixels(left), pixels(top), pixels(width), pixels(height));
    return control;
}

// A label that sizes itself to its text, standing at the given corner.
QLabel* fittedLabel(QWidget* parent, const char* name, const char* text, int left, int top) {
    auto* label = new QLabel(QLatin1String(text), parent);
    label->setObjectName(QLatin1String(name));
    label->move(pixels(left), pixels(top));
    label->adjustSize();
    return label;
}

// The wait cursor for as long as it lives, failures included.
class WaitCursor {
  public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// A control the operator never sees, clicks or tabs to.
void keepHidden(QWidget* control) {
    control->setFocusPolicy(Qt::NoFocus);
    control->hide();
}

}  // namespace

Form1::Form1(std::filesystem::path appDir, Clock now, QWidget* parent)
    : QWidget(parent), appDir_(std::move(appDir)), now_(std::move(now)), Timer1(this) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QLatin1String(kCaption));
    resize(pixels(kClientWidth), pixels(kClientHeight));
    createControls();
    orderTabs();
    Command1->setFocus();

    connect(Command1, &QPushButton::clicked, this,
            [this] { guarded([this] { Command1_Click(); }); });
    connect(Command3, &QPushButton::clicked, this,
            [this] { guarded([this] { Command3_Click(); }); });
    connect(Command4, &QPushButton::clicked, this,
            [this] { guarded([this] { Command4_Click(); }); });
    // "Update Database" has no action.

    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(kTimerInterval);
    connect(&Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    Timer1.start();
}

void Form1::createControls() {
    Label1 = fittedLabel(this, "Label1", "Start Date & Time", 600, 360);
    Label2 = fittedLabel(this, "Label2", "End Date & Time", 4800, 360);

    // The end pickers start at the present moment and the start pickers one
    // day earlier: "Process" pressed at once reports on the same 24 hours as
    // the unattended run.
    const LocalTime present = now_();
    dp1 = place(new DatePicker(this), "dp1", 600, 600, 1815, 375);
    tp1 = place(new DatePicker(this), "tp1", 2400, 600, 1815, 375);
    dp2 = place(new DatePicker(this), "dp2", 4800, 600, 1815, 375);
    tp2 = place(new DatePicker(this), "tp2", 6600, 600, 1815, 375);
    const LocalTime dayEarlier = present - std::chrono::days{1};
    for (DatePicker* picker : {dp1, tp1})
        picker->setValue(dayEarlier);
    for (DatePicker* picker : {dp2, tp2})
        picker->setValue(present);

    // Empty until a run has finished; its link opens the page.
    Label5 = place(new QLabel(this), "Label5", 600, 1200, 7800, 375);
    Label5->setTextFormat(Qt::RichText);
    Label5->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    Label5->setFocusPolicy(Qt::NoFocus);  // the tab order stays that of the table
    connect(Label5, &QLabel::linkActivated, this,
            [](const QString& link) { QDesktopServices::openUrl(QUrl(link)); });

    Command1 =
        place(new QPushButton(QStringLiteral("Process"), this), "Command1", 1200, 6360, 1695, 735);
    Command2 = place(new QPushButton(QStringLiteral("Update Database"), this), "Command2", 5040,
                     6360, 1575, 615);

    // The dark strip along the bottom; the client area clips what lies past it.
    Label3 = place(new QLabel(this), "Label3", 0, 7320, 10935, 375);
    Label3->setAutoFillBackground(true);
    QPalette strip = Label3->palette();
    strip.setColor(QPalette::Window, strip.color(QPalette::WindowText));
    Label3->setPalette(strip);

    // The credit banner over the strip, transparent around its letters.
    Label4 = fittedLabel(this, "Label4", kCredit, 0, 7320);
    Label4->setFont(QFont(QStringLiteral("Times New Roman"), 12, QFont::Bold));
    QPalette credit = Label4->palette();
    credit.setColor(QPalette::WindowText, QColor(0x80, 0x80, 0xFF));
    Label4->setPalette(credit);
    Label4->setAutoFillBackground(false);
    Label4->adjustSize();
    Label4->raise();

    Text1 = place(new QLineEdit(this), "Text1", 8760, 720, 1455, 375);
    Command3 =
        place(new QPushButton(QStringLiteral("Command3"), this), "Command3", 9480, 5280, 1335, 615);
    Command4 = place(new QPushButton(QStringLiteral("HTML Report"), this), "Command4", 5520, 6480,
                     1695, 735);
    for (QWidget* control : {static_cast<QWidget*>(Text1), static_cast<QWidget*>(Command3),
                             static_cast<QWidget*>(Command4)}) {
        keepHidden(control);
    }
}

void Form1::orderTabs() {
    QWidget::setTabOrder(Command1, Command2);
    QWidget::setTabOrder(Command2, dp1);
    QWidget::setTabOrder(dp1, tp1);
    QWidget::setTabOrder(tp1, dp2);
    QWidget::setTabOrder(dp2, tp2);
}

void Form1::Form_Load() {
    // Bytes of the 8-bit dump map one to one onto Latin-1 characters.
    Text1->setText(QString::fromLatin1(firstJobId(appDir_)));
    for (DatePicker* picker : {tp1, tp2}) {
        picker->setDisplayFormatMode(DatePicker::kCustomDisplay);
        picker->setCustomFormat(QLatin1String(kTimeFormat));
    }
}

Pickers Form1::pickers() const {
    return {dp1->Value(), tp1->Value(), dp2->Value(), tp2->Value()};
}

void Form1::Command1_Click() {
    // The results are the files; the window says it is busy, also while it
    // waits for another run of the same folder, and then where the page is.
    const WaitCursor busy;
    const RunResult result = runReport({appDir_, pickers(), now_});
    // StartEpoch and EndEpoch hold the new window even when a later step
    // failed.
    if (result.windowStepRan)
        window_ = result.window;
    showResult(reportOf(result));
}

void Form1::showResult(const ReportFile& report) {
    const QString page = QString::fromStdString(report.page.string());
    const QString name = QString::fromStdString(report.page.filename().string());
    Label5->setText(QString::fromStdString(countsText(report.counts)) +
                    QStringLiteral(": <a href=\"%1\">%2</a>")
                        .arg(QUrl::fromLocalFile(page).toString(QUrl::FullyEncoded).toHtmlEscaped(),
                             name.toHtmlEscaped()));
}

void Form1::Command3_Click() {
    window_ = computeWindow(pickers());
}

void Form1::Command4_Click() {
    showResult(writeTodaysReport(appDir_, window_, now_));
}

void Form1::Timer1_Timer() {
    const auto twips = [](int pixelCount) {
        return static_cast<float>(pixelCount * kTwipsPerPixel);
    };
    bannerLeft_ =
        nextBannerLeft(twips(Label4->width()), bannerLeft_, twips(frameGeometry().width()));
    Label4->move(pixelsOf(bannerLeft_), Label4->y());
}

void Form1::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& failure) {
        emit failed(QString::fromLatin1(failure.what()));
    }
}

}  // namespace fennick::app
