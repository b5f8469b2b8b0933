#pragma once

#include "engine/messagesink.h"

#include <QStringList>

#include <functional>

// Answers every message box at once and keeps what it showed.
struct Box {
    QString text, title;
    int style;
};

class RecordingSink : public MessageSink {
public:
    void show(const QString &text, const QString &title, int style) override {
        boxes.append({text, title, style});
        if (onShow)
            onShow();
    }
    QStringList titles() const {
        QStringList t;
        for (const Box &b : boxes)
            t << b.title;
        return t;
    }
    QList<Box> boxes;
    std::function<void()> onShow;
};
