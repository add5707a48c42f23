#include "QuendKivoApp/configuration/ActivityTab.h"

#include "QuendKivoApp/kit/ContentUnavailableNotice.h"
#include "QuendKivoApp/kit/Fonts.h"
#include "QuendKivoApp/kit/LineLimitedLabel.h"
#include "QuendKivoApp/kit/PageControls.h"
#include "QuendKivoApp/kit/Palette.h"
#include "QuendKivoApp/model/AppModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace kivo {

namespace {

// The log's rounded panel: the quaternary fill at 45 %, from the light or
// dark variant as the window's palette is.
class LogBackground : public QWidget {
protected:
    void paintEvent(QPaintEvent *) override
    {
        const bool dark = appearanceOf(palette()) == Appearance::Dark;
        QColor fill(dark ? 118 : 116, 116, 128);
        fill.setAlphaF(float((dark ? 0.18 : 0.08) * 0.45));
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(rect()), 12, 12);
    }
};

} // namespace

QStringList shownEvents(const QStringList &events)
{
    return events.mid(std::max<qsizetype>(0, events.size() - activityShownEvents));
}

QString eventsTotalText(qsizetype count) { return QString::number(count) + QStringLiteral(" total"); }

ActivityTab::ActivityTab(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);

    auto *header = new QHBoxLayout;
    auto *titles = new QVBoxLayout;
    titles->setSpacing(4);
    auto *title = new QLabel(QStringLiteral("Recent activity"));
    title->setFont(styleFont(TextStyle::Headline));
    auto *caption = new QLabel(QStringLiteral("Newest events appear last. Showing up to 18 entries."));
    caption->setFont(styleFont(TextStyle::Caption));
    setSecondaryStyle(caption);
    titles->addWidget(title);
    titles->addWidget(caption);
    header->addLayout(titles);
    header->addStretch(1);
    m_total = new QLabel;
    m_total->setObjectName(QStringLiteral("activity.total"));
    m_total->setFont(monospacedFont(stylePixelSize(TextStyle::Caption)));
    setSecondaryStyle(m_total);
    header->addWidget(m_total, 0, Qt::AlignTop);
    layout->addLayout(header);

    layout->addWidget(separatorLine());

    m_body = new QStackedLayout;
    auto *empty = new ContentUnavailableNotice(
        {.title = QStringLiteral("No activity yet"),
         .symbol = QStringLiteral("waveform.path"),
         .description = QStringLiteral("Start the bridge to see connection and CAT events.")});
    empty->setObjectName(QStringLiteral("activity.empty"));
    m_body->addWidget(empty);

    auto *background = new LogBackground;
    background->setObjectName(QStringLiteral("activity.background"));
    auto *inset = new QVBoxLayout(background);
    inset->setContentsMargins(16, 16, 16, 16);
    // Wrapped lines beyond the box drop from the top, so the newest line
    // is always the one at the bottom.
    m_block = new LineLimitedLabel(activityShownEvents, LineCut::KeepEnd);
    m_block->setObjectName(QStringLiteral("activity.events"));
    m_block->setFont(monospacedFont(stylePixelSize(TextStyle::Caption)));
    m_block->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_block->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
    inset->addWidget(m_block);
    m_body->addWidget(background);
    layout->addLayout(m_body, 1);

    connect(&model, &AppModel::eventsChanged, this, &ActivityTab::refresh);
    refresh();
}

void ActivityTab::refresh()
{
    const QStringList events = m_model.events();
    m_total->setText(eventsTotalText(events.size()));
    m_body->setCurrentIndex(events.isEmpty() ? 0 : 1);
    m_block->setFullText(shownEvents(events).join(QLatin1Char('\n')));
}

} // namespace kivo
