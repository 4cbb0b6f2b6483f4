#pragma once

#include <QObject>
#include <QString>

#include <optional>

class QMimeData;

namespace linvera {

/// The plain text of dropped data, when it offers any (text/plain, or text/plain in UTF-8).
std::optional<QString> DroppedText(const QMimeData* data);

/// Takes over the drops of every object it watches: plain text is accepted and reported through
/// `textDropped`, any other data is refused, and the watched widget's own drop handling never runs.
class TextDropFilter : public QObject
{
    Q_OBJECT

public:
    explicit TextDropFilter(QObject* parent = nullptr);

    /// Watches `target` and lets it accept drops.
    void watch(QWidget* target);

Q_SIGNALS:
    void textDropped(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace linvera
