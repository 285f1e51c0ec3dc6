#include "app/HelpWindow.h"

#include <algorithm>

#include <QDialogButtonBox>
#include <QFile>
#include <QImage>
#include <QPointer>
#include <QPushButton>
#include <QResizeEvent>
#include <QShowEvent>
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
// Compiled into the program (see CMakeLists.txt): the user's help and the pictures it shows.
constexpr const char* kHelp = ":/help/docs/help/help.md";
constexpr const char* kBase = "qrc:/help/docs/help/";
} // namespace

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("%1 Help").arg(QString::fromUtf8(kApplicationTitle)));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setAttribute(Qt::WA_DeleteOnClose);
    browser_ = new QTextBrowser(this);
    browser_->setOpenExternalLinks(false);
    browser_->setOpenLinks(false);
    registerHelpResource();
    QFile file(QString::fromUtf8(kHelp));
    QString text = tr("The help page is missing from this build.");
    if (file.open(QIODevice::ReadOnly)) text = QString::fromUtf8(file.readAll());
    browser_->document()->setBaseUrl(QUrl(QString::fromUtf8(kBase)));
    browser_->setMarkdown(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(browser_, 1);
    layout->addWidget(buttons);
    resize(900, 640);
}

void HelpWindow::fitPictures() {
    // Each picture is a whole page of the wizard: shown across the window's width (never wider
    // than it was taken), so that its texts can be read.
    QTextDocument* document = browser_->document();
    const qreal width = browser_->viewport()->width() - 2 * document->documentMargin() - 4;
    if (width <= 0) return;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat()) continue;
            QTextImageFormat picture = fragment.charFormat().toImageFormat();
            const QVariant data = document->resource(QTextDocument::ImageResource, QUrl(picture.name()));
            QImage image = data.value<QImage>();
            if (image.isNull()) image = QImage::fromData(data.toByteArray());
            const qreal natural = image.isNull() ? width : image.width();
            const qreal shown = std::min(width, natural);
            picture.setWidth(shown);
            if (!image.isNull()) picture.setHeight(shown * image.height() / image.width());
            QTextCursor cursor(document);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(picture);
        }
    }
}

void HelpWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    fitPictures();
}

void HelpWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    fitPictures();
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
