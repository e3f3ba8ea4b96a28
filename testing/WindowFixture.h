#pragma once
// What the window tests share: a temporary folder for the octave file, a
// capture that the test feeds block by block, clicks through the window's
// own hit-testing, a watcher that reads and closes the next message box, a
// listener to what the window says unasked, and a tone generator for blocks
// of known pitch and level.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QtTest>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "sound/BlockRing.h"
#include "sound/CaptureDevice.h"
#include "testing/Files.h"
#include "testing/RecordingMidiOutput.h"

namespace harmolune::testing_window {

using ::harmolune::testing::ReadFile;
using ::harmolune::testing::TempDir;
using ::harmolune::testing::WriteFile;

// Starts at once and keeps the ring, into which the test pushes blocks.
class FeedingCapture final : public CaptureDevice {
  public:
    bool Start(BlockRing& ring, std::string&) override {
        ring_ = &ring;
        ++starts;
        return true;
    }
    void Stop() override {
        ++stops;
        if (log != nullptr) {
            log->push_back("stop capture");
        }
    }
    void Push(const std::vector<std::uint8_t>& samples) {
        ring_->Push(samples.data(), samples.size());
    }
    bool Started() const { return ring_ != nullptr; }

    int starts = 0;
    int stops = 0;
    std::vector<std::string>* log = nullptr;

  private:
    BlockRing* ring_ = nullptr;
};

// A capture that cannot start, with the backend's own words.
class FailingCapture final : public CaptureDevice {
  public:
    bool Start(BlockRing&, std::string& error) override {
        error = "Périphérique indisponible";
        return false;
    }
    void Stop() override { ++stops; }
    int stops = 0;
};

// n blocks of a sine of frequencyHz with peak level `level` (0 to 127) around
// the silence value 128, in 8-bit unsigned samples at 32768 per second.
inline std::vector<std::uint8_t> Tone(double frequencyHz, int level, int blocks) {
    std::vector<std::uint8_t> samples(static_cast<std::size_t>(blocks) * 4096);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double s = std::sin(2 * M_PI * frequencyHz * static_cast<double>(i) / 32768.0);
        samples[i] = static_cast<std::uint8_t>(std::lround(128 + level * s));
    }
    return samples;
}

inline std::vector<std::uint8_t> Silence(int blocks) {
    return std::vector<std::uint8_t>(static_cast<std::size_t>(blocks) * 4096, 128);
}

// A left click at point (in target's coordinates), delivered to the window
// so that Qt picks the widget on top there, as a real click would.
inline void ClickAt(QWidget& window, const QWidget* target, QPoint point) {
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, target->mapTo(&window, point));
}

inline void ClickCentre(QWidget& window, const QWidget* target) {
    ClickAt(window, target, target->rect().center());
}

// A key is clicked where no other key covers it: black keys in their middle,
// white keys near their lower end, below the black keys.
inline void ClickKey(QWidget& window, const QWidget* key) {
    ClickAt(window, key, QPoint(key->width() / 2, key->height() - 8));
}

struct SeenBox {
    bool seen = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QRect frame;  // where it stood on the screen, title bar included
};

// Waits for the next modal message box, reads it and presses its OK button.
inline void CloseNextBox(SeenBox& seen) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, &seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        seen.seen = true;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        seen.frame = box->frameGeometry();
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
            ok->click();
        } else {
            box->reject();
        }
    });
    timer->start(10);
}

// Records what the window gives a screen reader to say unasked: the
// accessible name of each notification of the window as it shows.
class ListenToNotices : public QObject {
  public:
    explicit ListenToNotices(QWidget& window) {
        for (QWidget* w : window.findChildren<QWidget*>()) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            if (a != nullptr && a->role() == QAccessible::Notification) {
                w->installEventFilter(this);
            }
        }
    }
    const QStringList& Said() const { return said_; }

  protected:
    bool eventFilter(QObject* notice, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            said_.push_back(QAccessible::queryAccessibleInterface(notice)->text(QAccessible::Name));
        }
        return false;
    }

  private:
    QStringList said_;
};

}  // namespace harmolune::testing_window
