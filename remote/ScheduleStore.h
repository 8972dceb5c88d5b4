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
// over, and the panel starts with empty fields. Only a regular file of the
// user's own is read or written, never through a link, and one panel at a
// time keeps a file (an advisory lock beside it).
class ScheduleStore : public QObject
{
    Q_OBJECT

  public:
    // $XDG_CONFIG_HOME/pc-automation/schedule.conf
    static QString defaultPath();

    ScheduleStore(QString path, automation::PanelModel& model, QObject* parent = nullptr);
    ~ScheduleStore() override;

    // Takes the file for this panel and fills the fields from it. Returns
    // empty, or the one-line problem that made the panel start with empty
    // fields or keep nothing.
    QString load();
    // Writes the fields now. Returns empty or the problem.
    QString saveNow();
    bool savePending() const { return m_saveTimer.isActive(); }
    // False when another panel keeps the file or it is no file of ours.
    bool keeping() const { return m_keeping; }

  private:
    void changed();
    QString hold();
    void say(const QString& problem);

    QString m_path;
    automation::PanelModel& m_model;
    QTimer m_saveTimer;
    bool m_loading = false;
    bool m_keeping = false;
    int m_lockFd = -1;
    QString m_lastProblem;
};

} // namespace remote
