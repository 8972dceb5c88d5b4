// SPDX-License-Identifier: MIT
#pragma once

#include "fenwix/fenwix_board.h"

#include <array>

#include <QFileSystemWatcher>
#include <QString>
#include <QTimer>
#include <QWidget>

class QLabel;

namespace board
{

// Shows the board state file: eight lamps for the data lines D0..D7, the value
// in hexadecimal and binary, and the backend's status line. Follows the file
// through file system notifications, so it costs nothing while it is still.
class BoardView : public QWidget
{
    Q_OBJECT

  public:
    // privateFolder: a folder that must be this user's alone before the file
    // in it is believed (the library's default place), or empty.
    explicit BoardView(QString boardPath, QString privateFolder = {}, QWidget* parent = nullptr);

    int value() const { return m_value; } // -1 while no valid state is known
    QString status() const { return m_status; }
    bool lampLit(int line) const;

  public slots:
    void reload();

  private:
    void watch();
    void showState(const fenwix::BoardState& state);
    // failed: the file is there but holds no valid state (said in red);
    // else nothing has been written yet.
    void showUnknown(const QString& reason, bool failed = true);
    void setStatusText(const QString& text, bool failed);
    void resizeEvent(QResizeEvent* event) override;

    QString m_path;
    QString m_privateFolder;
    QString m_statusText; // in full; the label shows it elided
    bool m_statusFailed = false;
    QFileSystemWatcher m_watcher;
    QTimer m_retry; // only while the folder is missing
    int m_value = -1;
    QString m_status;
    std::array<QLabel*, 8> m_lamps{};
    QLabel* m_valueLabel = nullptr;
    QLabel* m_statusLabel = nullptr;
};

} // namespace board
