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
    using BrowserHook = std::function<bool()>;

    // An existing file; empty when the user cancels.
    static QString openFile(QWidget* parent, const QString& caption, const QString& filter);
    // An existing folder; empty when the user cancels.
    static QString chooseFolder(QWidget* parent, const QString& caption);
    // False when the desktop could not hand the address to any program.
    static bool openUrl(const QUrl& url);
    // Whether a web browser is there to show a web page (a desktop session with a browser).
    static bool browserAvailable();
    // A file to create; the dialog asks before an existing one is replaced. Empty on cancel.
    // `confirmOverwrite` false: the caller asks its own question about an existing file.
    static QString saveFile(QWidget* parent, const QString& caption, const QString& filter,
                            bool confirmOverwrite = true);

    static void setOpenFileHook(OpenFileHook hook);
    static void setFolderHook(FolderHook hook);
    static void setUrlHook(UrlHook hook);
    static void setSaveFileHook(OpenFileHook hook);
    static void setBrowserHook(BrowserHook hook);
};

// The product's own web addresses (the reserved .example domain until a site exists).
inline constexpr const char* kHelpUrl = "https://www.vindaru.example/help";
inline constexpr const char* kHomepageUrl = "https://www.vindaru.example/";
inline constexpr const char* kSupportMail = "mailto:support@vindaru.example";
inline constexpr const char* kSalesMail = "mailto:sales@vindaru.example";

} // namespace vindaru::app
