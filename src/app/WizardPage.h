// What every page of the wizard shares: the caption, buttons with icons and tool tips, the Help
// menu, Enter and Escape doing nothing, the close prompt, and the hand-over to the next page
// (shown in this page's place, this page hidden and kept as it is) and back.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QStyle>
#include <initializer_list>

#include "app/UiMessageSink.h"

class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;
class QToolButton;

namespace vindaru::app {
class UiProgressSink;
}

namespace vindaru {
struct Session;
}

namespace vindaru::app {

class COrdavinApp;

class WizardPage : public QDialog {
    Q_OBJECT
  public:
    WizardPage(COrdavinApp& app, WizardPage* previous);

    COrdavinApp& application() const { return app_; }
    Session& session() const;
    WizardPage* previousPage() const { return previous_; }
    UiMessageSink& messages() { return messages_; }

    // Stops whatever this page runs, without waiting; the close prompt and quitting call it.
    virtual void stopEngines() {}
    // What long work the page runs now ("A save is running."), empty when none: the close
    // prompt says what closing would cut short.
    virtual QString runningWork() const { return {}; }

    // Back, as the user presses it: the previous page comes back, this one goes away.
    void goBack();

    // Each page opens with the size and position of the one it replaces (never below its own
    // minimum, which its layout sets so that no text is cut).
    void takePlaceOf(const QWidget* other);

    // The size a page first opens with (the original dialog units on a common screen).
    static constexpr int kPageWidth = 860;
    static constexpr int kPageHeight = 580;

  protected:
    QPushButton* makeButton(const QString& text, QStyle::StandardPixmap icon,
                            const QString& toolTip);
    QPushButton* makeIconButton(QStyle::StandardPixmap icon, const QString& toolTip);
    QToolButton* makeHelpButton();
    // The sunken one-line status text of the pages that run engines.
    QLabel* makeStatusLine(const QString& text = QString());
    QPushButton* makeBackButton();
    QPushButton* makeNextButton();
    // Help on the left, the given buttons on the right in order.
    QHBoxLayout* makeButtonRow(QToolButton* help, std::initializer_list<QPushButton*> right);
    // Pause, Resume and Stop, with their icons only.
    void makeThreadButtons(QPushButton*& pause, QPushButton*& resume, QPushButton*& stop);
    // Pause and Resume and the bar show whether the work waits.
    static void showPaused(QPushButton* pause, QPushButton* resume, UiProgressSink& bar,
                           bool paused);
    // A progress bar with buttons beside it.
    QHBoxLayout* makeProgressRow(QProgressBar*& bar, std::initializer_list<QPushButton*> buttons);
    // The page's own layout under a banner naming the step: the margins every page uses.
    QVBoxLayout* makePageLayout(const QString& title, const QString& subtitle, int spacing = 12);
    // Hidden controls keep their place, so that a page does not jump when they appear.
    static void keepPlaceWhenHidden(std::initializer_list<QWidget*> widgets);

    // Shows `next` where this page is and hides this page, which keeps its state.
    void showNext(WizardPage* next);
    // Hook run before Back shows the previous page (stop engines, release records...).
    virtual void leavingBack() {}

    // Messages of the page itself, on the UI thread.
    void info(const std::string& text) { messages_.info(text); }
    void infoNoCaption(const std::string& text) { messages_.infoNoCaption(text); }

    virtual QMessageBox::Icon closePromptIcon() const { return QMessageBox::Question; }

    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override {}

  private:
    COrdavinApp& app_;
    QPointer<WizardPage> previous_;
    UiMessageSink messages_;
};

} // namespace vindaru::app
