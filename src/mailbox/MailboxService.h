#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>

namespace linvera {

/// The mailbox itself: one command text and one dirty flag, exported on the bus through the
/// generated adaptor. The bus hands calls to this single-threaded object one at a time, so
/// every method is atomic by itself.
class MailboxService : public QObject, protected QDBusContext
{
    Q_OBJECT

public:
    explicit MailboxService(QObject* parent = nullptr);

    void setCmdData(const QString& txtSrc);
    QString getCmdData();
    void setCmdDirty();
    void clearCmdDirty();
    int checkCmdDirty();

Q_SIGNALS:
    /// Emitted for every call that came over the bus, with the caller's unique connection name.
    void calledBy(const QString& uniqueName);

private:
    void noteCaller();

    QString m_text;
    int m_dirty = 0;
};

} // namespace linvera
