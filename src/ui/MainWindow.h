#pragma once

#include "ui/MainWindowServices.h"

#include <QPointer>
#include <QWidget>

class MainWindowView;

// The application's one window, "main", titled "Murlex". Until the first run is completed it holds
// the first-run guide (OnboardingView) at a fixed 560 × 540; afterwards the main view, 720 to 900 pixels each way.
// A change of the flag switches the content in place. Its content is built when the window opens
// and dropped when it is closed, so every opening starts afresh (on 首页); closing it leaves the
// application running.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize firstRunSize{560, 540};
    static constexpr QSize mainMinimumSize{720, 720};
    static constexpr QSize mainMaximumSize{900, 900};

    explicit MainWindow(MainWindowServices services, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Shows the window (building its content when closed), raises it and activates it; with
    // `activate` false it only shows it, leaving the keyboard where it is.
    void open(bool activate = true);

    // The main view, or null while the first-run guide (or nothing) is shown.
    MainWindowView *view() const;
    // The current content, or null while closed.
    QWidget *content() const { return m_content; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildContent();
    void dropContent();

    MainWindowServices m_services;
    QPointer<QWidget> m_content;
};
