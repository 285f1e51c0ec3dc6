// The file list of the scan page: seven columns, a check box per row, each row tied to its tree
// item (or, for a search result, to its entry). Checking a row checks its tree item; the header
// check box follows the rows. The list sorts by any column: names as text, times by the time
// they show, sizes by their bytes, "Recoverable" by the share (rows without one last, either
// way); unsorted it keeps the order the rows came in.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/CheckTree.h"

namespace vindaru::app {

inline constexpr int kFileListColumns = 7;
inline constexpr int kSizeColumn = 4;
inline constexpr int kRecoverableColumn = 6;

struct FileListRow {
    // name, creation, access, modification, size, attribute, recoverable ("40%")
    std::array<QString, kFileListColumns> texts;
    QIcon icon;
    TreeItemId item = kNoTreeItem;
    bool checked = false;
    bool deleted = false; // drawn red, as in the tree
    std::uint64_t bytes = 0;
    std::optional<double> recoverable; // the share the "Recoverable" text shows
    // The parser entry the row shows, and for a search result the folders above it.
    std::optional<std::uint64_t> entry;
    std::vector<std::string> folders;
    std::uint64_t arrival = 0; // the order the row came in
    // False until the row's texts, icon and bytes are filled: a row is described when it is
    // first shown (or when the list is sorted by a column that needs it).
    bool described = true;
    // True once `bytes` is known on a row not yet described (a sort by size asked only that).
    bool sized = false;
};

class FileListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit FileListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    static const std::array<const char*, kFileListColumns>& columnTitles();
    static const std::array<int, kFileListColumns>& columnWidths();

    // Fills a row that came in undescribed; false when it cannot be done now (the parser is
    // busy), and the row is asked again when it is next shown.
    using Describer = std::function<bool(FileListRow&)>;
    void setDescriber(Describer describer) { describer_ = std::move(describer); }
    // Fills only a row's bytes, which is all a sort by size needs of a row not yet described
    // (a million rows sort without a million sets of texts); false as for the describer.
    using Sizer = std::function<bool(FileListRow&)>;
    void setSizer(Sizer sizer) { sizer_ = std::move(sizer); }

    void clear();
    // Room for this many rows, when they are known to come in several appends.
    void reserve(std::size_t rows) { order_.reserve(rows); }
    void append(std::vector<FileListRow> rows);
    void appendRow(FileListRow row);
    // The row with its texts (described first when it came in without them).
    const FileListRow& row(int index) const { return shown(index); }
    std::size_t checkedCount() const;
    // Every row to the given state (the header check box).
    void setAllChecked(bool checked);
    // Rows listed before their tree items existed take them now: `itemOf` gives a row's item by
    // its entry, `checkOf` the item's check state.
    void attachItems(const std::function<TreeItemId(std::uint64_t)>& itemOf,
                     const std::function<bool(TreeItemId)>& checkOf);
    // The rows of tree items take their items' check states (after a check in the tree).
    void syncChecks(const std::function<bool(TreeItemId)>& checkOf);
    // Column -1: the order the rows came in.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // A sortable key of a time text "%02d/%02d/%d  %02d:%02d AM" (or PM): minutes since year 0;
    // -1 for a text of another form (sorted first).
    static std::int64_t timeKey(const QString& text);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // The first column's header icon (the header's check box).
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role) override;

  signals:
    // A row's check box changed (by the user or by the header).
    void rowCheckChanged(int row, vindaru::TreeItemId item, bool checked);
    void checksChanged();

  private:
    bool lessThan(const FileListRow& a, const FileListRow& b, int column) const;
    // The chosen order (column and direction) between two rows.
    bool before(const FileListRow& a, const FileListRow& b) const;
    // Orders order_[from, end) in the chosen order, each row's key taken once.
    void sortFrom(std::size_t from);
    // Rows moved by a sort: the views' persistent indexes follow their rows.
    QModelIndexList persistentBefore(std::vector<std::uint64_t>& arrivals) const;
    void persistentAfter(const QModelIndexList& before, const std::vector<std::uint64_t>& arrivals);
    // The row as shown: described first when it came in without its texts.
    const FileListRow& shown(int row) const;
    // What the chosen sort column needs of a row: nothing for names, the bytes for sizes,
    // otherwise the row described.
    void prepareForSort(FileListRow& r) const;
    // Sets a row's check, keeping the count; true when it changed.
    bool setChecked(FileListRow& r, bool checked);
    // The row shown at `row`.
    FileListRow& at(int row) const { return rows_[order_[static_cast<std::size_t>(row)]]; }
    // Rows in blocks of a fixed size: the list grows by appends without ever moving the rows
    // it holds (a million rows moved to a larger array would keep the window still).
    class RowBlocks {
      public:
        std::size_t size() const { return size_; }
        bool empty() const { return size_ == 0; }
        FileListRow& operator[](std::size_t i) const { return blocks_[i >> kShift][i & kMask]; }
        void push_back(FileListRow&& row) {
            if ((size_ & kMask) == 0) blocks_.push_back(std::make_unique<FileListRow[]>(kMask + 1));
            (*this)[size_++] = std::move(row);
        }
        void clear() {
            blocks_.clear();
            blocks_.shrink_to_fit();
            size_ = 0;
        }

      private:
        static constexpr std::size_t kShift = 12;
        static constexpr std::size_t kMask = (std::size_t{1} << kShift) - 1;
        std::vector<std::unique_ptr<FileListRow[]>> blocks_;
        std::size_t size_ = 0;
    };
    // mutable: rows are described when they are first drawn, from const data(). Kept in the
    // order they came in; a sort orders only order_ (what is shown at each row), so that a
    // million rows are never moved.
    mutable RowBlocks rows_;
    // How many rows are checked (the header asks after every append).
    std::size_t checked_ = 0;
    std::vector<std::uint32_t> order_;
    Describer describer_;
    Sizer sizer_;
    QVariant headerIcon_;
    std::uint64_t arrivals_ = 0;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

} // namespace vindaru::app
