#include "QuendKivoApp/kit/ContentUnavailableNotice.h"

#include "QuendKivoApp/kit/Fonts.h"
#include "QuendKivoApp/kit/Icons.h"
#include "QuendKivoApp/kit/Palette.h"

#include <QLabel>
#include <QVBoxLayout>

namespace kivo {

ContentUnavailableNotice::ContentUnavailableNotice(const QString &title, const QString &symbol,
                                                   const QString &description, QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->addStretch(1);
    auto *icon = new QLabel(this);
    icon->setPixmap(symbolPixmap(symbol, platformColor(PlatformColor::Secondary), 40));
    icon->setAlignment(Qt::AlignCenter);
    auto *titleLabel = new QLabel(title, this);
    titleLabel->setObjectName(QStringLiteral("notice.title"));
    titleLabel->setFont(kitFont(17, QFont::Bold));
    titleLabel->setAlignment(Qt::AlignCenter);
    auto *descriptionLabel = new QLabel(description, this);
    descriptionLabel->setObjectName(QStringLiteral("notice.description"));
    descriptionLabel->setFont(styleFont(TextStyle::Body));
    descriptionLabel->setAlignment(Qt::AlignCenter);
    descriptionLabel->setWordWrap(true);
    setSecondaryStyle(descriptionLabel);
    layout->addWidget(icon);
    layout->addWidget(titleLabel);
    layout->addWidget(descriptionLabel);
    layout->addStretch(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

} // namespace kivo
