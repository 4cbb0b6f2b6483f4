#include "browser/BrowserRegistrations.h"

#include "platform/AppPaths.h"
#include "platform/RegAccess.h"
#include "platform/RegistryStore.h"

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

constexpr auto kUser = platform::RegRoot::CurrentUser;

} // namespace

QString BrowserRegistrations::caption()
{
    return u"KemoでURLを短縮化＆ﾌﾟﾚﾋﾞｭｰ"_s;
}

QString BrowserRegistrations::menuExtKey()
{
    return u"Software\\Microsoft\\Internet Explorer\\MenuExt\\"_s + caption();
}

QString BrowserRegistrations::toolbarButtonKey()
{
    return u"Software\\Microsoft\\Internet Explorer\\Extensions\\{5D3A8E21-7C4B-4F10-9B6E-2A71C0D84F3B}"_s;
}

BrowserRegistrations::BrowserRegistrations(const QString& programFolder, NativeMessagingManifests manifests)
    : m_programFolder(programFolder)
    , m_manifests(std::move(manifests))
{}

BrowserRegistrations::BrowserRegistrations()
    : BrowserRegistrations(platform::AppPaths::fromEnvironment().programFolder, NativeMessagingManifests())
{}

QString BrowserRegistrations::programFile(const QString& name) const
{
    return platform::JoinPath(m_programFolder, name);
}

bool BrowserRegistrations::menuExtensionRegistered()
{
    return platform::RegistryStore::shared().keyExists(kUser, menuExtKey());
}

bool BrowserRegistrations::toolbarButtonRegistered()
{
    return platform::RegistryStore::shared().keyExists(kUser, toolbarButtonKey());
}

void BrowserRegistrations::addMenuExtension() const
{
    const QString key = menuExtKey();
    SetRegString(kUser, key, QString(), programFile(u"menuext.html"_s));
    SetRegNumber(kUser, key, u"Contexts"_s, 63);
    SetRegNumber(kUser, key, u"Flags"_s, 0);
    SetRegString(kUser, key, u"Exe"_s, programFile(u"H-Linvera"_s));
    m_manifests.install();
}

void BrowserRegistrations::removeMenuExtension() const
{
    const QString key = menuExtKey();
    DeleteRegValue(kUser, key, u"Contexts"_s);
    DeleteRegValue(kUser, key, u"Flags"_s);
    DeleteRegKey(kUser, key);
    dropManifestsWhenUnused();
}

void BrowserRegistrations::addToolbarButton() const
{
    const QString key = toolbarButtonKey();
    SetRegString(kUser, key, QString(), caption());
    SetRegString(kUser, key, u"ButtonText"_s, caption());
    SetRegString(kUser, key, u"Default Visible"_s, u"Yes"_s);
    SetRegString(kUser, key, u"HotIcon"_s, programFile(u"linvera-ie.ico"_s));
    SetRegString(kUser, key, u"Icon"_s, programFile(u"linvera-ie.ico"_s));
    SetRegString(kUser, key, u"Script"_s, programFile(u"toolbar.html"_s));
    SetRegString(kUser, key, u"Exe"_s, programFile(u"H-Linvera"_s));
    SetRegString(kUser, key, u"CLSID"_s, u"{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}"_s);
    m_manifests.install();
}

void BrowserRegistrations::removeToolbarButton() const
{
    const QString key = toolbarButtonKey();
    for (const QString& name :
         {u"ButtonText"_s, u"Default Visible"_s, u"HotIcon"_s, u"Icon"_s, u"Script"_s, u"Exe"_s})
        DeleteRegValue(kUser, key, name);
    DeleteRegKey(kUser, key);
    dropManifestsWhenUnused();
}

void BrowserRegistrations::dropManifestsWhenUnused() const
{
    // One host serves both entries: it goes only when neither is registered any more.
    if (menuExtensionRegistered() || toolbarButtonRegistered())
        return;
    m_manifests.remove();
}

void AddMenuExtension()
{
    BrowserRegistrations().addMenuExtension();
}

void RemoveMenuExtension()
{
    BrowserRegistrations().removeMenuExtension();
}

void AddToolbarButton()
{
    BrowserRegistrations().addToolbarButton();
}

void RemoveToolbarButton()
{
    BrowserRegistrations().removeToolbarButton();
}

} // namespace linvera
