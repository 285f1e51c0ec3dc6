#include "app/COrdavinApp.h"

#include <QApplication>
#include <QMessageBox>

#include "app/UiDialogs.h"
#include "app/UiMessageSink.h"
#include "app/VhdInputDialog.h"
#include "image/readWriteInterface.h"

namespace vindaru::app {

COrdavinApp::COrdavinApp(const QString& lockFolder) : guard_(lockFolder) {
    session.rootItemName = "ROOT";
}

COrdavinApp::~COrdavinApp() {
    // Later pages are children of the image page: they stop and join their workers here,
    // while the session reader they use still exists.
    imagePage_.reset();
}

bool COrdavinApp::start() {
    if (!guard_.claim()) {
        UiMessageSink::showBox(nullptr,
                               Message{"Another instance of application is already running", true,
                                       MessageIcon::Information, MessageButtons::Ok});
        return false;
    }
    session.driveFormatted.store(false);
    session.searchPattern.clear();
    imagePage_ = std::make_unique<VhdInputDialog>(*this);
    imagePage_->show();
    return true;
}

int COrdavinApp::run() {
    if (!start()) return 0;
    QApplication::setQuitOnLastWindowClosed(false);
    return QApplication::exec();
}

void COrdavinApp::quit() {
    quitRequested_ = true;
    UiDialogs::openUrl(QUrl(QString::fromUtf8(kHomepageUrl)));
    QApplication::quit();
}

} // namespace vindaru::app
