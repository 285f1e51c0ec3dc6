// Where the wizard asks the desktop for a file, a folder or a web page. The hooks let the GUI
// tests answer the file dialogs as a user would and keep a test run from starting a browser.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

namespace vindaru::app {

class UiDialogs {
  public:
    using OpenFileHook =
        std::function<QString(QWidget* parent, const QString& caption, const QString& filter)>;
    using FolderHook = std::function<QString(QWidget* parent, const QString& caption)>;
    using UrlHook = std::function<void(const QUrl& url)>;

    // An existing file; empty when the user cancels.
    static QString openFile(QWidget* parent, const QString& caption, const QString& filter);
    // An existing folder; empty when the user cancels.
    static QString chooseFolder(QWidget* parent, const QString& caption);
    static void openUrl(const QUrl& url);
    // A file to create; the dialog asks before an existing one is replaced. Empty on cancel.
    static QString saveFile(QWidget* parent, const QString& caption, const QString& filter);

    static void setOpenFileHook(OpenFileHook hook);
    static void setFolderHook(FolderHook hook);
    static void setUrlHook(UrlHook hook);
    static void setSaveFileHook(OpenFileHook hook);
};

// The product's own web addresses (the reserved .example domain until a site exists).
inline constexpr const char* kHelpUrl = "https://www.vindaru.example/help";
inline constexpr const char* kHomepageUrl = "https://www.vindaru.example/";
inline constexpr const char* kSupportMail = "mailto:support@vindaru.example";
inline constexpr const char* kSalesMail = "mailto:sales@vindaru.example";

} // namespace vindaru::app
