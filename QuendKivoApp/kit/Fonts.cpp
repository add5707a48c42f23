#include "QuendKivoApp/kit/Fonts.h"

#include "QuendKivoApp/kit/Palette.h"

#include <QFontDatabase>
#include <QPalette>
#include <QWidget>

namespace kivo {

QFont kitFont(int pixelSize, QFont::Weight weight)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QFont monospacedFont(int pixelSize, QFont::Weight weight)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

int stylePixelSize(TextStyle style)
{
    switch (style) {
    case TextStyle::Title2:
        return 17;
    case TextStyle::Headline:
    case TextStyle::Body:
        return 13;
    case TextStyle::Caption:
        return 10;
    }
    return 13;
}

QFont styleFont(TextStyle style)
{
    const auto weight = style == TextStyle::Title2 || style == TextStyle::Headline ? QFont::Bold
                                                                                   : QFont::Normal;
    return kitFont(stylePixelSize(style), weight);
}

void setSecondaryStyle(QWidget *widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, platformColor(PlatformColor::Secondary));
    palette.setColor(QPalette::Text, platformColor(PlatformColor::Secondary));
    widget->setPalette(palette);
}

void setForegroundColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    if (palette.color(QPalette::WindowText) == color && palette.color(QPalette::Text) == color)
        return;
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

} // namespace kivo
