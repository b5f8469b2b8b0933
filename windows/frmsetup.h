#pragma once

#include "engine/settingsstore.h"
#include "windows/mdichild.h"

#include <QLineEdit>

#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

// Gives the box the focus and selects its whole text.
void SelectAllText(QLineEdit *box);

// A text box that reports when it gets the focus. A focusing mouse click reports on its release,
// so the click's own caret placement cannot undo what the handler selects.
class TextBox : public QLineEdit {
    Q_OBJECT
public:
    explicit TextBox(QWidget *parent = nullptr) : QLineEdit(parent) {}
    // Tells an input method that asks whether it may take part what the widget's own switch says.
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

signals:
    void GotFocus();

protected:
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool focusedByMouse_ = false;
};

// The settings window: edits the eleven user settings of the record.
class frmSetup : public MdiChild {
    Q_OBJECT
public:
    explicit frmSetup(SettingsRecord &rec, QWidget *parent = nullptr);
    // Record to controls.
    void Form_Load() override;
    // Controls to record.
    void SaveSetupState();

    QGroupBox *frmFtp;
    QLabel *lblFtpSv;
    TextBox *txtFtpSv;
    QLabel *lblUser;
    TextBox *txtUser;
    QLabel *lblPass;
    TextBox *txtPass;
    QLabel *lblPath;
    TextBox *txtPath;
    QCheckBox *chkFtpTls;
    QGroupBox *Frame1;
    QCheckBox *chkAuto;
    std::array<QRadioButton *, 2> optSel; // 0 the address-echo CGI, 1 SMTP
    QLabel *lblChkAdd;
    TextBox *txtChkAdd;
    QLabel *lblPvnUrl;
    TextBox *txtPvnUrl;
    QLabel *lblLinkPort;
    TextBox *txtLinkPort;
    QCheckBox *chkIpV6;
    QPushButton *cmdOk;

public slots:
    void cmdOk_Click() { close(); }

protected:
    void saveState() override { SaveSetupState(); }

private:
    SettingsRecord &rec_;
    // Until the controls hold the record, closing must not copy empty boxes over it.
    bool loaded_ = false;
};
