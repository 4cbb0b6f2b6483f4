#include "WindowSettings.h"

#include "CommandLine.h"
#include "ControlValues.h"
#include "SettingsTable.h"
#include "frmMain.h"
#include "frmSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

std::optional<qint32> number(QStringView name)
{
    return ReadNumberSetting(*FindSetting(name));
}

QString text(QStringView name)
{
    return ReadTextSetting(*FindSetting(name));
}

/// A window edge: the stored number, 0 when blank, `current` when unusable.
double edge(QStringView name, double current)
{
    if (const std::optional<qint32> stored = number(name))
        return *stored;
    return StripBlanks(ReadSetting(name.toString())).isEmpty() ? 0 : current;
}

/// The stored form of a text that may be empty: one space stands for nothing.
QString loginValue(const QCheckBox* save, const QLineEdit* field)
{
    return CheckValue(*save) == 1 && !field->text().isEmpty() ? field->text() : u" "_s;
}

} // namespace

double CheckedEdge(double edge, double screenSize)
{
    return edge < 0 || edge > screenSize ? 0 : edge;
}

void ApplySettings(frmMain& main, frmSettings& settings, double screenWidthTwips, double screenHeightTwips)
{
    if (const auto v = number(u"Clipboard"))
        SetCheckValue(*main.chkClipboard(), *v);

    const QRectF outer = main.outerGeometryTwips();
    const double left = CheckedEdge(edge(u"FormX", outer.left()), screenWidthTwips);
    const double top = CheckedEdge(edge(u"FormY", outer.top()), screenHeightTwips);
    main.setOuterPositionTwips(left, top);

    const std::optional<qint32> width = number(u"FormW");
    const std::optional<qint32> height = number(u"FormH");
    if (width || height) {
        const QRectF now = main.outerGeometryTwips();
        main.setOuterSizeTwips(width ? *width : now.width(), height ? *height : now.height());
    }

    if (const auto v = number(u"ImageType"))
        SetListIndex(*settings.lstImageType(), *v);
    if (const auto v = number(u"ShortURLType"))
        SetListIndex(*settings.lstShortURLType(), *v);
    settings.setAccounts(
        {text(u"YourlsUrl"), text(u"YourlsSignature"), text(u"ShlinkUrl"), text(u"ShlinkApiKey")});
    if (const auto v = number(u"FollowRedirects"))
        SetCheckValue(*settings.chkFollowRedirects(), *v);
    if (const auto v = number(u"MenuExt"))
        SetCheckValue(*settings.chkMenuExt(), *v);
    if (const auto v = number(u"ToolbarIcon"))
        SetCheckValue(*settings.chkToolBarIcon(), *v);
    settings.txtLogin()->setText(text(u"TwitterLogin"));
    settings.txtPass()->setText(text(u"TwitterPass"));
    if (const auto v = number(u"TwitterChkLogin"))
        SetCheckValue(*settings.chkLoginSave(), *v);
    if (const auto v = number(u"TwitterChkPass"))
        SetCheckValue(*settings.chkPassSave(), *v);
}

void SaveSettings(const frmMain& main, const frmSettings& settings)
{
    WriteSetting(u"_Dummy"_s, u" "_s);
    const QRectF outer = main.outerGeometryTwips();
    WriteSetting(u"FormX"_s, QString::number(outer.left()));
    WriteSetting(u"FormY"_s, QString::number(outer.top()));
    WriteSetting(u"FormW"_s, QString::number(outer.width()));
    WriteSetting(u"FormH"_s, QString::number(outer.height()));
    WriteSetting(u"Clipboard"_s, QString::number(CheckValue(*main.chkClipboard())));
    WriteSetting(u"ImageType"_s, QString::number(settings.lstImageType()->currentIndex()));
    WriteSetting(u"ShortURLType"_s, QString::number(settings.lstShortURLType()->currentIndex()));
    WriteSetting(u"FollowRedirects"_s, QString::number(CheckValue(*settings.chkFollowRedirects())));
    WriteSetting(u"MenuExt"_s, QString::number(CheckValue(*settings.chkMenuExt())));
    WriteSetting(u"ToolbarIcon"_s, QString::number(CheckValue(*settings.chkToolBarIcon())));
    WriteSetting(u"TwitterChkLogin"_s, QString::number(CheckValue(*settings.chkLoginSave())));
    WriteSetting(u"TwitterChkPass"_s, QString::number(CheckValue(*settings.chkPassSave())));
    WriteSetting(u"TwitterLogin"_s, loginValue(settings.chkLoginSave(), settings.txtLogin()));
    WriteSetting(u"TwitterPass"_s, loginValue(settings.chkPassSave(), settings.txtPass()));
    const ShortenerAccounts accounts = settings.accounts();
    WriteSetting(u"YourlsUrl"_s, accounts.yourlsUrl);
    WriteSetting(u"YourlsSignature"_s, accounts.yourlsSignature);
    WriteSetting(u"ShlinkUrl"_s, accounts.shlinkUrl);
    WriteSetting(u"ShlinkApiKey"_s, accounts.shlinkApiKey);
}

} // namespace linvera
