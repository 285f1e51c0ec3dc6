#include "app/IconLookup.h"

#include <QApplication>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStyle>

namespace vindaru::app {

void IconLookup::chooseIconTheme() {
    const QString current = QIcon::themeName();
    if (!current.isEmpty() && current != QLatin1String("hicolor")) return;
    for (const char* theme : {"Adwaita", "breeze", "oxygen", "gnome", "Tango"}) {
        if (QDir(QStringLiteral("/usr/share/icons/") + QLatin1String(theme)).exists()) {
            QIcon::setThemeName(QLatin1String(theme));
            return;
        }
    }
}

IconLookup::IconLookup() {
    QStyle* style = QApplication::style();
    folder_ = QIcon::fromTheme(QStringLiteral("folder"), style->standardIcon(QStyle::SP_DirIcon));
    file_ = QIcon::fromTheme(QStringLiteral("text-x-generic"),
                             style->standardIcon(QStyle::SP_FileIcon));
    placeholder_ = style->standardIcon(QStyle::SP_FileIcon);
}

QIcon IconLookup::iconForName(const QString& name) {
    const QString suffix = QFileInfo(name).suffix().toLower();
    if (suffix.isEmpty()) return file_;
    auto it = bySuffix_.constFind(suffix);
    if (it != bySuffix_.constEnd()) return *it;

    static const QMimeDatabase mimes;
    const QMimeType mime = mimes.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    QIcon icon;
    if (mime.isValid() && !mime.isDefault()) {
        icon = QIcon::fromTheme(mime.iconName());
        if (icon.isNull()) icon = QIcon::fromTheme(mime.genericIconName());
    }
    if (icon.isNull()) icon = QFileIconProvider().icon(QFileInfo(name));
    if (icon.isNull()) icon = file_;
    bySuffix_.insert(suffix, icon);
    return icon;
}

QIcon IconLookup::icon(IconKind kind, const QString& label) {
    switch (kind) {
    case IconKind::Folder:
        return folder_;
    case IconKind::Placeholder:
        return placeholder_;
    case IconKind::ByExtension:
        break;
    }
    return iconForName(label);
}

} // namespace vindaru::app
