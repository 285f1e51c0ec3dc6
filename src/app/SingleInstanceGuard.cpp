#include "app/SingleInstanceGuard.h"

#include <QDir>
#include <QStandardPaths>
#include <unistd.h>

namespace vindaru::app {

QString SingleInstanceGuard::lockFileName() {
    QString name = QString::fromLatin1(kInstanceGuardName);
    name.replace(QLatin1Char('\\'), QLatin1Char('-'));
    return QStringLiteral("vindaru-") + name + QStringLiteral(".lock");
}

SingleInstanceGuard::SingleInstanceGuard(const QString& folder) {
    QString dir = folder;
    if (dir.isEmpty()) dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath() + QStringLiteral("/vindaru-%1").arg(getuid());
    QDir().mkpath(dir);
    path_ = QDir(dir).filePath(lockFileName());
    lock_ = std::make_unique<QLockFile>(path_);
    // Only a dead owner makes the lock stale, never its age: a wizard may run for days.
    lock_->setStaleLockTime(0);
}

SingleInstanceGuard::~SingleInstanceGuard() {
    if (held_) lock_->unlock();
}

bool SingleInstanceGuard::claim() {
    if (!held_) held_ = lock_->tryLock(0);
    return held_;
}

} // namespace vindaru::app
