#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>

#include <cstdio>
#include <initializer_list>

// The command line of a check without a window, shared by zentrow (which adds the options of its
// windows) and zentrow-check: the same options, exit codes, log and folder lock in both.
namespace checkcommand {

struct CommandLine {
    // `program` names the program in messages; `more` are options of its own.
    explicit CommandLine(QString program, std::initializer_list<QCommandLineOption> more = {});

    // False with a message on standard error: also for a --gateway that is neither open nor close,
    // a --message the gateway file cannot hold, and --check beside --gateway or --message.
    bool parse(const QStringList &args);
    // The folder named by --program-folder, else the default one.
    QString programFolder() const;
    bool isSet(const QCommandLineOption &option) const { return parser.isSet(option); }
    // After parse: the command asks for something done without a window.
    bool windowless() const;

    QString program;
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption check;
    QCommandLineOption gateway;
    QCommandLineOption message;
    QCommandLineOption folder;
};

// The exit codes, as --help lists them; `autostart` for the program that has that option.
QString exitCodes(bool autostart);

// Sets the application's name and version, as --version and the about window show them.
void nameApplication();

// What a command line without windows asks for: --help, --version, one check, or a gateway change.
int runWithoutWindows(const CommandLine &cl, bool autostart);

void print(std::FILE *to, const QString &text);

} // namespace checkcommand
