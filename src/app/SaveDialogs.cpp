#include "app/SaveDialogs.h"

#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "app/UiDialogs.h"
#include "app/UiMessageSink.h"
#include "common/Sinks.h"

namespace vindaru::app {

EntrySaver::ExistingFiles SaveDialogs::takenBox(QWidget* parent, const QString& name) {
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(kApplicationTitle),
                    QString::fromUtf8(kTakenQuestion).arg(name), QMessageBox::NoButton, parent);
    QPushButton* replace = box.addButton(QObject::tr("Replace"), QMessageBox::DestructiveRole);
    QPushButton* keep = box.addButton(QObject::tr("Keep Both"), QMessageBox::AcceptRole);
    QPushButton* skip = box.addButton(QObject::tr("Skip"), QMessageBox::RejectRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    box.exec();
    if (box.clickedButton() == replace) return EntrySaver::ExistingFiles::Replace;
    if (box.clickedButton() == skip) return EntrySaver::ExistingFiles::Skip;
    return EntrySaver::ExistingFiles::KeepBoth;
}

EntrySaver::ExistingFiles SaveDialogs::askTaken(UiMessageSink& sink, const std::string& name) {
    const QString shown = QString::fromStdString(name);
    return static_cast<EntrySaver::ExistingFiles>(
        sink.ask([shown](QWidget* owner) { return static_cast<int>(takenBox(owner, shown)); },
                 static_cast<int>(EntrySaver::ExistingFiles::KeepBoth)));
}

void SaveDialogs::showSummary(QWidget* parent, const SaveSummary& summary) {
    // Only a save that wrote every file it found whole is announced as done.
    const QMessageBox::Icon icon = !summary.outputError.empty() ? QMessageBox::Critical
                                   : summary.complete()         ? QMessageBox::Information
                                                                : QMessageBox::Warning;
    QMessageBox box(icon, QString::fromUtf8(kApplicationTitle),
                    QString::fromStdString(summary.headline()), QMessageBox::Ok, parent);
    if (!summary.outputError.empty()) {
        box.setInformativeText(QString::fromStdString(summary.outputError) + QStringLiteral(".\n") +
                               QObject::tr("Choose another output folder and save again."));
        box.exec();
        return;
    }
    QString details = QString::fromStdString(summary.text()) + QStringLiteral(".\n") +
                      QObject::tr("Output folder: %1")
                          .arg(QString::fromStdString(summary.outputFolder.string()));
    if (!summary.incomplete.empty()) {
        details += QStringLiteral("\n\n") + QObject::tr("Not read fully:");
        constexpr std::size_t kListed = 12; // the rest are in the details
        for (std::size_t i = 0; i < summary.incomplete.size() && i < kListed; ++i)
            details += QStringLiteral("\n  ") + QString::fromStdString(summary.incomplete[i]);
        if (summary.incomplete.size() > kListed) {
            QString all;
            for (const std::string& path : summary.incomplete)
                all += QString::fromStdString(path) + QLatin1Char('\n');
            box.setDetailedText(all);
        }
    }
    box.setInformativeText(details);
    UiMessageSink::keepCaptionWhole(box);
    // The box stays open after the folder is shown, for the rest of the summary.
    QPushButton* open = box.addButton(QObject::tr("Open Output Folder"), QMessageBox::ActionRole);
    const QUrl folder = QUrl::fromLocalFile(QString::fromStdString(summary.outputFolder.string()));
    QObject::connect(open, &QPushButton::clicked, &box, [folder] { UiDialogs::openUrl(folder); });
    box.exec();
}

} // namespace vindaru::app
