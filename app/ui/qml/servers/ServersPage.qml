import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orlune.Ui

// The Servers page (every recommended relay) or the Favorites page (the saved ones).
Item {
    id: page
    required property Shell shell
    property bool favoritesOnly: false

    function focusSearch() { search.forceActiveFocus(Qt.ShortcutFocusReason) }

    ServersViewModel {
        id: vm
        objectName: "serversViewModel"
        shell: page.shell
        favoritesOnly: page.favoritesOnly
    }

    ColumnLayout {
        width: Math.min(page.width - 2 * Theme.pagePadding, Theme.pageMaxWidth)
        x: (page.width - width) / 2
        anchors.top: parent.top
        anchors.bottom: parent.bottom
        anchors.topMargin: Theme.pagePadding
        anchors.bottomMargin: Theme.pagePadding
        spacing: 14

        PageHeader {
            title: vm.title
            subtitle: vm.subtitle
            Layout.fillWidth: true
            Text {
                visible: text !== ""
                text: vm.updatedText
                color: Theme.secondaryText
                font.pointSize: Theme.pt(12)
                anchors.verticalCenter: parent.verticalCenter
            }
            PlainButton {
                text: vm.refreshLabel
                iconSymbol: vm.refreshIcon
                onClicked: vm.refresh()
            }
        }

        Text {
            objectName: "catalogNotice"
            visible: text !== ""
            text: vm.catalogNotice
            color: Theme.orange
            font.pointSize: Theme.pt(12)
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }

        // The filter's caption, and the way in for a saved list (out of the header, so that the
        // header's controls keep fitting the narrowest window at large text).
        RowLayout {
            visible: caption.text !== "" || !page.favoritesOnly
            spacing: 10
            Layout.fillWidth: true
            Text {
                id: caption
                text: vm.filterCaption
                color: Theme.secondaryText
                font.pointSize: Theme.pt(12)
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
            PlainButton {
                visible: !page.favoritesOnly
                text: "Import Catalog…"
                tip: "Load a relay list saved from VPN Gate when the live catalog cannot be reached"
                onClicked: vm.importCatalog()
            }
        }

        RowLayout {
            spacing: 10
            Layout.fillWidth: true
            SearchField {
                id: search
                objectName: "serverSearch"
                placeholderText: "Search servers or hosts"
                iconSymbol: "magnifyingglass"
                text: vm.serverSearch
                onTextChanged: vm.serverSearch = text
                Layout.fillWidth: true
            }
            SearchField {
                objectName: "countrySearch"
                placeholderText: "Search countries"
                iconSymbol: "globe.americas"
                text: vm.countrySearch
                onTextChanged: vm.countrySearch = text
                Layout.preferredWidth: 200
                Layout.minimumWidth: 140
            }
            Text {
                text: "Sort"
                color: Theme.secondaryText
                font.pointSize: Theme.pt(13)
            }
            Choice {
                id: sort
                objectName: "sort"
                model: vm.sortOptions
                currentIndex: vm.sortIndex
                onActivated: index => vm.sortIndex = index
                Layout.preferredWidth: 170
                Accessible.name: "Sort: " + displayText
            }
        }

        ContentState {
            visible: vm.contentState !== "list"
            loading: vm.contentState === "loading"
            symbol: vm.contentSymbol
            title: vm.contentTitle
            text: vm.contentText
            showRetry: vm.showRetry
            onRetry: vm.refresh()
            Layout.fillWidth: true
            Layout.fillHeight: true
        }

        // One stop of the Tab chain: the arrow keys move through the rows (Left and Right between
        // a row and its star), Space or Return acts, and the list scrolls with the cursor.
        ListView {
            id: list
            objectName: "serverList"
            property bool onStar: false
            readonly property var current: currentIndex >= 0 && currentIndex < vm.rows.length ? vm.rows[currentIndex] : null

            function act() {
                const entry = list.current
                if (!entry) return
                if (entry.kind === "header") {
                    vm.toggleCountry(entry.country)
                    list.keep(e => e.kind === "header" && e.country === entry.country)
                } else if (list.onStar) {
                    vm.toggleFavorite(entry.id)
                    list.keep(e => e.id === entry.id)
                } else {
                    vm.selectRelay(entry.id)
                }
            }
            // A collapse or a removed favourite rebuilds the rows; the cursor stays on its entry.
            function keep(match) {
                const rows = vm.rows
                for (let at = 0; at < rows.length; ++at) {
                    if (match(rows[at])) {
                        list.currentIndex = at
                        return
                    }
                }
                list.currentIndex = Math.min(list.currentIndex, list.count - 1)
            }

            visible: vm.contentState === "list"
            clip: true
            spacing: 6
            model: vm.rowModel
            activeFocusOnTab: true
            keyNavigationEnabled: true
            highlightFollowsCurrentItem: false
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {}
            Layout.fillWidth: true
            Layout.fillHeight: true
            Accessible.role: Accessible.List
            Accessible.name: vm.title
            // The view scrolls with the cursor: no highlight moves it here.
            onCurrentIndexChanged: {
                onStar = false
                positionViewAtIndex(currentIndex, ListView.Contain)
            }
            Keys.onLeftPressed: onStar = false
            Keys.onRightPressed: onStar = current !== null && current.kind === "relay"
            Keys.onSpacePressed: act()
            Keys.onReturnPressed: act()
            Keys.onEnterPressed: act()
            delegate: Column {
                id: listEntry
                required property var entry
                required property int index
                readonly property bool cursor: list.activeFocus && ListView.isCurrentItem
                width: list.width - 12
                CountryHeader {
                    width: parent.width
                    visible: listEntry.entry.kind === "header"
                    entry: listEntry.entry
                    cursor: listEntry.cursor
                    onClicked: {
                        list.currentIndex = listEntry.index
                        vm.toggleCountry(listEntry.entry.country)
                    }
                }
                RelayRow {
                    width: parent.width
                    visible: listEntry.entry.kind === "relay"
                    entry: listEntry.entry
                    cursor: listEntry.cursor ? (list.onStar ? "star" : "body") : ""
                    onClicked: {
                        list.currentIndex = listEntry.index
                        vm.selectRelay(listEntry.entry.id)
                    }
                    onFavoriteToggled: vm.toggleFavorite(listEntry.entry.id)
                }
            }
        }

        RecentlyWorked {
            objectName: "recentlyWorked"
            servers: vm
            visible: vm.recentlyWorked.length > 0 && vm.contentState !== "loading"
            Layout.fillWidth: true
        }
    }
}
