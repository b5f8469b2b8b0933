#pragma once

#include <QMdiSubWindow>

// A child window of the main window. Its close handling first tells the main window (which
// re-enables its menus and returns to its rest size), then copies the window's state.
class MdiChild : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit MdiChild(QWidget *parent = nullptr);

    // Runs the window's load handling; the main window calls it before the first show.
    virtual void Form_Load() {}

signals:
    void unloading();
    // The window's state is in the record now.
    void unloaded();

protected:
    // Builds a fixed client area of the given size in twips.
    QWidget *makeClientArea(double widthTwips, double heightTwips);
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    // Copies the window's state into the record; runs after unloading() is emitted.
    virtual void saveState() = 0;

private:
    bool unloaded_ = false;
    bool sizeFixed_ = false;
};
