// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

namespace automation
{
class PanelModel;
}

namespace remote
{

// Kept schedules (opt-in): fills the 32 fields from a file at start and saves
// every change of a field to it, atomically, within half a second. A file
// that cannot be read or parsed is kept aside as <file>.bad, never written
// over, and the panel starts with empty fields.
class ScheduleStore : public QObject
{
    Q_OBJECT

  public:
    // $XDG_CONFIG_HOME/pc-automation/schedule.conf
    static QString defaultPath();

    ScheduleStore(QString path, automation::PanelModel& model, QObject* parent = nullptr);

    // Fills the fields from the file. Returns empty, or the one-line problem
    // that made the panel start with empty fields.
    QString load();
    // Writes the fields now. Returns empty or the problem.
    QString saveNow();
    bool savePending() const { return m_saveTimer.isActive(); }

  private:
    void changed();

    QString m_path;
    automation::PanelModel& m_model;
    QTimer m_saveTimer;
    bool m_loading = false;
    QString m_lastProblem;
};

} // namespace remote
