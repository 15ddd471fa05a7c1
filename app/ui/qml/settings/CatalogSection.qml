import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orlune.Ui

// Where the relay catalog comes from when the primary server cannot be reached: mirrors tried in
// order, and the proxy that catalog and profile downloads use.
SettingsSection {
    id: section
    required property Shell shell

    title: "Catalog"

    CatalogSettingsViewModel {
        id: vm
        shell: section.shell
    }

    component Field: TextField {
        id: field
        implicitHeight: 32
        font.pointSize: Theme.pt(13)
        color: Theme.text
        placeholderTextColor: Theme.secondaryText
        selectByMouse: true
        Accessible.name: placeholderText
        background: Rectangle {
            radius: 6
            color: Theme.field
            border.color: field.activeFocus ? Theme.accent : Theme.cardBorder
        }
    }

    Text {
        text: "Catalog mirrors"
        color: Theme.text
        font.pointSize: Theme.pt(13)
        Layout.fillWidth: true
    }
    TextArea {
        id: mirrors
        objectName: "catalogMirrors"
        text: vm.mirrorsText
        placeholderText: "https://mirror.example/api/iphone/ (one URL a line)"
        font.pointSize: Theme.pt(13)
        color: Theme.text
        placeholderTextColor: Theme.secondaryText
        wrapMode: TextEdit.NoWrap
        selectByMouse: true
        Accessible.name: "Catalog mirrors"
        Layout.fillWidth: true
        Layout.minimumHeight: 64
        // One URL a line never holds a tab: Tab moves on, as everywhere else in the window.
        Keys.onTabPressed: nextItemInFocusChain(true).forceActiveFocus(Qt.TabFocusReason)
        Keys.onBacktabPressed: nextItemInFocusChain(false).forceActiveFocus(Qt.BacktabFocusReason)
        background: Rectangle {
            radius: 6
            color: Theme.field
            border.color: mirrors.activeFocus ? Theme.accent : Theme.cardBorder
            FocusRing { shown: mirrors.activeFocus }
        }
    }
    Note {
        text: "Tried in order when the primary catalog fails or answers with something that is not a relay list. Each must be a full catalog URL over https (plain http only to this computer)."
    }
    PlainButton {
        objectName: "saveMirrors"
        text: "Save Mirrors"
        onClicked: vm.applyMirrors(mirrors.text)
    }
    Note {
        text: vm.mirrorsMessage
        warning: vm.mirrorsRejected
    }

    RowLayout {
        spacing: 12
        Layout.fillWidth: true
        Text {
            text: "Catalog proxy"
            color: Theme.text
            font.pointSize: Theme.pt(13)
            Layout.fillWidth: true
        }
        Choice {
            id: mode
            objectName: "catalogProxyMode"
            model: vm.proxyModes
            currentIndex: vm.proxyModeIndex
            implicitWidth: 200
            Accessible.name: "Catalog proxy"
        }
    }
    RowLayout {
        spacing: 8
        enabled: mode.currentIndex >= 2
        opacity: enabled ? 1 : 0.45
        Layout.fillWidth: true
        Field {
            id: host
            text: vm.proxyHost
            placeholderText: "Proxy host"
            Layout.fillWidth: true
        }
        Field {
            id: port
            text: vm.proxyPort
            placeholderText: "Port"
            inputMethodHints: Qt.ImhDigitsOnly
            Layout.preferredWidth: 72
        }
        Field {
            id: user
            text: vm.proxyUser
            placeholderText: "User (optional)"
            Layout.preferredWidth: 130
        }
        Field {
            id: password
            placeholderText: "Password"
            echoMode: TextInput.Password
            Layout.preferredWidth: 120
        }
    }
    Note {
        text: "Only the catalog and profile downloads use it; the connection checks always see the real network. A password is kept for this session only, never stored."
    }
    PlainButton {
        objectName: "applyProxy"
        text: "Apply Proxy"
        onClicked: vm.applyProxy(mode.currentIndex, host.text, port.text, user.text, password.text)
    }
    Note {
        text: vm.proxyMessage
        warning: vm.proxyRejected
    }
}
