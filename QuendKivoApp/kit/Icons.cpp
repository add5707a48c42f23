#include "QuendKivoApp/kit/Icons.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>

namespace kivo {

namespace {
QString resourcePath(const QString &symbol) { return QStringLiteral(":/kit/icons/") + symbol + QStringLiteral(".svg"); }
} // namespace

bool hasSymbol(const QString &symbol) { return QFile::exists(resourcePath(symbol)); }

QPixmap symbolPixmap(const QString &symbol, const QColor &tint, int pixelSize)
{
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(pixelSize, pixelSize) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(resourcePath(symbol));
    if (!renderer.isValid())
        return pixmap;
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, pixelSize, pixelSize));
    // The drawing's shape in the tint colour, keeping its opacity.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRectF(0, 0, pixelSize, pixelSize), tint);
    return pixmap;
}

QIcon symbolIcon(const QString &symbol, const QColor &tint)
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48})
        icon.addPixmap(symbolPixmap(symbol, tint, size));
    return icon;
}

} // namespace kivo
