#include "app/FileListModel.h"

#include <QBrush>
#include <algorithm>
#include <climits>
#include <iterator>
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
    // The memory goes too: a folder of a million rows is not kept after it.
    rows_.clear();
    std::vector<std::uint32_t>().swap(order_);
    checked_ = 0;
    endResetModel();
    emit checksChanged();
}

void FileListModel::append(std::vector<FileListRow> rows) {
    if (rows.empty()) return;
    const std::size_t first = rows_.size();
    beginInsertRows({}, static_cast<int>(first), static_cast<int>(first + rows.size()) - 1);
    for (auto& r : rows) {
        r.arrival = arrivals_++;
        checked_ += r.checked ? 1 : 0;
        rows_.push_back(std::move(r));
    }
    order_.reserve(rows_.size());
    for (std::size_t i = first; i < rows_.size(); ++i)
        order_.push_back(static_cast<std::uint32_t>(i));
    endInsertRows();
    // Rows that arrive later (search results) take their place in the chosen order: they are
    // sorted among themselves, then merged with the rows already in order.
    if (sortColumn_ >= 0) {
        for (std::size_t i = first; i < rows_.size(); ++i)
            prepareForSort(rows_[i]);
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        std::vector<std::uint64_t> arrivals;
        const QModelIndexList persistent = persistentBefore(arrivals);
        sortFrom(first);
        std::inplace_merge(order_.begin(), order_.begin() + static_cast<std::ptrdiff_t>(first), order_.end(),
                           [this](std::uint32_t x, std::uint32_t y) { return before(rows_[x], rows_[y]); });
        persistentAfter(persistent, arrivals);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }
    emit checksChanged();
}

std::int64_t FileListModel::timeKey(const QString& text) {
    // "%02d/%02d/%d  %02d:%02d AM": month/day/year, blanks, hour:minute, blanks, AM or PM.
    const QString t = text.trimmed();
    qsizetype at = 0;
    const auto number = [&](int minDigits, int maxDigits, std::int64_t& value) {
        int digits = 0;
        value = 0;
        while (at < t.size() && t[at].isDigit() && t[at].unicode() < 128 && digits < maxDigits) {
            value = value * 10 + (t[at].unicode() - '0');
            ++at;
            ++digits;
        }
        return digits >= minDigits && !(at < t.size() && t[at].isDigit() && t[at].unicode() < 128);
    };
    const auto take = [&](char c) {
        if (at >= t.size() || t[at] != QLatin1Char(c)) return false;
        ++at;
        return true;
    };
    const auto blanks = [&] {
        const qsizetype from = at;
        while (at < t.size() && t[at].isSpace())
            ++at;
        return at - from;
    };
    std::int64_t month = 0, day = 0, year = 0, hour = 0, minute = 0;
    if (!number(1, 2, month) || !take('/') || !number(1, 2, day) || !take('/') ||
        !number(1, 5, year) || blanks() == 0 || !number(1, 2, hour) || !take(':') ||
        !number(2, 2, minute))
        return -1;
    blanks();
    const QStringView rest = QStringView(t).mid(at);
    if (rest != QLatin1String("AM") && rest != QLatin1String("PM")) return -1;
    // The display keeps hours 0 to 12 in the AM form as they are; PM stands for 13 to 23.
    if (rest == QLatin1String("PM")) hour += 12;
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
    FileListRow& r = at(row);
    if (!r.described && describer_) describer_(r);
    return r;
}

void FileListModel::prepareForSort(FileListRow& r) const {
    if (sortColumn_ <= 0 || r.described) return;
    if (sortColumn_ == kSizeColumn && (r.sized || (sizer_ && sizer_(r)))) {
        r.sized = true;
        return;
    }
    if (describer_) describer_(r);
}

bool FileListModel::before(const FileListRow& a, const FileListRow& b) const {
    if (sortColumn_ < 0) return a.arrival < b.arrival;
    // Rows the file system cannot tell about stay below the others in either order.
    if (sortColumn_ == kRecoverableColumn && a.recoverable.has_value() != b.recoverable.has_value())
        return a.recoverable.has_value();
    return sortOrder_ == Qt::AscendingOrder ? lessThan(a, b, sortColumn_) : lessThan(b, a, sortColumn_);
}

void FileListModel::sortFrom(std::size_t from) {
    const std::size_t n = order_.size() - from;
    if (n < 2) return;
    // One key per row: case-folded names, or a number (time, bytes, share).
    std::vector<QString> texts;
    std::vector<std::int64_t> numbers;
    std::vector<bool> present; // the "Recoverable" column: a share is known
    const bool byText = sortColumn_ == 0 || sortColumn_ == 5;
    (byText ? texts.reserve(n) : numbers.reserve(n));
    for (std::size_t i = from; i < order_.size(); ++i) {
        const FileListRow& r = rows_[order_[i]];
        switch (sortColumn_) {
        case 0:
        case 5:
            texts.push_back(r.texts[static_cast<std::size_t>(sortColumn_)].toCaseFolded());
            break;
        case 1:
        case 2:
        case 3:
            numbers.push_back(timeKey(r.texts[static_cast<std::size_t>(sortColumn_)]));
            break;
        case 4:
            numbers.push_back(static_cast<std::int64_t>(std::min<std::uint64_t>(r.bytes, INT64_MAX)));
            break;
        case kRecoverableColumn:
            numbers.push_back(r.recoverable ? static_cast<std::int64_t>(*r.recoverable * 1e9) : 0);
            present.push_back(r.recoverable.has_value());
            break;
        default:
            numbers.push_back(0);
        }
    }
    std::vector<std::uint32_t> order(n);
    for (std::size_t i = 0; i < n; ++i)
        order[i] = static_cast<std::uint32_t>(i);
    const bool ascending = sortOrder_ == Qt::AscendingOrder;
    const auto keyLess = [&](std::uint32_t x, std::uint32_t y) {
        if (byText) return texts[x] < texts[y];
        return numbers[x] < numbers[y];
    };
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
        if (!present.empty() && present[x] != present[y]) return static_cast<bool>(present[x]);
        const bool less = ascending ? keyLess(x, y) : keyLess(y, x);
        if (less) return true;
        if (ascending ? keyLess(y, x) : keyLess(x, y)) return false;
        // Equal keys: the order the rows came in (reversed with the order, as before()).
        const std::uint64_t ax = rows_[order_[from + x]].arrival, ay = rows_[order_[from + y]].arrival;
        return ascending ? ax < ay : ay < ax;
    });
    for (std::uint32_t& i : order)
        i = order_[from + i];
    std::copy(order.begin(), order.end(), order_.begin() + static_cast<std::ptrdiff_t>(from));
}

QModelIndexList FileListModel::persistentBefore(std::vector<std::uint64_t>& arrivals) const {
    const QModelIndexList before = persistentIndexList();
    arrivals.clear();
    arrivals.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex& index : before)
        arrivals.push_back(at(index.row()).arrival);
    return before;
}

void FileListModel::persistentAfter(const QModelIndexList& before, const std::vector<std::uint64_t>& arrivals) {
    if (before.isEmpty()) return;
    std::unordered_map<std::uint64_t, int> rowOf;
    rowOf.reserve(arrivals.size());
    for (std::uint64_t a : arrivals)
        rowOf.emplace(a, -1);
    for (std::size_t i = 0; i < order_.size(); ++i)
        if (auto it = rowOf.find(rows_[order_[i]].arrival); it != rowOf.end()) it->second = static_cast<int>(i);
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i)
        after << index(rowOf[arrivals[static_cast<std::size_t>(i)]], before[i].column());
    changePersistentIndexList(before, after);
}

void FileListModel::sort(int column, Qt::SortOrder order) {
    sortColumn_ = column >= 0 && column < kFileListColumns ? column : -1;
    sortOrder_ = order;
    for (std::size_t i = 0; i < rows_.size(); ++i)
        prepareForSort(rows_[i]);
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<std::uint64_t> arrivals;
    const QModelIndexList persistent = persistentBefore(arrivals);
    if (sortColumn_ < 0)
        for (std::size_t i = 0; i < order_.size(); ++i)
            order_[i] = static_cast<std::uint32_t>(i); // rows_ holds them as they came
    else
        sortFrom(0);
    persistentAfter(persistent, arrivals);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void FileListModel::attachItems(const std::function<TreeItemId(std::uint64_t)>& itemOf,
                                const std::function<bool(TreeItemId)>& checkOf) {
    bool changed = false;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        FileListRow& r = rows_[i];
        if (r.item != kNoTreeItem || !r.entry) continue;
        r.item = itemOf(*r.entry);
        if (r.item == kNoTreeItem) continue;
        changed = setChecked(r, checkOf(r.item)) || changed;
    }
    if (!changed || rows_.empty()) return;
    emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size()) - 1, 0), {Qt::CheckStateRole});
    emit checksChanged();
}

void FileListModel::appendRow(FileListRow row) {
    std::vector<FileListRow> one;
    one.push_back(std::move(row));
    append(std::move(one));
}

std::size_t FileListModel::checkedCount() const {
    return checked_;
}

bool FileListModel::setChecked(FileListRow& r, bool checked) {
    if (r.checked == checked) return false;
    r.checked = checked;
    if (checked)
        ++checked_;
    else
        --checked_;
    return true;
}

void FileListModel::setAllChecked(bool checked) {
    for (int i = 0; i < static_cast<int>(order_.size()); ++i) {
        FileListRow& r = at(i);
        if (!setChecked(r, checked)) continue;
        emit rowCheckChanged(i, r.item, checked);
    }
    if (!rows_.empty())
        emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size()) - 1, 0),
                         {Qt::CheckStateRole});
    emit checksChanged();
}

void FileListModel::syncChecks(const std::function<bool(TreeItemId)>& checkOf) {
    bool changed = false;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        FileListRow& r = rows_[i];
        if (r.item == kNoTreeItem) continue;
        changed = setChecked(r, checkOf(r.item)) || changed;
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
    const FileListRow& r = needsDescription ? shown(index.row()) : at(index.row());
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
    FileListRow& r = at(index.row());
    const bool checked = value.toInt() == Qt::Checked;
    if (!setChecked(r, checked)) return true;
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
