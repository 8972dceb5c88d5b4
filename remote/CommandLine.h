// SPDX-License-Identifier: MIT
#pragma once

#include "remote/CommandLineCommon.h"

#include <QString>
#include <QStringList>

// The program's command line: with no command it starts the panel; with one
// it talks to the running panel over D-Bus and exits.
namespace remote
{

struct Request {
    cli::Common common;
    QString command; // on, off, toggle, all-off, state; empty: start the panel
    int channel = -1;
    bool keepSchedule = false;
    bool resumeBoard = false; // start from the byte read back from the board
    bool catchUp = false;     // bring the kept schedule into force at start
    QString scheduleFile;     // empty: the default place
    QString board;            // FENWIX_LPT1 for the port library; empty: as set
};

// arguments: the program's name, then its arguments.
Request parseCommandLine(const QStringList& arguments);

// Runs a command against the running panel; returns the exit status.
int runCommand(const Request& request);

} // namespace remote
