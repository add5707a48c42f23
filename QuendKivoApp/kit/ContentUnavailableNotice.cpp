#include "QuendKivoApp/kit/ContentUnavailableNotice.h"

#include "QuendKivoApp/kit/Fonts.h"
#include "QuendKivoApp/kit/Icons.h"
#include "QuendKivoApp/kit/Palette.h"

#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace kivo {

ContentUnavailableNotice::ContentUnavailableNotice(const ContentUnavailableText &text, QWidget *parent)
    : QWidget(parent), m_symbol(text.symbol), m_icon(new QLabel(this)), m_title(new QLabel(text.title, this)),
      m_description(new QLabel(text.description, this))
{
    auto *layout = new QVBoxLayout(this);
    layout->addStretch(1);
    m_icon->setObjectName(QStringLiteral("notice.symbol"));
    m_icon->setAlignment(Qt::AlignCenter);
    m_title->setObjectName(QStringLiteral("notice.title"));
    m_title->setFont(kitFont(17, QFont::Bold));
    m_title->setAlignment(Qt::AlignCenter);
    m_description->setObjectName(QStringLiteral("notice.description"));
    m_description->setFont(styleFont(TextStyle::Body));
    m_description->setAlignment(Qt::AlignCenter);
    m_description->setWordWrap(true);
    setSecondaryStyle(m_description);
    layout->addWidget(m_icon);
    layout->addWidget(m_title);
    layout->addWidget(m_description);
    layout->addStretch(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    tintSymbol();
}

void ContentUnavailableNotice::setDescription(const QString &description) { m_description->setText(description); }

QString ContentUnavailableNotice::description() const { return m_description->text(); }

void ContentUnavailableNotice::setFixedColors(const QColor &title, const QColor &secondary)
{
    m_fixedSecondary = secondary;
    setFixedForegroundColor(m_title, title);
    setFixedForegroundColor(m_description, secondary);
    tintSymbol();
}

void ContentUnavailableNotice::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !m_fixedSecondary.isValid())
        tintSymbol();
}

void ContentUnavailableNotice::tintSymbol()
{
    const QColor tint = m_fixedSecondary.isValid() ? m_fixedSecondary : textColor(PlatformColor::Secondary, palette());
    m_icon->setPixmap(symbolPixmap(m_symbol, tint, 40));
}

} // namespace kivo
