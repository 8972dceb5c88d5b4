// SPDX-License-Identifier: MIT
#include "lpt-board/BoardView.h"

#include "channels/ChannelTable.h"
#include "fenwix/core/Files.h"

#include <algorithm>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace board
{

namespace
{

constexpr int LineCount = 8;
constexpr int FirstDataPin = 2; // D0 is pin 2 of the connector

// Unknown: dark and hatched, so it is not read as "off".
enum class Lamp { Off, Lit, Unknown };

// A lamp with its line's label, painted on a solid face (the hatch of an
// unknown state over a dark one, so the label stays readable), and its state
// in its accessible name, so a screen reader says it.
class LampLabel final : public QLabel
{
  public:
    LampLabel(int line, QWidget* parent)
        : QLabel(QStringLiteral("D%1\npin %2").arg(line).arg(line + FirstDataPin), parent),
          m_line(line)
    {
        setObjectName(QStringLiteral("D%1").arg(line));
        setAlignment(Qt::AlignCenter);
        setMinimumSize(48, 48);
        show(Lamp::Off);
    }

    void show(Lamp state)
    {
        m_state = state;
        QPalette pal = palette();
        pal.setColor(QPalette::WindowText, state == Lamp::Lit ? Qt::black : QColor(235, 235, 235));
        setPalette(pal);
        setProperty("lit", state == Lamp::Lit);
        setAccessibleName(QStringLiteral("D%1, pin %2: %3")
                              .arg(m_line)
                              .arg(m_line + FirstDataPin)
                              .arg(state == Lamp::Lit   ? QStringLiteral("on")
                                   : state == Lamp::Off ? QStringLiteral("off")
                                                        : QStringLiteral("unknown")));
        update();
    }

  private:
    void paintEvent(QPaintEvent* event) override
    {
        {
            QPainter painter(this);
            painter.fillRect(rect(), m_state == Lamp::Lit   ? QColor(255, 60, 40)
                                     : m_state == Lamp::Off ? QColor(70, 40, 40)
                                                            : QColor(45, 45, 45));
            if (m_state == Lamp::Unknown)
                painter.fillRect(rect(), QBrush(QColor(100, 100, 100), Qt::BDiagPattern));
        }
        QLabel::paintEvent(event);
    }

    int m_line;
    Lamp m_state = Lamp::Off;
};

void paintLamp(QLabel* lamp, Lamp state)
{
    static_cast<LampLabel*>(lamp)->show(state);
}

} // namespace

BoardView::BoardView(QString boardPath, QString privateFolder, QWidget* parent)
    : QWidget(parent), m_path(std::move(boardPath)), m_privateFolder(std::move(privateFolder))
{
    setWindowTitle(QStringLiteral("LPT1 board"));
    auto* layout = new QVBoxLayout(this);
    auto* lamps = new QGridLayout;
    // D7 on the left, as the bits of the value read.
    for (int line = 0; line < LineCount; ++line) {
        auto* lamp = new LampLabel(line, this);
        lamps->addWidget(lamp, 0, LineCount - 1 - line);
        m_lamps[static_cast<std::size_t>(line)] = lamp;
    }
    layout->addLayout(lamps);
    m_valueLabel = new QLabel(QStringLiteral("no value written yet"), this);
    m_valueLabel->setObjectName(QStringLiteral("value"));
    m_valueLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_valueLabel);
    // Plain text, one line, elided to the window: a status is data, not markup,
    // and never sizes the window.
    m_statusLabel = new QLabel(this);
    m_statusLabel->setObjectName(QStringLiteral("status"));
    m_statusLabel->setTextFormat(Qt::PlainText);
    m_statusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(m_statusLabel);
    setStatusText(m_path, false);

    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &BoardView::reload);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &BoardView::reload);
    m_retry.setInterval(1000);
    connect(&m_retry, &QTimer::timeout, this, &BoardView::reload);
    reload();
}

bool BoardView::lampLit(int line) const
{
    if (line < 0 || line >= LineCount)
        return false;
    return m_lamps[static_cast<std::size_t>(line)]->property("lit").toBool();
}

void BoardView::watch()
{
    // The file is replaced by rename, so the folder is what tells of a change.
    const QString dir = QFileInfo(m_path).absolutePath();
    if (!QFileInfo(dir).isDir()) {
        m_retry.start();
        return;
    }
    m_retry.stop();
    if (!m_watcher.directories().contains(dir))
        m_watcher.addPath(dir);
}

void BoardView::reload()
{
    watch();
    // No folder or file yet is the normal state before the first write, not
    // an error.
    if ((!m_privateFolder.isEmpty() && !QFileInfo::exists(m_privateFolder)) ||
        (!QFileInfo::exists(m_path) && !QFileInfo(m_path).isSymLink()))
        return showUnknown(QString(), false);
    if (!m_privateFolder.isEmpty()) {
        const std::string problem = fenwix::folderNotPrivate(m_privateFolder.toStdString());
        if (!problem.empty())
            return showUnknown(QStringLiteral("folder %1 is %2")
                                   .arg(m_privateFolder, QString::fromStdString(problem)));
    }
    // Non-blocking and regular files only: a FIFO or device there must not
    // hold the viewer.
    const fenwix::ReadFile read = fenwix::readRegular(
        QFile::encodeName(m_path).toStdString(), fenwix::MaxBoardFileSize, fenwix::Links::Follow);
    if (!read.problem.empty())
        return showUnknown(QString::fromLocal8Bit(read.problem));
    const QByteArray bytes = QByteArray::fromStdString(read.bytes);
    if (bytes.isEmpty())
        return showUnknown(QStringLiteral("empty file"));
    const auto state = fenwix::parseBoardState(std::string_view(bytes.constData(), bytes.size()));
    if (!state)
        return showUnknown(QStringLiteral("not a board state"));
    showState(*state);
}

void BoardView::showUnknown(const QString& reason, bool failed)
{
    m_value = -1;
    m_status.clear();
    for (QLabel* lamp : m_lamps)
        paintLamp(lamp, Lamp::Unknown);
    m_valueLabel->setText(QStringLiteral("unknown"));
    setStatusText(failed ? QStringLiteral("no valid board state: %1: %2").arg(m_path, reason)
                         : QStringLiteral("nothing written to the board yet (%1)").arg(m_path),
                  failed);
}

void BoardView::setStatusText(const QString& text, bool failed)
{
    m_statusText = text;
    m_statusFailed = failed;
    m_statusLabel->setText(m_statusLabel->fontMetrics().elidedText(
        text, Qt::ElideRight, std::max(1, m_statusLabel->contentsRect().width())));
    m_statusLabel->setToolTip(text);
    QPalette pal = m_statusLabel->palette();
    pal.setColor(QPalette::WindowText,
                 failed ? QColor(200, 0, 0) : palette().color(QPalette::WindowText));
    m_statusLabel->setPalette(pal);
}

void BoardView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    setStatusText(m_statusText, m_statusFailed);
}

void BoardView::showState(const fenwix::BoardState& state)
{
    const int value = state.value;
    const QString status = QString::fromStdString(state.status);
    if (value == m_value && status == m_status)
        return;
    m_value = value;
    m_status = status;
    for (int line = 0; line < LineCount; ++line)
        paintLamp(m_lamps[static_cast<std::size_t>(line)],
                  channels::isOn(value, line) ? Lamp::Lit : Lamp::Off);
    m_valueLabel->setText(QStringLiteral("0x%1   %2   (%3)")
                              .arg(value, 2, 16, QLatin1Char('0'))
                              .arg(value, 8, 2, QLatin1Char('0'))
                              .arg(value));
    setStatusText(status == QLatin1String("virtual") ? QStringLiteral("virtual board (no hardware)")
                                                     : status,
                  state.hardwareError());
}

} // namespace board
