#include "app/HelpWindow.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include "common/Sinks.h"

// The resource lives in a static library: it is registered by hand, outside any namespace.
static void registerHelpResource() {
    Q_INIT_RESOURCE(help);
}

namespace vindaru::app {

namespace {
// Compiled into the program (see CMakeLists.txt): the README and the pictures it shows.
constexpr const char* kReadme = ":/help/README.md";
constexpr const char* kBase = "qrc:/help/";
// The pictures are page-sized: in the table's first column they are shown at a column's width.
void fitPictures(QTextDocument* document) {
    constexpr int kPictureWidth = 360;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat()) continue;
            QTextImageFormat picture = fragment.charFormat().toImageFormat();
            picture.setWidth(kPictureWidth);
            QTextCursor cursor(document);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(picture);
        }
    }
}

} // namespace

QString HelpWindow::wizardSection(const QString& readme) {
    const QRegularExpression start(QStringLiteral("^## The wizard\\s*$"),
                                   QRegularExpression::MultilineOption);
    const QRegularExpressionMatch found = start.match(readme);
    if (!found.hasMatch()) return readme;
    const qsizetype from = found.capturedStart();
    const QRegularExpression next(QStringLiteral("^## "), QRegularExpression::MultilineOption);
    const QRegularExpressionMatch end = next.match(readme, found.capturedEnd());
    return readme.mid(from, end.hasMatch() ? end.capturedStart() - from : -1);
}

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("%1 Help").arg(QString::fromUtf8(kApplicationTitle)));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setAttribute(Qt::WA_DeleteOnClose);
    browser_ = new QTextBrowser(this);
    browser_->setOpenExternalLinks(false);
    browser_->setOpenLinks(false);
    registerHelpResource();
    QFile file(QString::fromUtf8(kReadme));
    QString text = tr("The help page is missing from this build.");
    if (file.open(QIODevice::ReadOnly)) text = wizardSection(QString::fromUtf8(file.readAll()));
    browser_->document()->setBaseUrl(QUrl(QString::fromUtf8(kBase)));
    browser_->setMarkdown(text);
    fitPictures(browser_->document());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(browser_, 1);
    layout->addWidget(buttons);
    resize(900, 640);
}

HelpWindow* HelpWindow::showHelp(QWidget* parent) {
    static QPointer<HelpWindow> window;
    if (!window) window = new HelpWindow(parent);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

} // namespace vindaru::app
