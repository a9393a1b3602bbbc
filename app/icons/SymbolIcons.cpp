#include "icons/SymbolIcons.h"

#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QPalette>

namespace tessvale {

namespace {

struct Drawing
{
    const char* name;
    bool hasTrayVariant;
};

// Every symbol the menu, the tray, the HUD and the setup window show.
constexpr Drawing kDrawings[] = {
    { "mic", true },
    { "mic.fill", false },
    { "record.circle.fill", true },
    { "waveform", true },
    { "sparkles", true },
    { "text.cursor", true },
    { "exclamationmark.triangle.fill", true },
    { "person.crop.circle.badge.xmark", true },
    { "person.crop.circle.badge.plus", false },
    { "stop.fill", false },
    { "arrow.clockwise", false },
    { "arrow.down.circle.fill", false },
    { "arrow.triangle.2.circlepath", false },
    { "arrow.right.circle.fill", false },
    { "checkmark.circle.fill", false },
    { "circle", false },
    { "doc.on.doc", false },
    { "gearshape", false },
    { "globe", false },
    { "power", false },
    { "rectangle.portrait.and.arrow.right", false },
    { "slider.horizontal.3", false },
};

const Drawing* drawing(const QString& name)
{
    for (const Drawing& entry : kDrawings) {
        if (name == QLatin1String(entry.name))
            return &entry;
    }
    return nullptr;
}

bool paletteIsDark()
{
    return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
}

QIcon iconFromFile(const QString& path)
{
    if (path.isEmpty())
        return {};
    // QIcon loads lazily; cache so that every caller shares one engine and its pixmap cache.
    static QHash<QString, QIcon> cache;
    auto it = cache.find(path);
    if (it == cache.end())
        it = cache.insert(path, QIcon(path));
    return *it;
}

} // namespace

QStringList symbolIconNames()
{
    QStringList names;
    for (const Drawing& entry : kDrawings)
        names.append(QString::fromLatin1(entry.name));
    return names;
}

QString symbolIconPath(const QString& name, const QString& variant)
{
    const Drawing* entry = drawing(name);
    if (!entry || (variant == QLatin1String("tray") && !entry->hasTrayVariant))
        return {};
    return QStringLiteral(":/symbols/%1/%2.svg").arg(variant, name);
}

QIcon symbolIcon(const QString& name)
{
    return iconFromFile(symbolIconPath(name, paletteIsDark() ? QStringLiteral("dark") : QStringLiteral("light")));
}

QIcon traySymbolIcon(const QString& name)
{
    const QString path = symbolIconPath(name, QStringLiteral("tray"));
    return path.isEmpty() ? symbolIcon(name) : iconFromFile(path);
}

QPixmap tintedSymbolPixmap(const QString& name, const QColor& tint, int size, qreal devicePixelRatio)
{
    const QIcon icon = iconFromFile(symbolIconPath(name, QStringLiteral("light")));
    if (icon.isNull())
        return {};
    // The ratio is given, not the application's: a pixmap of size x ratio device pixels.
    QImage image = icon.pixmap(QSize(size, size), devicePixelRatio).toImage().convertToFormat(QImage::Format_ARGB32);
    // The light drawing is dark ink with white cut-outs: ink becomes the tint, white stays white.
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = line[x];
            const int alpha = qAlpha(pixel);
            if (alpha == 0)
                continue;
            const double ink = 1.0 - qGray(pixel) / 255.0;
            auto mix = [ink](int tinted) { return qRound(255 + (tinted - 255) * ink); };
            line[x] = qRgba(mix(tint.red()), mix(tint.green()), mix(tint.blue()), alpha * tint.alpha() / 255);
        }
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

} // namespace tessvale
