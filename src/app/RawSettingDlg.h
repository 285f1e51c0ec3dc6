// The signature editor ("Setting"): one record per Save appended to the settings file chosen
// with "...". The rules are RawSettingLogic's; this shows the fields and their help buttons.
#pragma once

#include <QDialog>
#include <array>
#include <filesystem>
#include <memory>

#include "app/UiMessageSink.h"
#include "pages/RawSettingLogic.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace vindaru::app {

class RawSettingDlg : public QDialog {
    Q_OBJECT
  public:
    explicit RawSettingDlg(QWidget* parent = nullptr);

    // The text fields in the order of SignatureFields (the check box apart).
    enum Field { Extension, Start, StartOffset, End, SizeOffset, BytesInSize, HeaderSize, Skip, Approx, Category, FieldCount };
    QLineEdit* field(Field f) const { return fields_[static_cast<std::size_t>(f)]; }
    QCheckBox* includesHeaderBox() const { return includesHeader_; }
    // Help buttons in the order of RawSettingLogic::helpTexts().
    QToolButton* helpButton(std::size_t i) const { return help_[i]; }
    QLineEdit* pathEdit() const { return path_; }
    QPushButton* browseButton() const { return browse_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }
    const RawSettingLogic& logic() const { return *logic_; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    SignatureFields currentFields() const;
    void chooseFile();
    // Before the program's own signature file is emptied: a copy beside it. False (after a
    // message) when no copy could be made.
    bool backUpDefaultFile(const std::filesystem::path& path);

    UiMessageSink messages_;
    std::unique_ptr<RawSettingLogic> logic_;
    std::array<QLineEdit*, FieldCount> fields_{};
    QCheckBox* includesHeader_;
    std::array<QToolButton*, 11> help_{};
    QLineEdit* path_;
    QPushButton* browse_;
    QPushButton* save_;
    QPushButton* ok_;
    QPushButton* cancel_;
};

} // namespace vindaru::app
