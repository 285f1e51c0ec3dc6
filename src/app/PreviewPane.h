// The scan page's preview of the file selected in the list: a picture drawn (any format Qt
// reads), text shown (its first 64 KiB, UTF-8 or UTF-16 guessed), anything else as a hex view of
// its first 4 KiB. The content is read through the parser's entry view into memory, exactly as
// saving would read it (so a deleted file shows what saving it would write); nothing is
// written to disk.
#pragma once

#include <QByteArray>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <cstdint>

#include "fs/parser/EntryView.h"

class QLabel;
class QPlainTextEdit;
class QScrollArea;
class QStackedWidget;

namespace vindaru::app {

class PreviewPane : public QWidget {
    Q_OBJECT
  public:
    enum class Kind { None, Picture, Text, Hex };

    static constexpr std::size_t kTextBytes = 64 * 1024;
    static constexpr std::size_t kHexBytes = 4 * 1024;
    // Pictures are read whole up to this; larger ones are shown as hex.
    static constexpr std::uint64_t kPictureBytes = 32ull << 20;

    explicit PreviewPane(QWidget* parent = nullptr);

    // Shows `entry` of `view` (a file); the name heads the pane.
    void showEntry(EntryView& view, EntryRef entry, const QString& name);
    void clear();
    Kind kind() const { return kind_; }
    QString caption() const;
    QString shownText() const;
    QLabel* pictureLabel() const { return picture_; }

    // The first `limit` bytes of the entry's content, as saving would write them.
    static QByteArray readContent(EntryView& view, EntryRef entry, std::uint64_t limit);
    // Text when `bytes` read as text: a byte-order mark, else UTF-16 by its zero bytes, else
    // UTF-8 without control bytes; a null QString otherwise.
    static QString decodeText(const QByteArray& bytes);
    // "00000000  4d 5a 90 00 ...  |MZ..|" lines.
    static QString hexView(const QByteArray& bytes);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    // The picture drawn as large as the pane allows, never larger than it is.
    void fitPicture();

    QPixmap original_;
    QLabel* caption_;
    QStackedWidget* stack_;
    QScrollArea* pictureArea_;
    QLabel* picture_;
    QPlainTextEdit* text_;
    Kind kind_ = Kind::None;
};

} // namespace vindaru::app
