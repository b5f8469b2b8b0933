#pragma once

#include <QString>

// Modal message boxes with one OK button. The windows show real boxes, the command line writes
// them to standard error, tests install their own sink and answer at once.
class MessageSink {
public:
    enum Style { Exclamation = 48, Information = 64 };
    virtual ~MessageSink() = default;
    virtual void show(const QString &text, const QString &title, int style) = 0;
};

// Without a display: "title: text" on standard error, one line per line of the text.
class StreamMessageSink final : public MessageSink {
public:
    void show(const QString &text, const QString &title, int style) override;
};
