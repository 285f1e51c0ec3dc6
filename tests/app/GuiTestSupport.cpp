#include "app/GuiTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>

namespace vindaru::test {

BoxAnswerer::BoxAnswerer() {
    connect(&timer_, &QTimer::timeout, this, &BoxAnswerer::tick);
    timer_.start(25);
}

void BoxAnswerer::tick() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box || !box->isVisible() || box->property("answered").toBool()) continue;
        box->setProperty("answered", true);
        texts_ << box->text();
        captions_ << box->windowTitle();
        if (hook_) hook_(box);
        QAbstractButton* button = nullptr;
        if (auto it = answers_.find(box->text()); it != answers_.end())
            button = box->button(it->second);
        for (const auto& [prefix, answer] : prefixAnswers_)
            if (!button && box->text().startsWith(prefix)) button = box->button(answer);
        if (!button) button = box->button(QMessageBox::Yes);
        if (!button) button = box->button(QMessageBox::Ok);
        if (button)
            QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
    }
}

bool BoxAnswerer::waitFor(const QString& text, int timeoutMs) {
    return waitUntil([&] { return texts_.contains(text); }, timeoutMs);
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) return false;
        QTest::qWait(10);
    }
    return true;
}

void saveScreenshot(QWidget* widget, const QString& name) {
    const QString dir = QStringLiteral(VINDARU_GUI_SCREENS_DIR);
    QDir().mkpath(dir);
    widget->grab().save(QDir(dir).filePath(name + QStringLiteral(".png")));
}

} // namespace vindaru::test
