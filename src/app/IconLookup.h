// The icons of the tree and the list: the folder icon, the icon the desktop associates with a
// file name's extension (the file need not exist), and the placeholder's image.
#pragma once

#include <QHash>
#include <QIcon>
#include <QString>

#include "common/CheckTree.h"

namespace vindaru::app {

class IconLookup {
  public:
    IconLookup();
    QIcon folderIcon() const { return folder_; }
    QIcon iconForName(const QString& name);
    QIcon icon(IconKind kind, const QString& label);

    // Without a desktop session no icon theme is set; use an installed one when there is one.
    static void chooseIconTheme();

  private:
    QIcon folder_;
    QIcon file_;
    QIcon placeholder_;
    QHash<QString, QIcon> bySuffix_;
};

} // namespace vindaru::app
