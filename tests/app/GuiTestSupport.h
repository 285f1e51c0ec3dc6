// Driving the wizard as a user would: message boxes are read and answered by a watcher (as a
// user clicks them), file dialogs are answered through the UiDialogs hooks, and every page can
// be saved as a screenshot into the build folder's gui-screens/.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <map>

namespace vindaru::test {

// Answers every message box that appears: the answer given for its text, otherwise Yes when
// the box asks, otherwise OK. Keeps the texts and captions seen, in order.
class BoxAnswerer : public QObject {
    Q_OBJECT
  public:
    BoxAnswerer();
    void answer(const QString& text, QMessageBox::StandardButton button) {
        answers_[text] = button;
    }
    // The answer for every box whose text starts with `prefix` (texts that name an id or a size).
    void answerStartingWith(const QString& prefix, QMessageBox::StandardButton button) {
        prefixAnswers_[prefix] = button;
    }
    // Called with each box before it is answered (for screenshots).
    void onBox(std::function<void(QMessageBox*)> hook) { hook_ = std::move(hook); }
    const QStringList& texts() const { return texts_; }
    const QStringList& captions() const { return captions_; }
    int count(const QString& text) const { return static_cast<int>(texts_.count(text)); }
    // Waits (running the event loop) until a box with this text has been answered.
    bool waitFor(const QString& text, int timeoutMs = 20000);
    void clear() {
        texts_.clear();
        captions_.clear();
    }

  private:
    void tick();
    QTimer timer_;
    QStringList texts_;
    QStringList captions_;
    std::map<QString, QMessageBox::StandardButton> answers_;
    std::map<QString, QMessageBox::StandardButton> prefixAnswers_;
    std::function<void(QMessageBox*)> hook_;
};

// Runs the event loop until `condition` holds or the time is up.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 30000);
// Saves the widget's picture as gui-screens/<name>.png in the build folder.
void saveScreenshot(QWidget* widget, const QString& name);

// The visible top-level widget of type T, or null.
template <typename T> T* visiblePage() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* page = qobject_cast<T*>(w); page && page->isVisible()) return page;
    }
    return nullptr;
}

} // namespace vindaru::test
