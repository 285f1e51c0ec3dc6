#include "app/FileListModel.h"

#include <QBrush>

namespace vindaru::app {

const std::array<const char*, 6>& FileListModel::columnTitles() {
    static const std::array<const char*, 6> titles{
        "File(s) List", "Creation Time", "Access Time", "Modification Time", "Size", "Attribute"};
    return titles;
}

// The original widths in dialog units, scaled for today's fonts.
const std::array<int, 6>& FileListModel::columnWidths() {
    static const std::array<int, 6> widths{210, 160, 160, 160, 80, 90};
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
    for (auto& r : rows)
        rows_.push_back(std::move(r));
    endInsertRows();
    emit checksChanged();
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

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 6;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    const FileListRow& r = rows_[static_cast<std::size_t>(index.row())];
    const auto column = static_cast<std::size_t>(index.column());
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
    if (orientation != Qt::Horizontal || section < 0 || section > 5) return {};
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
