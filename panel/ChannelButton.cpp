// SPDX-License-Identifier: MIT
#include "panel/ChannelButton.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace panel
{

namespace
{

// Amber on black reads in light and dark themes alike.
const QColor LitFill(255, 196, 64);
const QColor LitText(0, 0, 0);
const QColor LampOutline(96, 48, 0);
constexpr int LampHeight = 3;
constexpr int LampMargin = 4;

// What assistive technology sees: a toggle, checked while lit, whether on or
// off. Over AT-SPI a push button says nothing while unchecked, so it is a
// check box there. Pressing it is a click, as for any button.
class AccessibleChannelButton : public QAccessibleWidget
{
  public:
    explicit AccessibleChannelButton(ChannelButton* button)
        : QAccessibleWidget(button, QAccessible::CheckBox)
    {
        addControllingSignal(QLatin1String("clicked(bool)"));
    }
    ChannelButton* button() const { return static_cast<ChannelButton*>(widget()); }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name ? button()->text() : QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button()->isLit();
        return s;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& action) override
    {
        if (action == pressAction())
            button()->click();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
};

QAccessibleInterface* accessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("panel::ChannelButton") && object && object->isWidgetType())
        return new AccessibleChannelButton(static_cast<ChannelButton*>(object));
    return nullptr;
}

} // namespace

ChannelButton::ChannelButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    (void)installed;
}

void ChannelButton::setLamp(Lamp lamp, const QString& problem)
{
    const QString about =
        problem.isEmpty() ? QString() : QStringLiteral("The board's state is unknown: ") + problem;
    if (about != accessibleDescription()) {
        // The library's words, shown as text whatever they hold.
        setToolTip(about.isEmpty() ? QString()
                                   : QStringLiteral("<p>%1</p>").arg(about.toHtmlEscaped()));
        setAccessibleDescription(about);
    }
    if (lamp == m_lamp)
        return;
    const bool wasLit = isLit();
    m_lamp = lamp;
    update();
    if (wasLit == isLit())
        return;
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

QRect ChannelButton::lampRect() const
{
    return {LampMargin, height() - LampMargin - LampHeight, width() - 2 * LampMargin, LampHeight};
}

void ChannelButton::paintEvent(QPaintEvent*)
{
    // The lit colours go to the paint only, not to the widget's palette,
    // which would cost every switch a style pass.
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    if (isLit()) {
        // One palette, kept: the style caches what it draws by the palette.
        if (m_litBase != palette().cacheKey()) {
            m_litBase = palette().cacheKey();
            m_litPalette = palette();
            m_litPalette.setColor(QPalette::Button, LitFill);
            m_litPalette.setColor(QPalette::ButtonText, LitText);
        }
        option.palette = m_litPalette;
    }
    painter.drawControl(QStyle::CE_PushButton, option);
    if (m_lamp == Lamp::Off)
        return;
    painter.setPen(LampOutline);
    painter.setBrush(isLit() ? QBrush(LitFill.lighter(115))
                             : QBrush(QColor(90, 90, 90), Qt::BDiagPattern));
    painter.drawRect(lampRect().adjusted(0, 0, -1, -1));
}

} // namespace panel
