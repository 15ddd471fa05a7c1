#pragma once

#include <QAbstractListModel>
#include <QVariantList>

namespace orlune::ui {

// The server list's rows for a list view, one role "entry" holding a row's map. A change that
// keeps every row's identity (a selection, a favourite, a ping) updates the rows in place, so
// the list keeps its scroll position; anything else resets it.
class ServerRowsModel : public QAbstractListModel {
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    void setRows(const QVariantList& rows);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    QVariantList rows_;
};

}  // namespace orlune::ui
