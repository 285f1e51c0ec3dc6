#include "app/UiDialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QStandardPaths>

namespace vindaru::app {

namespace {
UiDialogs::OpenFileHook& openFileHook() {
    static UiDialogs::OpenFileHook hook;
    return hook;
}
UiDialogs::FolderHook& folderHook() {
    static UiDialogs::FolderHook hook;
    return hook;
}
UiDialogs::UrlHook& urlHook() {
    static UiDialogs::UrlHook hook;
    return hook;
}
UiDialogs::OpenFileHook& saveFileHook() {
    static UiDialogs::OpenFileHook hook;
    return hook;
}
UiDialogs::BrowserHook& browserHook() {
    static UiDialogs::BrowserHook hook;
    return hook;
}
} // namespace

QString UiDialogs::openFile(QWidget* parent, const QString& caption, const QString& filter) {
    if (openFileHook()) return openFileHook()(parent, caption, filter);
    return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

QString UiDialogs::chooseFolder(QWidget* parent, const QString& caption) {
    if (folderHook()) return folderHook()(parent, caption);
    return QFileDialog::getExistingDirectory(parent, caption, QString(), QFileDialog::ShowDirsOnly);
}

bool UiDialogs::openUrl(const QUrl& url) {
    if (urlHook()) {
        urlHook()(url);
        return true;
    }
    return QDesktopServices::openUrl(url);
}

bool UiDialogs::browserAvailable() {
    if (browserHook()) return browserHook()();
    // Without a display no browser can show anything; xdg-open alone says nothing, as it is
    // installed where no browser is.
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return false;
    if (!qEnvironmentVariableIsEmpty("BROWSER")) return true;
    for (const char* name : {"x-www-browser", "sensible-browser", "firefox", "firefox-esr",
                             "chromium", "chromium-browser", "google-chrome", "epiphany-browser",
                             "epiphany", "konqueror", "falkon", "qutebrowser"})
        if (!QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty()) return true;
    return false;
}

QString UiDialogs::saveFile(QWidget* parent, const QString& caption, const QString& filter,
                            bool confirmOverwrite) {
    if (saveFileHook()) return saveFileHook()(parent, caption, filter);
    return QFileDialog::getSaveFileName(parent, caption, QString(), filter, nullptr,
                                        confirmOverwrite ? QFileDialog::Options()
                                                         : QFileDialog::DontConfirmOverwrite);
}

void UiDialogs::setOpenFileHook(OpenFileHook hook) {
    openFileHook() = std::move(hook);
}
void UiDialogs::setFolderHook(FolderHook hook) {
    folderHook() = std::move(hook);
}
void UiDialogs::setUrlHook(UrlHook hook) {
    urlHook() = std::move(hook);
}
void UiDialogs::setSaveFileHook(OpenFileHook hook) {
    saveFileHook() = std::move(hook);
}
void UiDialogs::setBrowserHook(BrowserHook hook) {
    browserHook() = std::move(hook);
}

} // namespace vindaru::app
