#pragma once

#include "engine/messagesink.h"

class QWidget;

// The real boxes, modal over `parent`.
class QtMessageSink final : public MessageSink {
public:
    explicit QtMessageSink(QWidget *parent = nullptr) : parent_(parent) {}
    void show(const QString &text, const QString &title, int style) override;

private:
    QWidget *parent_;
};
