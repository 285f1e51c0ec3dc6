// The help page shipped with the program: the README's wizard section with its pictures, in a
// window of its own, for when no web browser is there to show the online help.
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
    // The wizard section of the README text given: from its "## The wizard" heading up to the
    // next heading of the same level.
    static QString wizardSection(const QString& readme);

  private:
    QTextBrowser* browser_;
};

} // namespace vindaru::app
