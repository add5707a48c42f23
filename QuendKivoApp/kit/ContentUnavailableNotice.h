#pragma once

// A centred notice for a page with nothing to show: symbol, title and a
// line of description, in the palette's colours unless a fixed panel gives
// its own.

#include <QColor>
#include <QWidget>

class QLabel;

namespace kivo {

struct ContentUnavailableText {
    QString title{};
    // The kit symbol's name.
    QString symbol{};
    QString description{};
};

class ContentUnavailableNotice : public QWidget {
    Q_OBJECT
public:
    explicit ContentUnavailableNotice(const ContentUnavailableText &text, QWidget *parent = nullptr);

    void setDescription(const QString &description);
    QString description() const;
    // Fixed colours for the title and for the symbol and description.
    void setFixedColors(const QColor &title, const QColor &secondary);

protected:
    void changeEvent(QEvent *event) override;

private:
    void tintSymbol();

    QString m_symbol;
    QColor m_fixedSecondary;
    QLabel *m_icon;
    QLabel *m_title;
    QLabel *m_description;
};

} // namespace kivo
