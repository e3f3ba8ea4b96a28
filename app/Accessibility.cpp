#include "app/Accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QLabel>
#include <QPalette>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTimer>
#include <QVariant>

namespace harmolune::accessibility {

namespace {

enum class Mark { Hidden = 1, Display, Group, Window, Notice, Stepper, Reading, Chart };

constexpr const char* kMarkProperty = "harmoluneAccessibleMark";
constexpr const char* kHeadingProperty = "harmoluneAccessibleHeading";
constexpr const char* kSaidProperty = "harmoluneAccessibleSaid";

QAccessibleInterface* Factory(const QString&, QObject* object);

void SetMark(QWidget& widget, Mark mark) {
    static const bool installed = (QAccessible::installFactory(Factory), true);
    (void)installed;
    widget.setProperty(kMarkProperty, static_cast<int>(mark));
}

// Neither showing nor named: screen readers skip it. Qt 6.4 maps no role to
// AT-SPI's "redundant object", so the state says it.
class HiddenInterface : public QAccessibleWidget {
  public:
    explicit HiddenInterface(QWidget* widget)
        : QAccessibleWidget(widget, QAccessible::StaticText) {}
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.invisible = true;
        return s;
    }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? QString() : QAccessibleWidget::text(t);
    }
};

class DisplayInterface : public QAccessibleWidget {
  public:
    explicit DisplayInterface(QLabel* display)
        : QAccessibleWidget(display, QAccessible::StaticText) {}
    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Name) {
            return QAccessibleWidget::text(t);
        }
        const QWidget* w = widget();
        return DisplayName(w->property(kHeadingProperty).toString(),
                           static_cast<const QLabel*>(w)->text());
    }
};

class NoticeInterface : public QAccessibleWidget {
  public:
    explicit NoticeInterface(QWidget* notice)
        : QAccessibleWidget(notice, QAccessible::Notification) {}
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? widget()->property(kSaidProperty).toString() : QString();
    }
};

// A static text named by what SetReadingName last set; focusable, as its
// widget is.
class ReadingInterface : public QAccessibleWidget {
  public:
    explicit ReadingInterface(QWidget* display)
        : QAccessibleWidget(display, QAccessible::StaticText) {}
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? widget()->property(kSaidProperty).toString() : QString();
    }
};

// The bridge keeps names in a cache that this event updates.
void TellNameChanged(QWidget& widget) {
    QAccessibleEvent named(&widget, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&named);
}

// A spin button over the scroll bar's value: the value, its range and its
// step, set through the bar, whose value changes Qt already reports.
class StepperInterface : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit StepperInterface(QScrollBar* bar) : QAccessibleWidget(bar, QAccessible::SpinBox) {}
    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(t);
    }
    QVariant currentValue() const override { return Bar()->value(); }
    void setCurrentValue(const QVariant& value) override { Bar()->setValue(value.toInt()); }
    QVariant maximumValue() const override { return Bar()->maximum(); }
    QVariant minimumValue() const override { return Bar()->minimum(); }
    QVariant minimumStepSize() const override { return Bar()->singleStep(); }

  private:
    QScrollBar* Bar() const { return static_cast<QScrollBar*>(widget()); }
};

QAccessibleInterface* Factory(const QString&, QObject* object) {
    const QVariant mark = object->property(kMarkProperty);
    if (!mark.isValid() || !object->isWidgetType()) {
        return nullptr;
    }
    auto* widget = static_cast<QWidget*>(object);
    switch (static_cast<Mark>(mark.toInt())) {
        case Mark::Hidden:
            return new HiddenInterface(widget);
        case Mark::Display:
            if (auto* label = qobject_cast<QLabel*>(widget)) {
                return new DisplayInterface(label);
            }
            return nullptr;
        case Mark::Group:
            // Qt exposes a QFrame as a border, which AT-SPI calls a frame:
            // a screen reader would take each panel for a window.
            return new QAccessibleWidget(widget, QAccessible::Grouping);
        case Mark::Window:
            return new QAccessibleWidget(widget, QAccessible::Window);
        case Mark::Chart:
            return new QAccessibleWidget(widget, QAccessible::Chart);
        case Mark::Notice:
            return new NoticeInterface(widget);
        case Mark::Reading:
            return new ReadingInterface(widget);
        case Mark::Stepper:
            if (auto* bar = qobject_cast<QScrollBar*>(widget)) {
                return new StepperInterface(bar);
            }
            return nullptr;
    }
    return nullptr;
}

class FocusShower : public QObject {
  public:
    FocusShower(QWidget& selector, QWidget& readOut)
        : QObject(&selector), readOut_(readOut), normal_(readOut.palette()) {
        selector.installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::FocusIn) {
            QPalette focused = normal_;
            focused.setColor(QPalette::Base, normal_.color(QPalette::Highlight));
            focused.setColor(QPalette::Text, normal_.color(QPalette::HighlightedText));
            readOut_.setPalette(focused);
        } else if (event->type() == QEvent::FocusOut) {
            readOut_.setPalette(normal_);
        }
        return false;
    }

  private:
    QWidget& readOut_;
    const QPalette normal_;
};

// Tells the tuning display's name as it takes the focus, and once it has
// left it, when the focus event that names the next control has gone first.
class ReadingFocus : public QObject {
  public:
    explicit ReadingFocus(QWidget& display) : QObject(&display), display_(display) {
        afterFocusOut_.setSingleShot(true);
        afterFocusOut_.setInterval(0);
        connect(&afterFocusOut_, &QTimer::timeout, this, &ReadingFocus::TellIfLeft);
        display.installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::FocusIn) {
            TellNameChanged(display_);
        } else if (event->type() == QEvent::FocusOut) {
            afterFocusOut_.start();
        }
        return false;
    }

  private:
    void TellIfLeft() {
        if (!display_.hasFocus()) {
            TellNameChanged(display_);
        }
    }

    QWidget& display_;
    QTimer afterFocusOut_;
};

}  // namespace

void MarkHidden(QWidget& widget) { SetMark(widget, Mark::Hidden); }

void MarkDisplay(QLabel& display, const QString& heading) {
    display.setProperty(kHeadingProperty, heading);
    SetMark(display, Mark::Display);
}

void MarkReading(QWidget& display) {
    SetMark(display, Mark::Reading);
    new ReadingFocus(display);
}

void SetReadingName(QWidget& display, const QString& name) {
    display.setProperty(kSaidProperty, name);
    if (!display.hasFocus()) {
        TellNameChanged(display);
    }
}

void MarkGroup(QWidget& frame) { SetMark(frame, Mark::Group); }

void MarkChart(QWidget& plot) { SetMark(plot, Mark::Chart); }

void MarkWindow(QWidget& form) { SetMark(form, Mark::Window); }

void MarkStepper(QScrollBar& bar) { SetMark(bar, Mark::Stepper); }

Announcer::Announcer(QWidget& form) {
    for (Notice& notice : notices_) {
        notice.widget = new QWidget(&form);
        SetMark(*notice.widget, Mark::Notice);
        notice.widget->setObjectName("Notice");
        notice.widget->setAttribute(Qt::WA_TransparentForMouseEvents);
        notice.widget->setFocusPolicy(Qt::NoFocus);
        notice.widget->setGeometry(0, 0, 1, 1);
        notice.widget->hide();
        // Orca reads a notice within milliseconds of its showing.
        notice.hider = new QTimer(notice.widget);
        notice.hider->setSingleShot(true);
        notice.hider->setInterval(3000);
        QObject::connect(notice.hider, &QTimer::timeout, notice.widget, &QWidget::hide);
    }
}

void Announcer::Say(const QString& text) {
    last_ = (last_ + 1) % notices_.size();
    const Notice& notice = notices_[last_];
    notice.widget->setProperty(kSaidProperty, text);
    TellNameChanged(*notice.widget);
    // Each showing is one announcement, the same text again included.
    notice.widget->hide();
    notice.widget->show();
    notice.hider->start();
}

void ShowFocusOf(QWidget& selector, QWidget& readOut) { new FocusShower(selector, readOut); }

QString SpokenText(const QString& text) {
    static const QRegularExpression flat(QStringLiteral("\\b(Mi|Si)b\\b"));
    QString spoken = text;
    return spoken.replace(flat, QStringLiteral("\\1 bémol"));
}

QString DisplayName(const QString& heading, const QString& value) {
    if (value.isEmpty()) {
        return heading;
    }
    return heading + QStringLiteral(" : ") + SpokenText(value);
}

}  // namespace harmolune::accessibility
