#pragma once

// A centred notice for a page with nothing to show: symbol, title and a
// line of description.

#include <QWidget>

namespace kivo {

class ContentUnavailableNotice : public QWidget {
    Q_OBJECT
public:
    ContentUnavailableNotice(const QString &title, const QString &symbol, const QString &description,
                             QWidget *parent = nullptr);
};

} // namespace kivo
