#pragma once

#include <QString>
#include <QStringList>

// The program's command line: with no command it starts the panel; with one
// it talks to the running panel over D-Bus and exits.
namespace remote
{

// Exit statuses, as sysexits(3) has them.
inline constexpr int ExitUsage = 64;
inline constexpr int ExitUnavailable = 69;

struct Request {
    enum class Kind { Panel, Command, Help, Version, UsageError };
    Kind kind = Kind::Panel;
    QString command; // on, off, toggle, all-off, state
    int channel = -1;
    bool keepSchedule = false;
    QString scheduleFile; // empty: the default place
    QString text;         // the help text, or what is wrong with the usage
};

// arguments: the program's name, then its arguments.
Request parseCommandLine(const QStringList& arguments);

// Runs a command against the running panel; returns the exit status.
int runCommand(const Request& request);

} // namespace remote
