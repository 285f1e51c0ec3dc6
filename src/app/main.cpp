// vindaru: the wizard. One instance per user; the image page is the main window.
#include <QApplication>
#include <QStyle>
#include <cstdio>
#include <cstring>

#include "app/COrdavinApp.h"
#include "app/IconLookup.h"
#include "common/Sinks.h"

#ifndef VINDARU_VERSION
#define VINDARU_VERSION "unknown"
#endif

int main(int argc, char** argv) {
    // Answered before Qt starts, so it works without a display (packaging checks, scripts).
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-V") == 0) {
            std::printf("vindaru " VINDARU_VERSION "\n");
            return 0;
        }
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vindaru"));
    QApplication::setApplicationVersion(QStringLiteral(VINDARU_VERSION));
    vindaru::app::IconLookup::chooseIconTheme();
    QApplication::setWindowIcon(QApplication::style()->standardIcon(QStyle::SP_DriveHDIcon));

    vindaru::app::COrdavinApp wizard;
    return wizard.run();
}
