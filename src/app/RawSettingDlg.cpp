#include "app/RawSettingDlg.h"

#include <filesystem>

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include "app/UiDialogs.h"
#include "common/Sinks.h"
#include "raw/DefaultSignatures.h"
#include "raw/signatureRecord.h"

namespace vindaru::app {

RawSettingDlg::RawSettingDlg(QWidget* parent) : QDialog(parent), messages_(this) {
    setWindowTitle(tr("Setting"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setModal(true);
    logic_ = std::make_unique<RawSettingLogic>(messages_);

    // Rows as on the dialog: label, field (or the check box), help button. `help` is the index
    // into the help texts.
    struct Row {
        const char* label;
        int field; // -1: the check box
    };
    const Row rows[] = {
        {"File Extention :", Extension},
        {"Starting Signature :", Start},
        {"Starting Signature Offset:", StartOffset},
        {"Ending Signature :", End},
        {"Offset to Size Byte :", SizeOffset},
        {"Number Of Bytes In Size :", BytesInSize},
        {nullptr, -1},
        {"Header size :", HeaderSize},
        {"Size_to_skip_WhileParsing :", Skip},
        {"Approx file size :", Approx},
        {"Put Under Category :", Category},
    };
    const std::vector<std::string>& helpTexts = RawSettingLogic::helpTexts();
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    for (int r = 0; r < static_cast<int>(std::size(rows)); ++r) {
        const Row& row = rows[r];
        if (row.field < 0) {
            includesHeader_ = new QCheckBox(tr("Size includes header size"), this);
            grid->addWidget(includesHeader_, r, 1);
        } else {
            grid->addWidget(new QLabel(tr(row.label), this), r, 0);
            auto* edit = new QLineEdit(this);
            edit->setMinimumWidth(300);
            if (row.field == Category) edit->setMaxLength(static_cast<int>(kCategoryUnits));
            fields_[static_cast<std::size_t>(row.field)] = edit;
            grid->addWidget(edit, r, 1);
        }
        auto* help = new QToolButton(this);
        help->setIcon(style()->standardIcon(QStyle::SP_MessageBoxQuestion));
        const QString text = QString::fromStdString(helpTexts[static_cast<std::size_t>(r)]);
        help->setToolTip(text);
        // Clicking shows the help at once, as hovering would.
        connect(help, &QToolButton::clicked, this, [help, text] {
            help->setToolTip(text);
            QToolTip::showText(help->mapToGlobal(QPoint(0, help->height())), text, help);
        });
        help_[static_cast<std::size_t>(r)] = help;
        grid->addWidget(help, r, 2);
    }

    auto* pathGroup = new QGroupBox(tr("Select Path to Save Entries"), this);
    path_ = new QLineEdit(pathGroup);
    path_->setReadOnly(true);
    browse_ = new QPushButton(tr("..."), pathGroup);
    save_ = new QPushButton(style()->standardIcon(QStyle::SP_DialogSaveButton), tr("Save"), pathGroup);
    auto* pathRow = new QHBoxLayout(pathGroup);
    pathRow->addWidget(path_, 1);
    pathRow->addWidget(browse_);
    pathRow->addWidget(save_);

    ok_ = new QPushButton(tr("OK"), this);
    cancel_ = new QPushButton(tr("Cancel"), this);
    for (QPushButton* b : {browse_, save_, ok_, cancel_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(pathGroup);
    layout->addLayout(buttons);

    connect(browse_, &QPushButton::clicked, this, &RawSettingDlg::chooseFile);
    connect(save_, &QPushButton::clicked, this, [this] { logic_->save(currentFields()); });
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

SignatureFields RawSettingDlg::currentFields() const {
    const auto text = [this](Field f) { return field(f)->text().toStdString(); };
    SignatureFields f;
    f.extension = text(Extension);
    f.startSignature = text(Start);
    f.startOffset = text(StartOffset);
    f.endSignature = text(End);
    f.sizeOffset = text(SizeOffset);
    f.bytesInSize = text(BytesInSize);
    f.sizeIncludesHeader = includesHeader_->isChecked();
    f.headerSize = text(HeaderSize);
    f.skipSize = text(Skip);
    f.approximateSize = text(Approx);
    f.category = text(Category);
    return f;
}

void RawSettingDlg::chooseFile() {
    // The file dialog does not ask about an existing file: the editor asks what to do with its
    // signatures, in its own words, below.
    const QString chosen =
        UiDialogs::saveFile(this, tr("Setting"), tr("All Files (*.*)"), false);
    if (chosen.isEmpty()) return;
    const std::filesystem::path path = chosen.toStdString();
    std::error_code ec;
    const std::uintmax_t bytes = std::filesystem::file_size(path, ec);
    bool keep = false;
    if (!ec && bytes > 0) {
        const std::uintmax_t records = bytes / kSignatureRecordBytes;
        QMessageBox box(QMessageBox::Question, QString::fromUtf8(kApplicationTitle),
                        tr("%1 already holds %2 signature%3.")
                            .arg(QString::fromStdString(path.filename().string()))
                            .arg(records)
                            .arg(records == 1 ? QString() : QStringLiteral("s")),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
        box.setInformativeText(
            tr("Add: the new signatures are added after them.\n"
               "Replace: the file is emptied first and its signatures are lost."));
        box.button(QMessageBox::Yes)->setText(tr("Add"));
        box.button(QMessageBox::No)->setText(tr("Replace"));
        box.setDefaultButton(QMessageBox::Yes);
        const int answer = box.exec();
        if (answer == QMessageBox::Cancel) return;
        keep = answer == QMessageBox::Yes;
        if (!keep && !backUpDefaultFile(path)) return;
    }
    if (logic_->chooseFile(chosen.toStdString(), keep)) path_->setText(chosen);
}

bool RawSettingDlg::backUpDefaultFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::equivalent(path, defaultSignaturePath(), ec)) return true;
    // The program's own set is never lost: the first free "FileSetting.txt.bak", ".bak2", ...
    std::filesystem::path backup = path;
    backup += ".bak";
    for (int n = 2; std::filesystem::exists(backup, ec) && n < 1000; ++n) {
        backup = path;
        backup += ".bak" + std::to_string(n);
    }
    if (!std::filesystem::copy_file(path, backup, std::filesystem::copy_options::none, ec)) {
        messages_.info("The default signature file could not be backed up (" + ec.message() +
                       "), so it is left as it is.");
        return false;
    }
    messages_.info("The default signature file was backed up as " + backup.string() + ".");
    return true;
}

void RawSettingDlg::keyPressEvent(QKeyEvent* event) {
    // Enter and Escape do nothing here, as on every page.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace vindaru::app
