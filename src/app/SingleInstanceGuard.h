// One wizard per user: a lock file named after the program's global guard name, in the user's
// runtime folder. A lock left by a crashed run is taken over (its process is gone).
#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

namespace vindaru::app {

inline constexpr const char* kInstanceGuardName = "Global\\{VINDARUGUARD}";

class SingleInstanceGuard {
  public:
    // `folder` empty: the user's runtime folder, or the temp folder when there is none.
    explicit SingleInstanceGuard(const QString& folder = QString());
    ~SingleInstanceGuard();

    // True when this process now holds the lock (or already did).
    bool claim();
    bool held() const { return held_; }
    const QString& path() const { return path_; }

    // The guard name made into a file name: the backslash cannot be part of one.
    static QString lockFileName();

  private:
    QString path_;
    std::unique_ptr<QLockFile> lock_;
    bool held_ = false;
};

} // namespace vindaru::app
