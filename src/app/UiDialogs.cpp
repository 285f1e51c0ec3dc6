#include "app/UiDialogs.h"

#include <QDesktopServices>
#include <QFileDialog>

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
} // namespace

QString UiDialogs::openFile(QWidget* parent, const QString& caption, const QString& filter) {
    if (openFileHook()) return openFileHook()(parent, caption, filter);
    return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

QString UiDialogs::chooseFolder(QWidget* parent, const QString& caption) {
    if (folderHook()) return folderHook()(parent, caption);
    return QFileDialog::getExistingDirectory(parent, caption, QString(), QFileDialog::ShowDirsOnly);
}

void UiDialogs::openUrl(const QUrl& url) {
    if (urlHook()) {
        urlHook()(url);
        return;
    }
    QDesktopServices::openUrl(url);
}

QString UiDialogs::saveFile(QWidget* parent, const QString& caption, const QString& filter) {
    if (saveFileHook()) return saveFileHook()(parent, caption, filter);
    return QFileDialog::getSaveFileName(parent, caption, QString(), filter);
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

} // namespace vindaru::app
