// SPDX-License-Identifier: MIT
#pragma once

#include "remote/CommandLineCommon.h"

#include <QString>
#include <QStringList>

// pc-automation-mqtt's settings: the command line over an optional
// ~/.config/pc-automation/mqtt.conf with the same keys (key=value lines).
namespace mqtt
{

struct Settings {
    // Defaults are the rows of the settings table (Settings.cpp).
    QString host;
    int port = 0;
    QString clientId; // default: pc-automation-<hostname>-<node>
    QString user;
    QString passwordFile; // the password is read from this file
    QString caFile;       // TLS when set
    QString prefix;       // default: pc-automation/<hostname>-<node>
    QString discoveryPrefix;
    QString nodeId; // default: from the machine's id and the panel's board
    bool removeDiscovery = false;
};

struct ParsedSettings {
    cli::Common common;
    Settings settings;
};

QString defaultConfigPath();

// arguments: the program's name, then its arguments. configPath: the file of
// defaults (it may be missing).
ParsedSettings parseSettings(const QStringList& arguments, const QString& configPath);

} // namespace mqtt
