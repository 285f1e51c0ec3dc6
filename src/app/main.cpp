// vindaru: the wizard. One instance per user; the image page is the main window.
#include <QApplication>
#include <QStyle>

#include "app/COrdavinApp.h"
#include "app/IconLookup.h"
#include "common/Sinks.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vindaru"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    vindaru::app::IconLookup::chooseIconTheme();
    QApplication::setWindowIcon(QApplication::style()->standardIcon(QStyle::SP_DriveHDIcon));

    vindaru::app::COrdavinApp wizard;
    return wizard.run();
}
