// SPDX-License-Identifier: MIT
#include "panel/ControlPanel.h"

#include "panel/ChannelButton.h"
#include "panel/ClockText.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>

namespace panel
{

namespace
{

// Positions and sizes are in twips, 15 to a logical pixel.
constexpr int TwipsPerPixel = 15;

struct Twips {
    int left, top, width, height;
    QRect rect() const
    {
        return {left / TwipsPerPixel, top / TwipsPerPixel, width / TwipsPerPixel,
                height / TwipsPerPixel};
    }
};

struct ButtonRow {
    std::string_view name;
    std::string_view caption;
    Twips place;
};

// The three command buttons.
constexpr std::array<ButtonRow, 3> CommandButtons{{
    {"LOOP", "循環測試", {480, 5280, 975, 495}},
    {"STOP", "停止", {2520, 5280, 975, 495}},
    {"exit", "離開", {4800, 5280, 1335, 495}},
}};

// Each channel's line: its button (name and captions from the channel table),
// then its four schedule fields (numbers from the scheduler's table: on hour,
// on minute, off hour, off minute) with a colon between each hour and minute.
// Channels 0-3 stand in the left block, 4-7 in the right.
struct ChannelLine {
    int top;                       // of the fields; the button stands 120 higher
    std::array<int, 2> separators; // numbers of LabelN
};

constexpr std::array<ChannelLine, channels::ChannelCount> ChannelLines{{
    {1920, {3, 4}},
    {2760, {6, 7}},
    {3600, {9, 10}},
    {4440, {11, 12}},
    {1920, {15, 16}},
    {2760, {17, 18}},
    {3600, {19, 20}},
    {4440, {21, 22}},
}};

struct Block {
    int buttonLeft;
    std::array<int, 4> fieldLefts;
    std::array<int, 2> separatorLefts;
};
constexpr Block LeftBlock{480, {1320, 1800, 2520, 3000}, {1680, 2880}};
constexpr Block RightBlock{3840, {4680, 5160, 5880, 6360}, {5040, 6240}};

const Block& blockOf(int channel)
{
    return channel < channels::ChannelCount / 2 ? LeftBlock : RightBlock;
}

constexpr int ChannelButtonWidth = 735;
constexpr int ChannelButtonHeight = 495;
constexpr int ButtonAboveFields = 120;
constexpr int FieldWidth = 375;
constexpr int FieldHeight = 285;
constexpr int SeparatorSize = 135;

struct LabelRow {
    int number;
    std::string_view caption;
    Twips place;
    FontKind font;
};

constexpr std::array<LabelRow, 7> Labels{{
    {1, "PC自動化控制", {1320, 360, 3375, 615}, FontKind::Title},
    {2, "", {6000, 240, 1695, 495}, FontKind::Clock},
    {5, "ON  TIME", {1320, 1560, 855, 255}, FontKind::SmallBold},
    {8, "OFF  TIME", {2520, 1560, 975, 255}, FontKind::SmallBold},
    {13, "ON  TIME", {4680, 1560, 855, 255}, FontKind::SmallBold},
    {14, "OFF  TIME", {5880, 1560, 975, 255}, FontKind::SmallBold},
    {23, "註：時間為24小時制", {4920, 6360, 2415, 375}, FontKind::Window},
}};

// Keyboard focus order after exit, BIT0..BIT7, LOOP and STOP.
constexpr std::array<int, automation::FieldCount> FieldFocusOrder{
    5,  7,  3,  2,  6,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18,
    19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 1,  4};

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
            auto* colon = new QLabel(QStringLiteral("："), this);
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
    ChannelButton* button = m_channelButtons[static_cast<std::size_t>(channel)];
    button->setText(caption);
    // The look follows the caption shown, not the output byte.
    button->setLit(m_model.channelState(channel) == channels::ChannelState::On);
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
