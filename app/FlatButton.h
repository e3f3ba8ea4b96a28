#pragma once
// A captionless button drawn flat in one fill colour: the piano keys and the
// guitar string buttons. It carries the member index of its control array
// (Clavier 0 to 11, Corde 4 to 28) and its tag, the note name it shows.
// Reached with Tab only, so that a mouse click leaves the window's look
// alone; Space, Enter or Return then presses it, and a frame in the colour
// that contrasts with its fill shows that it has the focus, once the focus
// has been moved with the keyboard.

#include <QAbstractButton>
#include <QColor>
#include <QString>

namespace harmolune {

class FlatButton : public QAbstractButton {
    Q_OBJECT
  public:
    FlatButton(int index, const QString& tag, QColor fill, QWidget* parent);

    int Index() const { return index_; }
    const QString& Tag() const { return tag_; }
    QColor Fill() const { return fill_; }
    // Black on the white keys, white on the black keys and the strings.
    QColor FocusColour() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    int index_;
    QString tag_;
    QColor fill_;
};

}  // namespace harmolune
