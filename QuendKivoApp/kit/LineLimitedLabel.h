#pragma once

// A label that wraps its text and shows at most N lines. Cutting the end
// puts an ellipsis on the last shown line; keeping the end drops lines from
// the top, so the newest line of a log always shows. While lines are left
// out, the whole text is the tooltip.

#include <QFont>
#include <QLabel>
#include <QStringList>

namespace kivo {

enum class LineCut { KeepStart, KeepEnd };

// The visual lines that show of `text` wrapped to `width` pixels in `font`.
QStringList visibleLines(const QString &text, const QFont &font, int width, int maxLines, LineCut cut);

// A tooltip event of a label whose text may be cut: a tooltip of the
// label's own wins; otherwise `wholeText` shows while the text is cut.
// True when the event was a tooltip and is handled.
bool showWholeTextTip(QLabel *label, QEvent *event, bool isCut, const QString &wholeText);

class LineLimitedLabel : public QLabel {
    Q_OBJECT
public:
    LineLimitedLabel(int maxLines, LineCut cut = LineCut::KeepStart, QWidget *parent = nullptr);

    void setFullText(const QString &text);
    QString fullText() const { return m_fullText; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void relayout();

    int m_maxLines;
    LineCut m_cut;
    QString m_fullText;
    bool m_isCut = false;
};

} // namespace kivo
