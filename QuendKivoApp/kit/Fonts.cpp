#include "QuendKivoApp/kit/Fonts.h"

#include <QFontDatabase>

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

} // namespace kivo
