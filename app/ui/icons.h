#pragma once

#include <QColor>
#include <QImage>
#include <QQuickImageProvider>
#include <QSize>
#include <QString>

#include <optional>

namespace orlune::ui {

// The one table from the symbol names the screens use to the vendored Lucide icons.
struct IconFile {
    QString resource;  // ":/…/icons/lucide/NAME.svg"
    bool filled;       // drawn filled with the colour, not only outlined
};
std::optional<IconFile> iconFile(const QString& symbol);
// Every symbol of the table (for tests).
QStringList iconSymbols();

// The symbol drawn in `color` at `size`; a null image for an unknown symbol.
QImage renderIcon(const QString& symbol, const QColor& color, QSize size);

// "image://icon/SYMBOL/RRGGBB" (or AARRGGBB) for QML images.
class IconImageProvider : public QQuickImageProvider {
public:
    IconImageProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}
    QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;
};

}  // namespace orlune::ui
