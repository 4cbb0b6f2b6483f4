#pragma once

#include <QList>
#include <QString>

namespace linvera {

/// The native-messaging host manifests through which the program's browser extension (a context
/// menu entry and a toolbar button in Chromium-family browsers and Firefox) reaches the host
/// program, which hands the URL to the command mailbox. One manifest per browser, for the current
/// user only.
class NativeMessagingManifests
{
public:
    enum class Family { Chromium, Firefox };

    struct Target
    {
        Family family;
        /// The browser's folder of per-user host manifests.
        QString folder;
        /// The browser's own configuration folder: a manifest is written only where it exists,
        /// that is for the browsers the user has.
        QString browserFolder;
    };

    /// Name of the host, also the manifest's file name without ".json".
    static QString hostName();
    /// File name of the host program beside the executables.
    static QString hostProgramName();
    /// The extension's identifiers, as each family's manifest names the callers it lets in. The
    /// Chromium id follows from the public key in the extension's manifest.
    static QString chromiumExtensionId();
    static QString chromiumOrigin();
    static QString firefoxExtensionId();

    /// Chromium, Google Chrome, Brave, Vivaldi, Microsoft Edge (under $XDG_CONFIG_HOME) and Firefox
    /// (under ~/.mozilla).
    static QList<Target> userTargets();

    /// The host program is `hostProgramName()` in the given folder.
    NativeMessagingManifests(const QString& programFolder, const QList<Target>& targets);
    /// The running program's folder and userTargets().
    NativeMessagingManifests();

    QString hostPath() const;
    QString manifestPath(const Target& target) const;
    /// The manifest text for one family.
    QByteArray manifest(Family family) const;

    /// Writes the manifest of every browser whose configuration folder exists (through a temporary
    /// file renamed over the old one), creating the manifest folder. One of ours naming another host
    /// path is rewritten; one already as it should be is not touched; a file of the same name that is
    /// not ours is left alone. True when all of those are in place.
    bool install() const;
    /// Removes the manifests that are ours; anything else stays. True when none of ours is left.
    bool remove() const;
    /// Whether the file at the path is a manifest of this host.
    static bool isOurs(const QString& path);

    const QList<Target>& targets() const { return m_targets; }

private:
    QString m_programFolder;
    QList<Target> m_targets;
};

} // namespace linvera
