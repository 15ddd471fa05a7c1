#include "ui/server_rows_model.h"

#include <QVariantMap>

namespace orlune::ui {
namespace {

constexpr int kEntryRole = Qt::UserRole + 1;

// A header is known by its country, a relay by its id.
QString identity(const QVariant& row) {
    const QVariantMap map = row.toMap();
    return map.value(QStringLiteral("kind")).toString() + u'/' + map.value(QStringLiteral("id")).toString() + u'/' +
           map.value(QStringLiteral("country")).toString();
}

}  // namespace

void ServerRowsModel::setRows(const QVariantList& rows) {
    bool sameShape = rows.size() == rows_.size();
    for (qsizetype i = 0; sameShape && i < rows.size(); ++i) sameShape = identity(rows[i]) == identity(rows_[i]);
    if (!sameShape) {
        beginResetModel();
        rows_ = rows;
        endResetModel();
        return;
    }
    rows_ = rows;
    if (!rows_.isEmpty()) emit dataChanged(index(0), index(int(rows_.size()) - 1), {kEntryRole});
}

int ServerRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

QVariant ServerRowsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size() || role != kEntryRole) return {};
    return rows_[index.row()];
}

QHash<int, QByteArray> ServerRowsModel::roleNames() const {
    return {{kEntryRole, QByteArrayLiteral("entry")}};
}

}  // namespace orlune::ui
