#pragma once

#include <QGroupBox>

// A frame drawn as the forms it reproduces drew theirs: the top line runs through the middle of
// the title, so controls placed from the frame's top left sit below it whatever the style.
class Frame : public QGroupBox {
    Q_OBJECT
public:
    explicit Frame(const QString &title, QWidget *parent = nullptr) : QGroupBox(title, parent) {}

protected:
    void paintEvent(QPaintEvent *event) override;
};
