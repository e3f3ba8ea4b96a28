#pragma once
// Turns SIGTERM and SIGINT into a Qt signal on the UI thread, so that logging
// out or Ctrl+C closes the window the ordinary way and the octave is saved.
// The handler only writes one byte into a socket pair that the event loop
// watches. One instance per process.

#include <QObject>

class QSocketNotifier;

namespace harmolune {

class TerminationSignals : public QObject {
    Q_OBJECT
  public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

  signals:
    void Received(int signalNumber);

  private:
    void OnReadable();

    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace harmolune
