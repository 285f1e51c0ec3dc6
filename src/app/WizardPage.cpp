#include "app/WizardPage.h"

#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QShowEvent>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/CAboutDlg.h"
#include "app/COrdavinApp.h"
#include "app/HelpWindow.h"
#include "app/UiDialogs.h"
#include "app/UiProgressSink.h"
#include "common/Sinks.h"

namespace vindaru::app {

WizardPage::WizardPage(COrdavinApp& app, WizardPage* previous)
    : QDialog(previous), app_(app), previous_(previous), messages_(this) {
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    // The user may size a page; its layout keeps it large enough for every text it shows.
    resize(kPageWidth, kPageHeight);
}

void WizardPage::takePlaceOf(const QWidget* other) {
    const QSize wanted = other->size().expandedTo(minimumSizeHint());
    resize(wanted);
    move(other->pos());
}

void WizardPage::showEvent(QShowEvent* event) {
    // A page is never smaller than its layout needs, however it was sized before.
    if (layout()) resize(size().expandedTo(layout()->minimumSize()));
    QDialog::showEvent(event);
}

Session& WizardPage::session() const {
    return app_.session;
}

QPushButton* WizardPage::makeButton(const QString& text, QStyle::StandardPixmap icon,
                                    const QString& toolTip) {
    auto* button = new QPushButton(style()->standardIcon(icon), text, this);
    button->setToolTip(toolTip);
    // Enter must never press a button on a page.
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setMinimumWidth(96);
    return button;
}

QPushButton* WizardPage::makeIconButton(QStyle::StandardPixmap icon, const QString& toolTip) {
    QPushButton* button = makeButton(QString(), icon, toolTip);
    button->setMinimumWidth(40);
    return button;
}

QToolButton* WizardPage::makeHelpButton() {
    auto* button = new QToolButton(this);
    button->setText(tr("Help"));
    button->setToolTip(tr("Help"));
    button->setIcon(style()->standardIcon(QStyle::SP_MessageBoxQuestion));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setMinimumWidth(96);
    auto* menu = new QMenu(button);
    menu->addAction(tr("Help"), this, [this] {
        if (UiDialogs::browserAvailable() && UiDialogs::openUrl(QUrl(QString::fromUtf8(kHelpUrl))))
            return;
        // No browser: the help page shipped with the program, kept by the first page, which
        // lives as long as the program.
        WizardPage* first = this;
        while (first->previousPage())
            first = first->previousPage();
        HelpWindow::showHelp(first);
    });
    menu->addAction(tr("Software Homepage"), this,
                    [] { UiDialogs::openUrl(QUrl(QString::fromUtf8(kHomepageUrl))); });
    menu->addAction(tr("About"), this, [this] {
        CAboutDlg about(this);
        about.exec();
    });
    button->setMenu(menu);
    return button;
}

QLabel* WizardPage::makeStatusLine(const QString& text) {
    auto* status = new QLabel(text, this);
    status->setFrameShape(QFrame::StyledPanel);
    status->setFrameShadow(QFrame::Sunken);
    status->setMinimumHeight(26);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long status text must not widen the fixed-size page.
    status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    return status;
}

QPushButton* WizardPage::makeBackButton() {
    return makeButton(tr("Back"), QStyle::SP_ArrowLeft, tr("Back"));
}

QPushButton* WizardPage::makeNextButton() {
    QPushButton* next = makeButton(tr("Next"), QStyle::SP_ArrowRight, tr("Next"));
    next->setLayoutDirection(Qt::RightToLeft); // the arrow after the text
    return next;
}

QHBoxLayout* WizardPage::makeButtonRow(QToolButton* help,
                                       std::initializer_list<QPushButton*> right) {
    auto* row = new QHBoxLayout;
    if (help) row->addWidget(help);
    row->addStretch(1);
    for (QPushButton* button : right)
        row->addWidget(button);
    return row;
}

void WizardPage::makeThreadButtons(QPushButton*& pause, QPushButton*& resume, QPushButton*& stop) {
    pause = makeIconButton(QStyle::SP_MediaPause, tr("Pause"));
    resume = makeIconButton(QStyle::SP_MediaPlay, tr("Resume"));
    stop = makeIconButton(QStyle::SP_MediaStop, tr("Stop"));
}

void WizardPage::showPaused(QPushButton* pause, QPushButton* resume, UiProgressSink& bar,
                            bool paused) {
    pause->setEnabled(!paused);
    resume->setEnabled(paused);
    bar.setPaused(paused);
}

QHBoxLayout* WizardPage::makeProgressRow(QProgressBar*& bar,
                                         std::initializer_list<QPushButton*> buttons) {
    bar = new QProgressBar(this);
    bar->setTextVisible(false);
    // The amount done and the time left, written by the bar's UiProgressSink.
    auto* amount = new QLabel(this);
    amount->setObjectName(QStringLiteral("progressAmount"));
    amount->setMinimumWidth(220);
    amount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    bar->setProperty(UiProgressSink::kAmountLabelProperty,
                     QVariant::fromValue<QObject*>(amount));
    auto* row = new QHBoxLayout;
    row->addWidget(bar, 1);
    row->addWidget(amount);
    for (QPushButton* button : buttons)
        row->addWidget(button);
    return row;
}

QVBoxLayout* WizardPage::makePageLayout(const QString& title, const QString& subtitle,
                                        int spacing) {
    auto* banner = new QFrame(this);
    banner->setObjectName(QStringLiteral("banner"));
    banner->setAutoFillBackground(true);
    QPalette palette = banner->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Base));
    banner->setPalette(palette);
    auto* heading = new QLabel(title, banner);
    QFont bold = heading->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.25);
    heading->setFont(bold);
    auto* note = new QLabel(subtitle, banner);
    note->setForegroundRole(QPalette::PlaceholderText);
    auto* icon = new QLabel(banner);
    icon->setPixmap(style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(32, 32));
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(heading);
    texts->addWidget(note);
    auto* bannerRow = new QHBoxLayout(banner);
    bannerRow->setContentsMargins(18, 10, 18, 10);
    bannerRow->addLayout(texts, 1);
    bannerRow->addWidget(icon);
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(banner);
    outer->addWidget(line);
    auto* layout = new QVBoxLayout;
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(spacing);
    outer->addLayout(layout, 1);
    return layout;
}

void WizardPage::keepPlaceWhenHidden(std::initializer_list<QWidget*> widgets) {
    for (QWidget* w : widgets) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
}

void WizardPage::showNext(WizardPage* next) {
    next->takePlaceOf(this);
    next->show();
    hide();
}

void WizardPage::goBack() {
    leavingBack();
    if (previous_) {
        previous_->takePlaceOf(this);
        previous_->show();
    }
    hide();
    deleteLater();
}

void WizardPage::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void WizardPage::closeEvent(QCloseEvent* event) {
    event->ignore();
    QMessageBox box(closePromptIcon(), QString::fromUtf8(kApplicationTitle),
                    tr("Do you want to Close Application ?"), QMessageBox::Yes | QMessageBox::No,
                    this);
    box.setDefaultButton(QMessageBox::No);
    if (const QString work = runningWork(); !work.isEmpty())
        box.setInformativeText(work + QLatin1Char(' ') +
                               tr("Closing stops it; what it has not finished is lost."));
    if (box.exec() != QMessageBox::Yes) return;
    stopEngines();
    app_.quit();
}

} // namespace vindaru::app
