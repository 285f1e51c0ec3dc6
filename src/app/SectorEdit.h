// An edit for a sector number with up and down arrows beside it (a 64-bit number: a spin box
// holds only an int).
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace vindaru::app {

class SectorEdit : public QWidget {
    Q_OBJECT
  public:
    explicit SectorEdit(QWidget* parent = nullptr);
    QString text() const;
    void setText(const QString& text);
    QLineEdit* edit() const { return edit_; }
    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

  private:
    void step(bool up);
    QLineEdit* edit_;
    QToolButton* up_;
    QToolButton* down_;
};

} // namespace vindaru::app
