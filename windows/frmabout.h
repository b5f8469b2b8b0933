#pragma once

#include <QIcon>
#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;

// The version window: a top-level window of its own, not a child of the main window.
class frmAbout : public QWidget {
    Q_OBJECT
public:
    explicit frmAbout(QWidget *parent = nullptr);

    static QIcon appIcon();
    // "Version 1.0.0" for 1, 0 and 0.
    static QString versionLine(int major, int minor, int revision);
    static QString note();

    // The project's page: until it has a web address, the installed manual (README.md). Empty when
    // there is none.
    static QString homePage();
    // Opens URLx in a new window of the desktop's default browser; a box says when none starts.
    void OpenNewIE(const QString &URLx);

    QLabel *lblApp;
    QLabel *lblVer;
    QLabel *lblEtc1;
    QLabel *lblEtc2;
    QPushButton *cmdHome;
    QPushButton *cmdOk;

public slots:
    void cmdOk_Click() { close(); }
    void cmdHome_Click();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void Form_Load();
    // An information box over this window.
    void say(const QString &text);
    bool centred_ = false;
};
