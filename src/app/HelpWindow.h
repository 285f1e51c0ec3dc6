// The help page shipped with the program: the user's help (what each page does) with pictures of
// the pages, in a window of its own, for when no web browser is there to show the online help.
#pragma once

#include <QDialog>
#include <QString>

class QTextBrowser;

namespace vindaru::app {

class HelpWindow : public QDialog {
    Q_OBJECT
  public:
    explicit HelpWindow(QWidget* parent = nullptr);

    QTextBrowser* browser() const { return browser_; }

    // The one help window, created on first use and raised on every later one.
    static HelpWindow* showHelp(QWidget* parent);
  protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void fitPictures();

    QTextBrowser* browser_;
};

} // namespace vindaru::app
