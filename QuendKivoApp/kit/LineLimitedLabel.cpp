#include "QuendKivoApp/kit/LineLimitedLabel.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QTextLayout>
#include <QToolTip>

namespace kivo {

namespace {

QStringList wrapped(const QString &text, const QFont &font, int width)
{
    QStringList lines;
    for (const QString &paragraph : text.split(QLatin1Char('\n'))) {
        QTextLayout layout(paragraph, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        bool any = false;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(std::max(1, width));
            lines.append(paragraph.mid(line.textStart(), line.textLength()).trimmed());
            any = true;
        }
        layout.endLayout();
        if (!any)
            lines.append(QString());
    }
    return lines;
}

QStringList cutLines(QStringList lines, const QFont &font, int width, int maxLines, LineCut cut)
{
    if (lines.size() <= maxLines)
        return lines;
    if (cut == LineCut::KeepEnd)
        return lines.mid(lines.size() - maxLines);
    lines = lines.mid(0, maxLines);
    const QFontMetrics metrics(font);
    const QString last = lines.last() + QChar(0x2026);
    lines.last() = metrics.horizontalAdvance(last) <= width ? last
                                                           : metrics.elidedText(last, Qt::ElideRight, width);
    return lines;
}

} // namespace

QStringList visibleLines(const QString &text, const QFont &font, int width, int maxLines, LineCut cut)
{
    return cutLines(wrapped(text, font, width), font, width, maxLines, cut);
}

LineLimitedLabel::LineLimitedLabel(int maxLines, LineCut cut, QWidget *parent)
    : QLabel(parent), m_maxLines(maxLines), m_cut(cut)
{
    setWordWrap(false);
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void LineLimitedLabel::setFullText(const QString &text)
{
    if (text == m_fullText)
        return;
    m_fullText = text;
    relayout();
}

QSize LineLimitedLabel::minimumSizeHint() const
{
    const int lines = std::max(1, int(text().count(QLatin1Char('\n'))) + 1);
    return {0, fontMetrics().lineSpacing() * std::min(lines, m_maxLines) + 2 * margin()};
}

QSize LineLimitedLabel::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(m_fullText.section(QLatin1Char('\n'), 0, 0)),
            minimumSizeHint().height()};
}

void LineLimitedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    relayout();
}

void LineLimitedLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        relayout();
}

bool showWholeTextTip(QLabel *label, QEvent *event, bool isCut, const QString &wholeText)
{
    if (event->type() != QEvent::ToolTip || !label->toolTip().isEmpty())
        return false;
    if (isCut)
        QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), wholeText, label);
    else
        QToolTip::hideText();
    return true;
}

bool LineLimitedLabel::event(QEvent *event)
{
    return showWholeTextTip(this, event, m_isCut, m_fullText) || QLabel::event(event);
}

void LineLimitedLabel::relayout()
{
    const int width = contentsRect().width() - 2 * margin();
    const QStringList lines = wrapped(m_fullText, font(), width);
    m_isCut = lines.size() > m_maxLines;
    const QString shown = cutLines(lines, font(), width, m_maxLines, m_cut).join(QLatin1Char('\n'));
    if (shown != text()) {
        setText(shown);
        updateGeometry();
    }
}

} // namespace kivo
