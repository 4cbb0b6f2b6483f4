#pragma once

#include "browser/NativeMessagingManifests.h"

#include <QString>

namespace linvera {

/// The browser's context-menu entry and toolbar button for the current user: the extension
/// registrations in the registry store, and the native-messaging manifests that make the entries
/// work in the browsers of this system. The manifests stay while either entry is registered.
/// Every failure is ignored; nothing is reported.
class BrowserRegistrations
{
public:
    /// HKEY_CURRENT_USER key of the context-menu entry; its last element is the menu text.
    static QString menuExtKey();
    /// HKEY_CURRENT_USER key of the toolbar button; its last element is the button's identifier.
    static QString toolbarButtonKey();
    /// Menu text and button caption.
    static QString caption();

    /// `programFolder` holds the executables and the script pages.
    BrowserRegistrations(const QString& programFolder, NativeMessagingManifests manifests);
    /// The running program's folder and the user's browsers.
    BrowserRegistrations();

    /// Which entries the store registers now: what the extension shows.
    static bool menuExtensionRegistered();
    static bool toolbarButtonRegistered();

    void addMenuExtension() const;
    void removeMenuExtension() const;
    void addToolbarButton() const;
    void removeToolbarButton() const;

    /// A file in the program folder, joined with exactly one "/".
    QString programFile(const QString& name) const;

private:
    void dropManifestsWhenUnused() const;

    QString m_programFolder;
    NativeMessagingManifests m_manifests;
};

void AddMenuExtension();
void RemoveMenuExtension();
void AddToolbarButton();
void RemoveToolbarButton();

} // namespace linvera
