import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orlune.Ui

// The Servers page (every recommended relay) or the Favorites page (the saved ones).
Item {
    id: page
    required property Shell shell
    property bool favoritesOnly: false

    ServersViewModel {
        id: vm
        shell: page.shell
        favoritesOnly: page.favoritesOnly
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Theme.pagePadding
        spacing: 14

        PageHeader {
            title: vm.title
            subtitle: vm.subtitle
            Layout.fillWidth: true
            Text {
                visible: text !== ""
                text: vm.updatedText
                color: Theme.secondaryText
                font.pixelSize: 12
                anchors.verticalCenter: parent.verticalCenter
            }
            PlainButton {
                visible: !page.favoritesOnly
                text: "Import Catalog…"
                tip: "Load a relay list saved from VPN Gate when the live catalog cannot be reached"
                onClicked: vm.importCatalog()
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
            font.pixelSize: 12
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }

        Text {
            visible: text !== ""
            text: vm.filterCaption
            color: Theme.secondaryText
            font.pixelSize: 12
            elide: Text.ElideRight
            Layout.fillWidth: true
        }

        RowLayout {
            spacing: 10
            Layout.fillWidth: true
            SearchField {
                placeholderText: "Search servers or hosts"
                iconSymbol: "magnifyingglass"
                text: vm.serverSearch
                onTextChanged: vm.serverSearch = text
                Layout.fillWidth: true
            }
            SearchField {
                placeholderText: "Search countries"
                iconSymbol: "globe.americas"
                text: vm.countrySearch
                onTextChanged: vm.countrySearch = text
                Layout.preferredWidth: 220
            }
            Text {
                text: "Sort"
                color: Theme.secondaryText
                font.pixelSize: 13
            }
            ComboBox {
                id: sort
                model: vm.sortOptions
                currentIndex: vm.sortIndex
                onActivated: index => vm.sortIndex = index
                Layout.preferredWidth: 170
                implicitHeight: 34
                hoverEnabled: true
                font.pixelSize: 13
                ToolTip.visible: hovered
                ToolTip.delay: 600
                ToolTip.text: "Sort servers"
                Accessible.name: "Sort"
                background: Rectangle {
                    radius: 8
                    color: sort.hovered ? Theme.hover : Theme.card
                    border.color: Theme.cardBorder
                }
                contentItem: Text {
                    leftPadding: 10
                    text: sort.displayText
                    color: Theme.text
                    font: sort.font
                    verticalAlignment: Text.AlignVCenter
                    elide: Text.ElideRight
                }
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

        ListView {
            id: list
            objectName: "serverList"
            visible: vm.contentState === "list"
            clip: true
            spacing: 6
            model: vm.rowModel
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {}
            Layout.fillWidth: true
            Layout.fillHeight: true
            delegate: Column {
                id: listEntry
                required property var entry
                width: list.width - 12
                CountryHeader {
                    width: parent.width
                    visible: listEntry.entry.kind === "header"
                    entry: listEntry.entry
                    onClicked: vm.toggleCountry(listEntry.entry.country)
                }
                RelayRow {
                    width: parent.width
                    visible: listEntry.entry.kind === "relay"
                    entry: listEntry.entry
                    onClicked: vm.selectRelay(listEntry.entry.id)
                    onFavoriteToggled: vm.toggleFavorite(listEntry.entry.id)
                }
            }
        }
    }
}
