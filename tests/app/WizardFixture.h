// A wizard started as a user starts it, with its own lock folder, the file and folder dialogs
// answered by the test, and every message box answered by a BoxAnswerer.
#pragma once

#include <QString>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

#include "app/COrdavinApp.h"
#include "app/GuiTestSupport.h"
#include "app/UiDialogs.h"
#include "app/VhdInputDialog.h"
#include "support/TestSupport.h"

namespace vindaru::test {

class WizardFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        app::UiDialogs::setOpenFileHook(
            [this](QWidget*, const QString&, const QString&) { return nextFile; });
        app::UiDialogs::setFolderHook([this](QWidget*, const QString&) { return nextFolder; });
        app::UiDialogs::setUrlHook([this](const QUrl& url) { urls.push_back(url); });
        wizard =
            std::make_unique<app::COrdavinApp>(QString::fromStdString(lockDir.path().string()));
    }
    void TearDown() override {
        wizard.reset();
        app::UiDialogs::setOpenFileHook({});
        app::UiDialogs::setFolderHook({});
        app::UiDialogs::setUrlHook({});
    }
    app::VhdInputDialog* imagePage() const { return wizard->imagePage(); }

    ScratchDir lockDir;
    BoxAnswerer boxes;
    QString nextFile;
    QString nextFolder;
    std::vector<QUrl> urls;
    std::unique_ptr<app::COrdavinApp> wizard;
};

} // namespace vindaru::test
