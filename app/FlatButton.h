#pragma once
// A captionless button drawn flat in one fill colour: the piano keys and the
// guitar string buttons. It carries the member index of its control array
// (Clavier 0 to 11, Corde 4 to 28) and its tag, the note name it shows.

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

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int index_;
    QString tag_;
    QColor fill_;
};

}  // namespace harmolune
