#include "windows/messagebox.h"

#include <QMessageBox>

void QtMessageSink::show(const QString &text, const QString &title, int style) {
    QMessageBox box(style == Exclamation ? QMessageBox::Warning : QMessageBox::Information, title, text,
                    QMessageBox::Ok, parent_);
    box.setTextFormat(Qt::PlainText); // paths and replies are shown as they are
    box.exec();
}
