// SPDX-License-Identifier: MIT
#pragma once

#include "automation/Scheduler.h"
#include "channels/ChannelTable.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

// The panel without its window: the output byte, the stop request, the 32
// schedule fields, each channel's shown state (its caption follows from it),
// what the board holds, whether exit has begun, and every port write with its
// cause. The window draws it and hands it the user's input;
// the D-Bus face, kept schedules and the benchmark use it directly.
namespace automation
{

class PanelModel : public QObject
{
    Q_OBJECT

  public:
    // What made a port write; other programs are told with each write.
    enum class Cause { Click, Schedule, Loop, Remote, Exit, CatchUp };
    static QString causeName(Cause cause);

    explicit PanelModel(channels::PortWrite write, QObject* parent = nullptr);

    // What the port library says of the board: the byte it holds (-1 while
    // it fails or is not known) and "ok" or the problem; pending while a
    // write is on its way to it.
    struct BoardReading {
        int held = -1;
        QString status;
        bool pending = false;
    };
    // Asks the library, without waiting; nothing when it cannot say, and
    // then the board is taken to hold each byte written, as before.
    using BoardWatch = std::function<std::optional<BoardReading>()>;
    // From the first write (or the board resumed, or startWatching) on, the
    // board is asked after each write and once a second.
    void setBoardWatch(BoardWatch watch) { m_watch = std::move(watch); }
    // Asks now, and once a second from now on.
    void startWatching() { checkBoard(true); }
    static constexpr std::chrono::milliseconds WatchInterval{1000};

    // Seams for tests: the clock the scheduler and the window read, and the
    // shortest length of one loop-test step.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    QDateTime now() const { return m_clock(); }
    void setStepPause(std::chrono::milliseconds pause) { m_stepPause = pause; }

    std::int16_t outputState() const { return OutputState; }
    std::int16_t stopRequested() const { return StopRequested; }
    // The byte the board holds as far as this panel knows: what the port
    // library confirmed (without one that can say: the last byte written),
    // or the one read back at start; -1 while unknown or failing. STOP, which
    // clears OutputState without writing, leaves it.
    int boardState() const { return m_boardState; }
    // "ok", or why the board is not known to hold what was written.
    QString boardStatus() const { return m_boardStatus; }
    std::int32_t pauseScratch() const { return m_scratch; }
    bool isClosing() const { return m_closing; }

    // Field N is TextN, N = 1 .. FieldCount; other numbers read empty and
    // cannot be set.
    QString fieldText(int number) const;
    void setFieldText(int number, const QString& text);

    // The captions as the buttons show them, made from each channel's state.
    QStringList captions() const;
    // What channel's button shows: the last state commanded for it, Unknown
    // before the first write.
    channels::ChannelState channelState(int channel) const;

    void ToggleChannel(int channel, Cause cause);
    void SwitchChannelOn(int channel, Cause cause);
    void SwitchChannelOff(int channel, Cause cause);
    // Writes 0, as exit does, but the panel stays: OutputState and the
    // captions follow.
    void AllOff(Cause cause);
    void LoopTest();
    void StopLoop();
    // At start, without writing: OutputState, BoardState and the captions
    // from the byte the board holds, so the next click builds on it.
    void resumeBoard(int byte);
    // At start: each channel takes the state its schedule gives it now (see
    // CatchUpByte); the byte is written once, unless the board is known to
    // hold it already. Returns whether it wrote.
    bool catchUp();
    // Writes the final 0 and asks the window to close.
    void ExitCommand();
    void SchedulerTick();
    // From here on nothing more reaches the port: a running loop test ends
    // before its next step.
    void beginClosing() { m_closing = true; }

  signals:
    void portWritten(qint16 value, const QString& cause);
    void captionChanged(int channel, const QString& caption);
    void fieldChanged(int number, const QString& text);
    // OutputState or a caption may have changed.
    void stateChanged();
    void exitRequested();

  private:
    void writePort(std::int16_t value, Cause cause);
    // Asks the library how the board is; false when it cannot say. Says
    // stateChanged when something changed and announce is set.
    bool checkBoard(bool announce);
    // OutputState set, the byte written and every caption shown for it.
    void writeWhole(std::int16_t value, Cause cause);
    void setShown(int channel, channels::ChannelState state);

    std::int16_t OutputState = 0;
    std::int16_t StopRequested = 0;
    int m_boardState = -1;
    QString m_boardStatus = QStringLiteral("ok");
    BoardWatch m_watch;
    QTimer m_watchTimer;   // once a second, from the first write
    QTimer m_confirmTimer; // soon, while a write is on its way
    volatile std::int32_t m_scratch = 0;
    bool m_closing = false;
    std::array<QString, FieldCount> m_fields;
    std::array<channels::ChannelState, channels::ChannelCount> m_shown{};

    channels::PortWrite m_write;
    std::function<QDateTime()> m_clock;
    std::chrono::milliseconds m_stepPause;
    // The cause of the channel operation under way: the context below is
    // made once and reads it at each write.
    Cause m_cause = Cause::Click;
    channels::ChannelContext m_channels;
};

} // namespace automation
