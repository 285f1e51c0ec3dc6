// The application object: refuses a second instance, holds the session the pages and engines
// share, runs the image page as the main window and ends the program on the close prompt.
#pragma once

#include <QPointer>
#include <QString>
#include <memory>

#include "app/SingleInstanceGuard.h"
#include "common/Session.h"

namespace vindaru::app {

class VhdInputDialog;
class DriveParsingModes;
class PopulateDriveDlg;
class ParceModeNtfsDlg;
class advanceOptions;
class VolumeScanDlg;

class COrdavinApp {
  public:
    // `lockFolder` empty: the user's runtime folder (tests pass a folder of their own).
    explicit COrdavinApp(const QString& lockFolder = QString());
    ~COrdavinApp();
    COrdavinApp(const COrdavinApp&) = delete;
    COrdavinApp& operator=(const COrdavinApp&) = delete;

    // Start-up: a second instance says so and returns false; otherwise the image page is
    // created and shown as the main window.
    bool start();
    // start() followed by the event loop; the process's exit code.
    int run();
    // The close prompt's Yes: the home page is opened and the event loop ends.
    void quit();
    bool quitRequested() const { return quitRequested_; }

    Session session;

    // The page last created at each step; a page hands its choices on to the next through them.
    VhdInputDialog* imagePage() const { return imagePage_.get(); }
    QPointer<DriveParsingModes> modesPage;
    QPointer<PopulateDriveDlg> volumePage;
    QPointer<ParceModeNtfsDlg> recoveryModePage;
    QPointer<advanceOptions> advanceOptionsPage;
    QPointer<VolumeScanDlg> scanPage;
    QPointer<VolumeScanDlg> advancedScanPage;

  private:
    SingleInstanceGuard guard_;
    bool quitRequested_ = false;
    // Declared after the session: the pages and their engines go before the reader they use.
    std::unique_ptr<VhdInputDialog> imagePage_;
};

} // namespace vindaru::app
