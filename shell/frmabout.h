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
    // The maker's home page, opened by "作者のHP". Kept here and nowhere else.
    static inline const QString kHomePage = QStringLiteral("https://www.example.com/zentrow/");

    explicit frmAbout(QWidget *parent = nullptr);

    static QIcon appIcon();
    // "Version 1.0.0" for 1, 0 and 0.
    static QString versionLine(int major, int minor, int revision);
    static QString note();

    // Opens URLx in a new window of the desktop's default browser; nothing happens when none starts.
    void OpenNewIE(const QString &URLx);

    QLabel *lblApp;
    QLabel *lblVer;
    QLabel *lblEtc1;
    QLabel *lblEtc2;
    QPushButton *cmdHome;
    QPushButton *cmdOk;

public slots:
    void cmdOk_Click() { close(); }
    void cmdHome_Click() { OpenNewIE(kHomePage); }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void Form_Load();
    bool centred_ = false;
};
