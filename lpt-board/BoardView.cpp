#include "lpt-board/BoardView.h"

#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace board
{

namespace
{

constexpr int LineCount = 8;
constexpr int FirstDataPin = 2; // D0 is pin 2 of the connector

void paintLamp(QLabel* lamp, bool lit)
{
    QPalette pal = lamp->palette();
    pal.setColor(QPalette::Window, lit ? QColor(255, 60, 40) : QColor(70, 40, 40));
    pal.setColor(QPalette::WindowText, lit ? Qt::black : QColor(200, 200, 200));
    lamp->setPalette(pal);
    lamp->setProperty("lit", lit);
}

} // namespace

BoardView::BoardView(QString boardPath, QWidget* parent)
    : QWidget(parent), m_path(std::move(boardPath))
{
    setWindowTitle(QStringLiteral("LPT1 board"));
    auto* layout = new QVBoxLayout(this);
    auto* lamps = new QGridLayout;
    // D7 on the left, as the bits of the value read.
    for (int line = 0; line < LineCount; ++line) {
        auto* lamp =
            new QLabel(QStringLiteral("D%1\npin %2").arg(line).arg(line + FirstDataPin), this);
        lamp->setObjectName(QStringLiteral("D%1").arg(line));
        lamp->setAlignment(Qt::AlignCenter);
        lamp->setAutoFillBackground(true);
        lamp->setMinimumSize(48, 48);
        paintLamp(lamp, false);
        lamps->addWidget(lamp, 0, LineCount - 1 - line);
        m_lamps[static_cast<std::size_t>(line)] = lamp;
    }
    layout->addLayout(lamps);
    m_valueLabel = new QLabel(QStringLiteral("no value written yet"), this);
    m_valueLabel->setObjectName(QStringLiteral("value"));
    m_valueLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_valueLabel);
    m_statusLabel = new QLabel(m_path, this);
    m_statusLabel->setObjectName(QStringLiteral("status"));
    m_statusLabel->setWordWrap(true);
    layout->addWidget(m_statusLabel);

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
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return; // not written yet: keep what is shown
    const QByteArray bytes = file.read(4096);
    const auto state = fenwix::parseBoardState(std::string_view(bytes.constData(), bytes.size()));
    if (!state)
        return;
    showState(*state);
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
        paintLamp(m_lamps[static_cast<std::size_t>(line)], (value >> line) & 1);
    m_valueLabel->setText(QStringLiteral("0x%1   %2   (%3)")
                              .arg(value, 2, 16, QLatin1Char('0'))
                              .arg(value, 8, 2, QLatin1Char('0'))
                              .arg(value));
    const bool failed = state.hardwareError();
    m_statusLabel->setText(status == QLatin1String("virtual")
                               ? QStringLiteral("virtual board (no hardware)")
                               : status);
    QPalette pal = m_statusLabel->palette();
    pal.setColor(QPalette::WindowText,
                 failed ? QColor(200, 0, 0) : palette().color(QPalette::WindowText));
    m_statusLabel->setPalette(pal);
}

} // namespace board
