#pragma once

#include <QString>

class QWidget;

// Modal message boxes with one OK button. Tests install their own sink and answer at once.
class MessageSink {
public:
    enum Style { Exclamation = 48, Information = 64 };
    virtual ~MessageSink() = default;
    virtual void show(const QString &text, const QString &title, int style) = 0;
};

// The real boxes, modal over `parent`.
class QtMessageSink final : public MessageSink {
public:
    explicit QtMessageSink(QWidget *parent = nullptr) : parent_(parent) {}
    void show(const QString &text, const QString &title, int style) override;

private:
    QWidget *parent_;
};

// Without a display: "title: text" on standard error, one line per line of the text.
class StreamMessageSink final : public MessageSink {
public:
    void show(const QString &text, const QString &title, int style) override;
};
