#include "ui/icons.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

#include <array>

namespace orlune::ui {
namespace {

struct Entry {
    const char* symbol;
    const char* lucide;
    bool filled;
};

constexpr std::array kIcons = {
    Entry{"house", "house", false},
    Entry{"server.rack", "server", false},
    Entry{"star", "star", false},
    Entry{"star.fill", "star", true},
    Entry{"chart.bar", "chart-column", false},
    Entry{"gearshape", "settings", false},
    Entry{"questionmark.circle", "circle-help", false},
    Entry{"info.circle", "info", false},
    Entry{"shield.lefthalf.filled", "shield-half", false},
    Entry{"checkmark.shield.fill", "shield-check", false},
    Entry{"arrow.trianglehead.2.clockwise.rotate.90", "refresh-cw", false},
    Entry{"arrow.trianglehead.2.clockwise", "refresh-cw", false},
    Entry{"arrow.clockwise", "rotate-cw", false},
    Entry{"power", "power", false},
    Entry{"exclamationmark.triangle.fill", "triangle-alert", false},
    Entry{"exclamationmark.shield.fill", "shield-alert", false},
    Entry{"bolt.fill", "zap", true},
    Entry{"bolt.circle", "circle-gauge", false},
    Entry{"globe.americas", "earth", false},
    Entry{"chevron.up.chevron.down", "chevrons-up-down", false},
    Entry{"chevron.down", "chevron-down", false},
    Entry{"chevron.right", "chevron-right", false},
    Entry{"checkmark", "check", false},
    Entry{"checkmark.circle.fill", "circle-check", false},
    Entry{"circle", "circle", false},
    Entry{"wifi.slash", "wifi-off", false},
    Entry{"magnifyingglass", "search", false},
    Entry{"xmark.circle.fill", "circle-x", false},
    Entry{"macwindow", "app-window", false},
    Entry{"clock", "clock", false},
    Entry{"waveform.path", "audio-waveform", false},
    Entry{"arrow.up", "arrow-up", false},
    Entry{"arrow.down", "arrow-down", false},
    Entry{"globe", "globe", false},
    Entry{"exclamationmark.triangle", "triangle-alert", false},
    Entry{"lock.shield", "lock", false},
    Entry{"hand.raised", "hand", false},
    Entry{"arrow.up.right.square", "square-arrow-out-up-right", false},
    Entry{"doc.on.doc", "copy", false},
    Entry{"doc.text", "file-text", false},
    Entry{"plus", "plus", false},
    Entry{"minus", "minus", false},
};

}  // namespace

std::optional<IconFile> iconFile(const QString& symbol) {
    for (const Entry& entry : kIcons) {
        if (symbol == QLatin1String(entry.symbol)) {
            return IconFile{QStringLiteral(":/Orlune/Ui/icons/lucide/") + QLatin1String(entry.lucide) + ".svg",
                            entry.filled};
        }
    }
    return std::nullopt;
}

QStringList iconSymbols() {
    QStringList symbols;
    for (const Entry& entry : kIcons) symbols << QString::fromLatin1(entry.symbol);
    return symbols;
}

QImage renderIcon(const QString& symbol, const QColor& color, QSize size) {
    const auto file = iconFile(symbol);
    if (!file || size.isEmpty()) return {};
    QFile svg(file->resource);
    if (!svg.open(QIODevice::ReadOnly)) return {};
    // Lucide draws with currentColor; the colour is put in before rendering.
    QByteArray text = svg.readAll();
    const QByteArray name = color.name(QColor::HexRgb).toLatin1();
    text.replace("currentColor", name);
    if (file->filled) text.replace("fill=\"none\"", "fill=\"" + name + "\"");
    QSvgRenderer renderer(text);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setOpacity(color.alphaF());
    renderer.render(&painter);
    return image;
}

QImage IconImageProvider::requestImage(const QString& id, QSize* size, const QSize& requestedSize) {
    const qsizetype slash = id.lastIndexOf(u'/');
    const QString symbol = id.left(slash);
    QColor color(u'#' + id.mid(slash + 1));
    if (!color.isValid()) color = Qt::black;
    const QSize wanted = requestedSize.isValid() && !requestedSize.isEmpty() ? requestedSize : QSize(24, 24);
    QImage image = renderIcon(symbol, color, wanted);
    if (image.isNull()) {
        image = QImage(wanted, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
    }
    if (size) *size = image.size();
    return image;
}

}  // namespace orlune::ui
