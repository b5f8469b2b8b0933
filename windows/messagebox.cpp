#include "windows/messagebox.h"

#include <QApplication>
#include <QMessageBox>

void QtMessageSink::show(const QString &text, const QString &title, int style) {
    // A box raised inside a blocking transfer must not keep the transfer's wait cursor.
    int cursors = 0;
    for (; QApplication::overrideCursor(); ++cursors)
        QApplication::restoreOverrideCursor();
    {
        QMessageBox box(style == Exclamation ? QMessageBox::Warning : QMessageBox::Information, title, text,
                        QMessageBox::Ok, parent_);
        box.setTextFormat(Qt::PlainText); // paths and replies are shown as they are
        box.exec();
    }
    while (cursors-- > 0)
        QApplication::setOverrideCursor(Qt::WaitCursor);
}
