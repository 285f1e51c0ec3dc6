// The About box of the Help menu.
#pragma once

#include <QDialog>

class QPushButton;

namespace vindaru::app {

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QPushButton* websiteButton() const { return website_; }
    QPushButton* supportButton() const { return support_; }
    QPushButton* salesButton() const { return sales_; }

  private:
    QPushButton* makeLink(const QString& text, const QString& url, const QString& toolTip);

    QPushButton* website_;
    QPushButton* support_;
    QPushButton* sales_;
};

} // namespace vindaru::app
