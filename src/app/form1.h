// The main window: four pickers, "Process", the credit banner, and the hidden
// controls the start-up and the pipeline use.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>

#include "app/date_picker.h"
#include "common/report_time.h"
#include "run/report_run.h"

namespace fennick::app {

class Form1 : public QWidget {
    Q_OBJECT

  public:
    // `appDir` holds every file of a run; `now` is the operator's clock.
    explicit Form1(std::filesystem::path appDir, Clock now = localNow, QWidget* parent = nullptr);

    // The start-up, run once after construction and before the window is
    // shown: the dump's first job id into Text1, the time pickers'
    // "HH:mm:ss" display. Failures propagate. (The unattended run never
    // builds a window; main starts it.)
    void Form_Load();

    // "Process": the whole run. StartEpoch and EndEpoch keep the new window
    // even when a later step fails.
    void Command1_Click();
    // The reporting window alone.
    void Command3_Click();
    // The report page from out1.txt and the stored window.
    void Command4_Click();
    // One step of the credit banner.
    void Timer1_Timer();

    // Stops the banner for good: the program is about to end.
    void stopTimer() { Timer1.stop(); }

    const Window& reportingWindow() const { return window_; }
    // Label4's left edge in twips, exact.
    float bannerLeft() const { return bannerLeft_; }

  signals:
    // A click handler failed; the text names the kind and the place. Whoever
    // owns the window reports it and ends the program.
    void failed(const QString& message);

  private:
    void createControls();
    void orderTabs();
    Pickers pickers() const;
    // The counts and a link to the page, under the pickers.
    void showResult(const ReportFile& report);
    // Runs a click handler; a failure leaves it only as `failed`, because an
    // exception must not unwind through the event loop.
    void guarded(const std::function<void()>& handler);

    std::filesystem::path appDir_;
    Clock now_;
    Window window_;  // StartEpoch, EndEpoch: 0 until first computed
    float bannerLeft_ = 0;

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    DatePicker* dp1 = nullptr;
    DatePicker* tp1 = nullptr;
    DatePicker* dp2 = nullptr;
    DatePicker* tp2 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;  // what the last "Process" wrote
    QLineEdit* Text1 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QTimer Timer1;
};

}  // namespace fennick::app
