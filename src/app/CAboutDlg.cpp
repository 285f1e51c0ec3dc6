#include "app/CAboutDlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/UiDialogs.h"
#include "common/Sinks.h"

namespace vindaru::app {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("About Ordavin"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(48, 48));
    auto* title = new QLabel(QString::fromUtf8(kApplicationTitle), this);
    QFont big = title->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.8);
    title->setFont(big);
    auto* blurb = new QLabel(tr("Data recovery for virtual hard-disk images."), this);

    website_ = makeLink(QStringLiteral("www.vindaru.example"), QString::fromUtf8(kHomepageUrl),
                        tr("Company website"));
    support_ = makeLink(QStringLiteral("support@vindaru.example"), QString::fromUtf8(kSupportMail),
                        tr("Support email address"));
    sales_ = makeLink(QStringLiteral("sales@vindaru.example"), QString::fromUtf8(kSalesMail),
                      tr("Sales email address"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* head = new QHBoxLayout;
    head->addWidget(icon);
    head->addSpacing(12);
    auto* titles = new QVBoxLayout;
    titles->addWidget(title);
    titles->addWidget(blurb);
    head->addLayout(titles, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addSpacing(8);
    layout->addWidget(website_, 0, Qt::AlignLeft);
    layout->addWidget(support_, 0, Qt::AlignLeft);
    layout->addWidget(sales_, 0, Qt::AlignLeft);
    layout->addSpacing(8);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QPushButton* CAboutDlg::makeLink(const QString& text, const QString& url, const QString& toolTip) {
    auto* link = new QPushButton(text, this);
    link->setFlat(true);
    link->setCursor(Qt::PointingHandCursor);
    link->setToolTip(toolTip);
    link->setAutoDefault(false);
    link->setStyleSheet(QStringLiteral("QPushButton { color: palette(link); text-decoration: "
                                       "underline; text-align: left; padding: 2px 4px; }"));
    connect(link, &QPushButton::clicked, this, [url] { UiDialogs::openUrl(QUrl(url)); });
    return link;
}

} // namespace vindaru::app
