#include "controller/messagebox.h"

#include <QMessageBox>

void QtMessageSink::show(const QString &text, const QString &title, int style) {
    QMessageBox box(style == Exclamation ? QMessageBox::Warning : QMessageBox::Information, title, text,
                    QMessageBox::Ok, parent_);
    box.exec();
}
