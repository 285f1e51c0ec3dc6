#include "app/PreviewPane.h"

#include <QBuffer>
#include <QFontDatabase>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStringDecoder>
#include <QVBoxLayout>
#include <algorithm>

#include "common/DisplayFormat.h"

namespace vindaru::app {

namespace {

// Bytes below 0x20 other than tab, line ends and form feed mark a binary file.
bool looksBinary(const QByteArray& bytes) {
    qsizetype control = 0;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u == 0) return true;
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r' && u != '\f') ++control;
    }
    return control * 100 > bytes.size(); // more than 1 %
}

// UTF-16 without a mark: most odd (LE) or even (BE) bytes are zero in Latin text.
std::optional<QStringConverter::Encoding> utf16ByZeros(const QByteArray& bytes) {
    if (bytes.size() < 4) return std::nullopt;
    qsizetype zeroEven = 0, zeroOdd = 0;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        zeroEven += bytes[i] == 0 ? 1 : 0;
        zeroOdd += bytes[i + 1] == 0 ? 1 : 0;
    }
    const qsizetype pairs = bytes.size() / 2;
    if (zeroOdd * 10 >= pairs * 8 && zeroEven * 10 < pairs) return QStringConverter::Utf16LE;
    if (zeroEven * 10 >= pairs * 8 && zeroOdd * 10 < pairs) return QStringConverter::Utf16BE;
    return std::nullopt;
}

bool textLooksPrintable(const QString& text) {
    qsizetype control = 0;
    for (QChar c : text) {
        if (c.unicode() == 0) return false;
        if (c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r' && c != u'\f') ++control;
    }
    return control * 100 <= text.size();
}

} // namespace

PreviewPane::PreviewPane(QWidget* parent) : QWidget(parent) {
    caption_ = new QLabel(this);
    caption_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    caption_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    stack_ = new QStackedWidget(this);
    pictureArea_ = new QScrollArea(stack_);
    picture_ = new QLabel(pictureArea_);
    picture_->setAlignment(Qt::AlignCenter);
    pictureArea_->setWidget(picture_);
    pictureArea_->setWidgetResizable(true);
    text_ = new QPlainTextEdit(stack_);
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    stack_->addWidget(pictureArea_);
    stack_->addWidget(text_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(caption_);
    layout->addWidget(stack_, 1);
    clear();
}

void PreviewPane::clear() {
    kind_ = Kind::None;
    caption_->setText(tr("Preview: select a file in the list."));
    picture_->clear();
    original_ = QPixmap();
    text_->clear();
    stack_->setCurrentWidget(text_);
}

QString PreviewPane::caption() const {
    return caption_->text();
}

QString PreviewPane::shownText() const {
    return text_->toPlainText();
}

QByteArray PreviewPane::readContent(EntryView& view, EntryRef entry, std::uint64_t limit) {
    QByteArray bytes;
    const auto cap = static_cast<qsizetype>(std::min<std::uint64_t>(limit, kPictureBytes));
    try {
        view.writeContent(entry, [&bytes, cap](std::span<const std::uint8_t> data) {
            const qsizetype room = cap - bytes.size();
            const auto take = std::min<qsizetype>(room, static_cast<qsizetype>(data.size()));
            bytes.append(reinterpret_cast<const char*>(data.data()), take);
            return bytes.size() < cap; // enough read: the parser stops
        });
    } catch (const std::exception&) {
        // A damaged record the parser cannot read: what came before is shown.
    }
    return bytes;
}

QString PreviewPane::decodeText(const QByteArray& bytes) {
    if (bytes.isEmpty()) return QString(QStringLiteral(""));
    QStringConverter::Encoding encoding = QStringConverter::Utf8;
    if (auto bom = QStringConverter::encodingForData(bytes)) {
        encoding = *bom;
    } else if (auto utf16 = utf16ByZeros(bytes)) {
        encoding = *utf16;
    } else if (looksBinary(bytes)) {
        return QString();
    }
    QStringDecoder decoder(encoding);
    QString text = decoder.decode(bytes);
    // A cut at the 64 KiB mark may split a character; that alone is no reason for hex.
    if (decoder.hasError() && encoding == QStringConverter::Utf8) {
        QStringDecoder strict(QStringConverter::Utf8);
        const QString head = strict.decode(bytes.left(bytes.size() - 4));
        if (strict.hasError()) return QString();
    }
    if (!textLooksPrintable(text)) return QString();
    if (!text.isEmpty() && text.front() == QChar(0xFEFF)) text.remove(0, 1);
    return text;
}

QString PreviewPane::hexView(const QByteArray& bytes) {
    QString out;
    constexpr qsizetype kPerLine = 16;
    for (qsizetype at = 0; at < bytes.size(); at += kPerLine) {
        QString hex, ascii;
        for (qsizetype i = 0; i < kPerLine; ++i) {
            if (at + i < bytes.size()) {
                const auto u = static_cast<unsigned char>(bytes[at + i]);
                hex += QStringLiteral("%1 ").arg(u, 2, 16, QLatin1Char('0'));
                ascii += u >= 0x20 && u < 0x7F ? QChar(u) : QChar(u'.');
            } else {
                hex += QStringLiteral("   ");
            }
            if (i == 7) hex += QLatin1Char(' ');
        }
        out += QStringLiteral("%1  %2 |%3|\n").arg(at, 8, 16, QLatin1Char('0')).arg(hex, ascii);
    }
    return out;
}

void PreviewPane::fitPicture() {
    if (original_.isNull()) return;
    // The room the pane gives, not the picture area's own size: that area may never have been
    // shown yet (the first picture would be drawn as small as a hidden widget).
    const int frame = 2 * pictureArea_->frameWidth() + 2;
    const QSize room = stack_->contentsRect().size() - QSize(frame, frame);
    QPixmap pixmap = original_;
    if (room.isValid() && (pixmap.width() > room.width() || pixmap.height() > room.height()))
        pixmap = pixmap.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    picture_->setPixmap(pixmap);
}

void PreviewPane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (kind_ == Kind::Picture) fitPicture();
}

void PreviewPane::showEntry(EntryView& view, EntryRef entry, const QString& name) {
    original_ = QPixmap();
    const std::uint64_t size = view.byteSize(entry);
    const QString sizeText = QString::fromStdString(formatSizeText(size));
    QByteArray head = readContent(view, entry, kTextBytes);

    // A picture by its content, not its name: deleted files often lost their names.
    QBuffer probe(&head);
    probe.open(QIODevice::ReadOnly);
    const bool picture = !QImageReader::imageFormat(&probe).isEmpty() && size <= kPictureBytes;
    if (picture) {
        const QByteArray whole = size > static_cast<std::uint64_t>(head.size())
                                     ? readContent(view, entry, size)
                                     : head;
        QImage image;
        if (image.loadFromData(whole)) {
            kind_ = Kind::Picture;
            caption_->setText(tr("%1 (%2): picture %3 x %4")
                                  .arg(name, sizeText)
                                  .arg(image.width())
                                  .arg(image.height()));
            original_ = QPixmap::fromImage(image);
            stack_->setCurrentWidget(pictureArea_);
            fitPicture();
            return;
        }
    }
    const QString text = decodeText(head);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    stack_->setCurrentWidget(text_);
    if (!text.isNull()) {
        kind_ = Kind::Text;
        const bool cut = size > kTextBytes;
        caption_->setText(cut ? tr("%1 (%2): text, the first 64 KiB").arg(name, sizeText)
                              : tr("%1 (%2): text").arg(name, sizeText));
        text_->setPlainText(text);
        return;
    }
    kind_ = Kind::Hex;
    caption_->setText(size > kHexBytes ? tr("%1 (%2): the first 4 KiB").arg(name, sizeText)
                                       : tr("%1 (%2)").arg(name, sizeText));
    text_->setPlainText(hexView(head.left(static_cast<qsizetype>(kHexBytes))));
}

} // namespace vindaru::app
