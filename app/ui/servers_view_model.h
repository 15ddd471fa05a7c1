#pragma once

#include <QtQml/qqmlregistration.h>
#include <QSet>
#include <QStringList>
#include <QVariantList>

#include "ui/server_list.h"
#include "ui/server_rows_model.h"
#include "ui/shell_bound.h"

namespace orlune::ui {

// The Servers and Favorites screens: the header, the search and sort bar, which content
// state shows, and the grouped rows with every text, badge, tooltip and accessibility label.
// The sort and the collapsed countries belong to the screen and start afresh with it; the
// search texts are the model's, shared by both pages.
class ServersViewModel : public orlune::ui::ShellBound {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool favoritesOnly READ favoritesOnly WRITE setFavoritesOnly NOTIFY changed)
    Q_PROPERTY(QString sort READ sort WRITE setSort NOTIFY changed)
    Q_PROPERTY(QStringList sortOptions READ sortOptions CONSTANT)
    Q_PROPERTY(int sortIndex READ sortIndex WRITE setSortIndex NOTIFY changed)
    Q_PROPERTY(QString title READ title NOTIFY changed)
    Q_PROPERTY(QString subtitle READ subtitle NOTIFY changed)
    Q_PROPERTY(QString updatedText READ updatedText NOTIFY changed)
    Q_PROPERTY(QString refreshLabel READ refreshLabel NOTIFY changed)
    Q_PROPERTY(QString refreshIcon READ refreshIcon NOTIFY changed)
    Q_PROPERTY(QString filterCaption READ filterCaption NOTIFY changed)
    // The catalog's message while relays are listed (for example the kept catalog's age and
    // why the live one failed); empty otherwise.
    Q_PROPERTY(QString catalogNotice READ catalogNotice NOTIFY changed)
    Q_PROPERTY(QString serverSearch READ serverSearch WRITE setServerSearch NOTIFY changed)
    Q_PROPERTY(QString countrySearch READ countrySearch WRITE setCountrySearch NOTIFY changed)
    Q_PROPERTY(QString contentState READ contentState NOTIFY rowsChanged)
    Q_PROPERTY(QString contentSymbol READ contentSymbol NOTIFY rowsChanged)
    Q_PROPERTY(QString contentTitle READ contentTitle NOTIFY rowsChanged)
    Q_PROPERTY(QString contentText READ contentText NOTIFY rowsChanged)
    Q_PROPERTY(bool showRetry READ showRetry NOTIFY rowsChanged)
    Q_PROPERTY(QVariantList rows READ rows NOTIFY rowsChanged)
    Q_PROPERTY(QAbstractItemModel* rowModel READ rowModel CONSTANT)
    Q_PROPERTY(QVariantList recentlyWorked READ recentlyWorked NOTIFY rowsChanged)
    Q_PROPERTY(QString recentlyWorkedTitle READ recentlyWorkedTitle CONSTANT)
    Q_PROPERTY(QString recentlyWorkedNote READ recentlyWorkedNote CONSTANT)

public:
    explicit ServersViewModel(QObject* parent = nullptr);

    bool favoritesOnly() const { return favoritesOnly_; }
    void setFavoritesOnly(bool value);
    QString sort() const { return serverSortName(sort_); }
    void setSort(const QString& name);
    QStringList sortOptions() const;
    int sortIndex() const { return int(sort_); }
    void setSortIndex(int index) { setSort(sortOptions().value(index)); }
    QString title() const;
    QString subtitle() const;
    QString updatedText() const;
    QString refreshLabel() const;
    QString refreshIcon() const;
    QString filterCaption() const;
    QString catalogNotice() const;
    QString serverSearch() const;
    void setServerSearch(const QString& text);
    QString countrySearch() const;
    void setCountrySearch(const QString& text);
    // "offline", "loading", "catalogUnavailable", "empty" or "list", by the first that applies.
    QString contentState() const;
    QString contentSymbol() const;
    QString contentTitle() const;
    QString contentText() const;
    bool showRetry() const;
    // The flat list: country headers ("kind": "header") each followed, when expanded, by its
    // relay rows ("kind": "relay").
    QVariantList rows() const { return rows_; }
    // The same rows for a list view.
    QAbstractItemModel* rowModel() { return &rowModel_; }

    std::vector<ServerGroup> groups() const;
    // Relays that worked for this user and have left the list, when the user opted in: each with
    // "id", "name", "country", "flag", "line" ("worked 2 hours ago · 12.3 Mbps measured"),
    // "connectLabel" and "accessibleName".
    QVariantList recentlyWorked() const { return recentlyWorked_; }
    QString recentlyWorkedTitle() const { return QStringLiteral("Recently worked — no longer listed"); }
    QString recentlyWorkedNote() const {
        return QStringLiteral(
            "These relays worked for you in the last 7 days but are not in the current catalog. Connecting uses "
            "the profile each one worked with; it may have changed address or closed since.");
    }

    Q_INVOKABLE void refresh();
    // Asks for a saved catalog file and shows its relays as the kept catalog; a file that is
    // not a catalog is said in the catalog notice and changes nothing else.
    Q_INVOKABLE void importCatalog();
    Q_INVOKABLE void toggleCountry(const QString& country);
    Q_INVOKABLE void selectRelay(const QString& id);
    Q_INVOKABLE void toggleFavorite(const QString& id);
    // Connects to a relay of recentlyWorked with its kept profile and shows Home.
    Q_INVOKABLE void connectRecentlyWorked(const QString& id);

signals:
    void rowsChanged();

protected:
    void attach(Shell& shell) override;

private:
    std::vector<ServerRow> pageRows() const;
    void rebuildRows();

    bool favoritesOnly_ = false;
    ServerSort sort_ = ServerSort::recommended;
    QSet<QString> collapsedCountries_;
    QVariantList rows_;
    QVariantList recentlyWorked_;
    ServerRowsModel rowModel_;
};

}  // namespace orlune::ui
