#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVariantMap>

namespace linvera::test {

/// A stand-in for the desktop's screenshot portal: org.freedesktop.portal.Screenshot at
/// /org/freedesktop/portal/desktop under org.freedesktop.portal.Desktop, on the connection it is
/// given. Each request is answered on its request object as told by the behaviour.
class PortalImitation : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")

public:
    enum class Behaviour {
        Picture,     ///< response 0 with the URI of a file holding the picture
        Cancel,      ///< response 1
        Fail,        ///< response 2
        Never,       ///< the call is answered, the response never comes
        MissingFile, ///< response 0 naming a file that is not there
        PlantedLink, ///< response 0 naming a link to a real picture elsewhere
        Deny,        ///< the call itself fails with AccessDenied
        NoPicker,    ///< as wlroots backends: response 2 to an interactive request, else a picture
    };

    /// Writes its pictures (and links) into folder.
    PortalImitation(const QDBusConnection& bus, const QString& folder);
    ~PortalImitation() override;

    /// Takes the portal's name and object: with screenshot false the object carries no Screenshot
    /// interface, as a portal without a backend for it.
    bool publish(bool screenshot = true);

    void setBehaviour(Behaviour behaviour) { m_behaviour = behaviour; }
    void setPicture(const QImage& picture) { m_picture = picture; }
    /// Where the picture file is written, its fixed name as some backends use.
    QString pictureFile() const;
    /// The file a planted link points to.
    QString linkTarget() const;
    int requests() const { return m_requests; }
    QVariantMap lastOptions() const { return m_lastOptions; }

public Q_SLOTS:
    QDBusObjectPath Screenshot(const QString& parentWindow, const QVariantMap& options);

private:
    void respond(const QString& caller, const QString& handle, uint code, const QString& uri);

    QDBusConnection m_bus;
    QString m_folder;
    Behaviour m_behaviour = Behaviour::Picture;
    QImage m_picture;
    QObject m_other;
    int m_requests = 0;
    QVariantMap m_lastOptions;
    QSet<QString> m_tokens;
    bool m_published = false;
};

} // namespace linvera::test
