#include "app/FileListModel.h"

#include <QBrush>
#include <QRegularExpression>
#include <algorithm>
#include <unordered_map>

namespace vindaru::app {

const std::array<const char*, kFileListColumns>& FileListModel::columnTitles() {
    static const std::array<const char*, kFileListColumns> titles{
        "File(s) List", "Creation Time", "Access Time", "Modification Time", "Size", "Attribute", "Recoverable"};
    return titles;
}

// The original widths in dialog units, scaled for today's fonts.
const std::array<int, kFileListColumns>& FileListModel::columnWidths() {
    static const std::array<int, kFileListColumns> widths{210, 160, 160, 160, 80, 120, 90};
    return widths;
}

void FileListModel::clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
    emit checksChanged();
}

void FileListModel::append(std::vector<FileListRow> rows) {
    if (rows.empty()) return;
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    for (auto& r : rows) {
        r.arrival = arrivals_++;
        rows_.push_back(std::move(r));
    }
    endInsertRows();
    // Rows that arrive later (search results) take their place in the chosen order.
    if (sortColumn_ >= 0) sort(sortColumn_, sortOrder_);
    emit checksChanged();
}

std::int64_t FileListModel::timeKey(const QString& text) {
    static const QRegularExpression form(
        QStringLiteral("^(\\d{1,2})/(\\d{1,2})/(\\d{1,5})\\s+(\\d{1,2}):(\\d{2})\\s*(AM|PM)$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch()) return -1;
    const std::int64_t month = m.captured(1).toLongLong();
    const std::int64_t day = m.captured(2).toLongLong();
    const std::int64_t year = m.captured(3).toLongLong();
    std::int64_t hour = m.captured(4).toLongLong();
    const std::int64_t minute = m.captured(5).toLongLong();
    // The display keeps hours 0 to 12 in the AM form as they are; PM stands for 13 to 23.
    if (m.captured(6) == QLatin1String("PM")) hour += 12;
    return (((year * 13 + month) * 32 + day) * 24 + hour) * 60 + minute;
}

bool FileListModel::lessThan(const FileListRow& a, const FileListRow& b, int column) const {
    switch (column) {
    case 1:
    case 2:
    case 3: {
        const std::int64_t ka = timeKey(a.texts[static_cast<std::size_t>(column)]);
        const std::int64_t kb = timeKey(b.texts[static_cast<std::size_t>(column)]);
        if (ka != kb) return ka < kb;
        break;
    }
    case 4:
        if (a.bytes != b.bytes) return a.bytes < b.bytes;
        break;
    case kRecoverableColumn:
        if (a.recoverable && b.recoverable && *a.recoverable != *b.recoverable) return *a.recoverable < *b.recoverable;
        break;
    case 0:
    case 5: {
        const int c = QString::compare(a.texts[static_cast<std::size_t>(column)],
                                       b.texts[static_cast<std::size_t>(column)], Qt::CaseInsensitive);
        if (c != 0) return c < 0;
        break;
    }
    default:
        break;
    }
    return a.arrival < b.arrival;
}

const FileListRow& FileListModel::shown(int row) const {
    FileListRow& r = rows_[static_cast<std::size_t>(row)];
    if (!r.described && describer_) describer_(r);
    return r;
}

void FileListModel::sort(int column, Qt::SortOrder order) {
    sortColumn_ = column >= 0 && column < kFileListColumns ? column : -1;
    sortOrder_ = order;
    // Names are known without describing; the other columns need every row described.
    if (sortColumn_ > 0)
        for (int i = 0; i < static_cast<int>(rows_.size()); ++i)
            shown(i);
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<std::uint64_t> arrivalAt;
    arrivalAt.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex& index : before)
        arrivalAt.push_back(rows_[static_cast<std::size_t>(index.row())].arrival);
    std::stable_sort(rows_.begin(), rows_.end(), [this](const FileListRow& a, const FileListRow& b) {
        if (sortColumn_ < 0) return a.arrival < b.arrival;
        // Rows the file system cannot tell about stay below the others in either order.
        if (sortColumn_ == kRecoverableColumn && a.recoverable.has_value() != b.recoverable.has_value())
            return a.recoverable.has_value();
        return sortOrder_ == Qt::AscendingOrder ? lessThan(a, b, sortColumn_)
                                                : lessThan(b, a, sortColumn_);
    });
    std::unordered_map<std::uint64_t, int> rowOf;
    for (std::size_t i = 0; i < rows_.size(); ++i)
        rowOf[rows_[i].arrival] = static_cast<int>(i);
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i)
        after << index(rowOf[arrivalAt[static_cast<std::size_t>(i)]], before[i].column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void FileListModel::appendRow(FileListRow row) {
    std::vector<FileListRow> one;
    one.push_back(std::move(row));
    append(std::move(one));
}

std::size_t FileListModel::checkedCount() const {
    std::size_t n = 0;
    for (const auto& r : rows_)
        n += r.checked ? 1 : 0;
    return n;
}

void FileListModel::setAllChecked(bool checked) {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].checked == checked) continue;
        rows_[i].checked = checked;
        emit rowCheckChanged(static_cast<int>(i), rows_[i].item, checked);
    }
    if (!rows_.empty())
        emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size()) - 1, 0),
                         {Qt::CheckStateRole});
    emit checksChanged();
}

void FileListModel::syncChecks(const std::function<bool(TreeItemId)>& checkOf) {
    bool changed = false;
    for (FileListRow& r : rows_) {
        if (r.item == kNoTreeItem) continue;
        const bool checked = checkOf(r.item);
        changed = changed || checked != r.checked;
        r.checked = checked;
    }
    if (!changed) return;
    emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size()) - 1, 0), {Qt::CheckStateRole});
    emit checksChanged();
}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kFileListColumns;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    const auto column = static_cast<std::size_t>(index.column());
    const bool needsDescription = (column > 0 && (role == Qt::DisplayRole || role == Qt::ToolTipRole)) ||
                                  (column == 0 && role == Qt::DecorationRole);
    const FileListRow& r = needsDescription ? shown(index.row()) : rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return r.texts[column];
    case Qt::ToolTipRole:
        return r.texts[column].isEmpty() ? QVariant() : r.texts[column];
    case Qt::DecorationRole:
        return column == 0 ? QVariant(r.icon) : QVariant();
    case Qt::ForegroundRole:
        return r.deleted ? QVariant(QBrush(Qt::red)) : QVariant();
    case Qt::CheckStateRole:
        return column == 0 ? QVariant(r.checked ? Qt::Checked : Qt::Unchecked) : QVariant();
    default:
        return {};
    }
}

bool FileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.column() != 0 || role != Qt::CheckStateRole) return false;
    FileListRow& r = rows_[static_cast<std::size_t>(index.row())];
    const bool checked = value.toInt() == Qt::Checked;
    if (r.checked == checked) return true;
    r.checked = checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit rowCheckChanged(index.row(), r.item, checked);
    emit checksChanged();
    return true;
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kFileListColumns) return {};
    if (role == Qt::DecorationRole) return section == 0 ? headerIcon_ : QVariant();
    if (role != Qt::DisplayRole) return {};
    return QString::fromUtf8(columnTitles()[static_cast<std::size_t>(section)]);
}

bool FileListModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                                  int role) {
    if (section != 0 || orientation != Qt::Horizontal || role != Qt::DecorationRole) return false;
    headerIcon_ = value;
    emit headerDataChanged(Qt::Horizontal, 0, 0);
    return true;
}

} // namespace vindaru::app
