// SPDX-License-Identifier: MIT
#include "panel/ControlPanel.h"

#include "panel/ChannelButton.h"
#include "panel/ClockText.h"
#include "panel/PanelLayout.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>

namespace panel
{

namespace
{

using channels::text;

} // namespace

// Each family list prefers the typeface the panel was designed with and falls
// back to faces that carry Traditional Chinese glyphs. Weight and slant are set
// on every font, so none is inherited from the bold window font.
QFont panelFont(FontKind kind)
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Noto Sans CJK TC"),
                      QStringLiteral("Noto Sans TC"), QStringLiteral("sans-serif")});
    font.setBold(false);
    font.setItalic(false);
    switch (kind) {
    case FontKind::Window:
        font.setPointSizeF(12);
        font.setBold(true);
        break;
    case FontKind::Small:
        font.setPointSizeF(8.25);
        break;
    case FontKind::SmallBold:
        font.setPointSizeF(8.25);
        font.setBold(true);
        break;
    case FontKind::Clock:
        font.setPointSizeF(9.75);
        font.setBold(true);
        break;
    case FontKind::Title:
        font.setFamilies({QStringLiteral("標楷體"), QStringLiteral("DFKai-SB"),
                          QStringLiteral("AR PL UKai TW"), QStringLiteral("AR PL UKai"),
                          QStringLiteral("serif")});
        font.setPointSizeF(26.25);
        font.setBold(true);
        font.setItalic(true);
        break;
    }
    return font;
}

ControlPanel::ControlPanel(channels::PortWrite write, QWidget* parent)
    : ControlPanel(*new automation::PanelModel(std::move(write)), parent)
{
    m_ownModel.reset(&m_model);
}

ControlPanel::ControlPanel(automation::PanelModel& model, QWidget* parent)
    : QWidget(parent), m_model(model)
{
    setWindowTitle(QStringLiteral("DIGITAL I/O BOARD"));
    // The title soon shows the date: a screen reader names the program.
    setAccessibleName(QStringLiteral("PC Automation Control"));
    setFont(panelFont(FontKind::Window));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(255, 128, 128));
    setPalette(pal);
    setAutoFillBackground(true);

    buildControls();

    // The window keeps one size whatever asks it to change.
    setFixedSize(ClientWidth, ClientHeight);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);

    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(500);
    connect(&Timer1, &QTimer::timeout, this, &ControlPanel::SchedulerTick);
    Timer2.setObjectName(QStringLiteral("Timer2"));
    Timer2.setInterval(1000);
    connect(&Timer2, &QTimer::timeout, this, &ControlPanel::ClockTick);
    Timer1.start();
    Timer2.start();

    connect(&m_model, &automation::PanelModel::captionChanged, this, &ControlPanel::showCaption);
    connect(&m_model, &automation::PanelModel::stateChanged, this, [this] {
        for (int channel = 0; channel < channels::ChannelCount; ++channel)
            showLamp(channel);
    });
    connect(&m_model, &automation::PanelModel::fieldChanged, this,
            [this](int number, const QString& text) {
                if (QLineEdit* edit = field(number); edit && edit->text() != text)
                    edit->setText(text);
            });
    connect(&m_model, &automation::PanelModel::exitRequested, this, &QWidget::close);
}

void ControlPanel::buildControls()
{
    QWidget* previous = nullptr;
    auto chainFocus = [&previous](QWidget* next) {
        if (previous)
            QWidget::setTabOrder(previous, next);
        previous = next;
    };

    std::array<QPushButton*, CommandButtons.size()> commands{};
    for (std::size_t i = 0; i < CommandButtons.size(); ++i) {
        auto* button = new QPushButton(text(CommandButtons[i].caption), this);
        button->setObjectName(text(CommandButtons[i].name));
        button->setGeometry(CommandButtons[i].place.rect());
        button->setFont(panelFont(FontKind::Small));
        commands[i] = button;
    }
    QPushButton* loopButton = commands[0];
    QPushButton* stopButton = commands[1];
    QPushButton* exitButton = commands[2];
    connect(loopButton, &QPushButton::clicked, this, &ControlPanel::LoopTest);
    connect(stopButton, &QPushButton::clicked, this, &ControlPanel::StopLoop);
    connect(exitButton, &QPushButton::clicked, this, &ControlPanel::ExitCommand);
    chainFocus(exitButton);

    for (const channels::Channel& row : channels::ChannelTable) {
        auto* button = new ChannelButton(m_model.captions()[row.number], this);
        button->setObjectName(text(row.button));
        const ChannelLine& line = ChannelLines[static_cast<std::size_t>(row.number)];
        button->setGeometry(Twips{blockOf(row.number).buttonLeft, line.top - ButtonAboveFields,
                                  ChannelButtonWidth, ChannelButtonHeight}
                                .rect());
        button->setFont(panelFont(FontKind::Small));
        connect(button, &QPushButton::clicked, this,
                [this, channel = row.number] { ToggleChannel(channel); });
        m_channelButtons[static_cast<std::size_t>(row.number)] = button;
        chainFocus(button);
    }
    chainFocus(loopButton);
    chainFocus(stopButton);

    for (int channel = 0; channel < channels::ChannelCount; ++channel) {
        const ChannelLine& line = ChannelLines[static_cast<std::size_t>(channel)];
        const Block& block = blockOf(channel);
        const auto& numbers = automation::ScheduleFields[static_cast<std::size_t>(channel)];
        for (std::size_t c = 0; c < numbers.size(); ++c) {
            auto* field = new QLineEdit(this);
            field->setObjectName(QStringLiteral("Text%1").arg(numbers[c]));
            field->setGeometry(
                Twips{block.fieldLefts[c], line.top, FieldWidth, FieldHeight}.rect());
            field->setFont(panelFont(FontKind::Small));
            field->setMaxLength(std::numeric_limits<int>::max()); // no length limit
            field->setText(m_model.fieldText(numbers[c]));
            // What a screen reader says: whose field, which time, hour or minute.
            field->setAccessibleName(
                QStringLiteral("%1 %2 %3")
                    .arg(text(channels::ChannelTable[static_cast<std::size_t>(channel)]
                                  .initialCaption),
                         c < 2 ? QStringLiteral("ON TIME") : QStringLiteral("OFF TIME"),
                         c % 2 == 0 ? QStringLiteral("hour") : QStringLiteral("minute")));
            connect(field, &QLineEdit::textChanged, this,
                    [this, number = numbers[c]](const QString& typed) {
                        m_model.setFieldText(number, typed);
                    });
            m_fields[static_cast<std::size_t>(numbers[c] - 1)] = field;
        }
        for (std::size_t s = 0; s < line.separators.size(); ++s) {
            auto* colon = new QLabel(text(Separator), this);
            colon->setObjectName(QStringLiteral("Label%1").arg(line.separators[s]));
            // A little below the middle of the fields' line.
            colon->setGeometry(
                Twips{block.separatorLefts[s], line.top + 120, SeparatorSize, SeparatorSize}
                    .rect());
            colon->setFont(panelFont(FontKind::Small));
            colon->setAlignment(Qt::AlignCenter);
        }
    }
    for (int channel = 0; channel < channels::ChannelCount; ++channel)
        showCaption(channel, m_model.captions()[channel]);
    for (int number : FieldFocusOrder)
        chainFocus(m_fields[static_cast<std::size_t>(number - 1)]);

    for (const LabelRow& row : Labels) {
        auto* label = new QLabel(text(row.caption), this);
        label->setObjectName(QStringLiteral("Label%1").arg(row.number));
        label->setGeometry(row.place.rect());
        label->setFont(panelFont(row.font));
        if (row.font == FontKind::Title) {
            QPalette pal = label->palette();
            pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
            label->setPalette(pal);
            label->setAlignment(Qt::AlignCenter);
        }
        if (row.number == 2)
            m_clockLabel = label;
    }

    exitButton->setFocus(Qt::OtherFocusReason);
}

QLineEdit* ControlPanel::field(int number) const
{
    if (number < 1 || number > static_cast<int>(m_fields.size()))
        return nullptr;
    return m_fields[static_cast<std::size_t>(number - 1)];
}

void ControlPanel::showCaption(int channel, const QString& caption)
{
    if (channel < 0 || channel >= channels::ChannelCount)
        return;
    m_channelButtons[static_cast<std::size_t>(channel)]->setText(caption);
    showLamp(channel);
}

void ControlPanel::showLamp(int channel)
{
    // What the board holds; what was commanded while that is not known yet
    // (nothing written); never lit while the board fails.
    const int board = m_model.boardState();
    const bool failing = m_model.boardStatus() != QLatin1String("ok");
    const bool on = board >= 0 ? channels::isOn(board, channel)
                               : m_model.channelState(channel) == channels::ChannelState::On;
    m_channelButtons[static_cast<std::size_t>(channel)]->setLamp(
        failing ? ChannelButton::Lamp::Unknown
        : on    ? ChannelButton::Lamp::Lit
                : ChannelButton::Lamp::Off,
        failing ? m_model.boardStatus() : QString());
}

QStringList ControlPanel::captions() const
{
    QStringList list;
    for (const ChannelButton* button : m_channelButtons)
        list << button->text();
    return list;
}

void ControlPanel::ClockTick()
{
    const QDateTime now = m_model.now();
    const QLocale locale; // the system's, unless a test has set another
    setWindowTitle(DateText(locale, now.date()));
    const QString time = TimeText(locale, now.time());
    // A long time text is drawn smaller rather than clipped.
    m_clockLabel->setFont(
        fittingFont(panelFont(FontKind::Clock), time, m_clockLabel->contentsRect().width()));
    m_clockLabel->setText(time);
}

void ControlPanel::closeEvent(QCloseEvent* event)
{
    m_model.beginClosing();
    Timer1.stop();
    Timer2.stop();
    QWidget::closeEvent(event);
}

void ControlPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The focus frame on exit shows from the start, not only after the first
    // Tab (showing the window clears this).
    setAttribute(Qt::WA_KeyboardFocusChange);
}

void ControlPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The fixed size holds only where a window manager enforces it: without
    // one, a program can resize the window directly. Undo it at once.
    const QSize fixed(ClientWidth, ClientHeight);
    if (event->size() != fixed)
        QTimer::singleShot(0, this, [this, fixed] {
            if (size() != fixed)
                resize(fixed);
        });
}

void ControlPanel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange &&
        (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
    QWidget::changeEvent(event);
}

} // namespace panel
