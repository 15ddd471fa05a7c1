import QtQuick

// Scrolls `flickable` so that the item holding the keyboard focus stays in sight when the
// focus moves to an item inside it.
Item {
    id: keeper
    property Flickable flickable: null
    property int margin: 16

    function inside(item: Item): bool {
        for (let at = item; at; at = at.parent) {
            if (at === keeper.flickable.contentItem) return true
        }
        return false
    }
    function reveal() {
        const window = keeper.Window.window
        const item = window ? window.activeFocusItem : null
        if (!keeper.flickable || !item || !keeper.inside(item)) return
        const box = item.mapToItem(keeper.flickable.contentItem, 0, 0, item.width, item.height)
        let y = keeper.flickable.contentY
        if (box.y - keeper.margin < y)
            y = box.y - keeper.margin
        else if (box.y + box.height + keeper.margin > y + keeper.flickable.height)
            y = box.y + box.height + keeper.margin - keeper.flickable.height
        keeper.flickable.contentY = Math.max(0, Math.min(y, keeper.flickable.contentHeight - keeper.flickable.height))
    }

    Connections {
        target: keeper.Window.window
        function onActiveFocusItemChanged() { keeper.reveal() }
    }
}
