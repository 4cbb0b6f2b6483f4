#include "app/shell/WindowSettings.h"

#include "app/ui/ControlValues.h"
#include "app/ui/frmMain.h"
#include "app/ui/frmSettings.h"
#include "mailbox/CommandLine.h"
#include "settings/SettingsModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

using namespace Qt::StringLiterals;

namespace linvera {

double CheckedEdge(double edge, double screenSize)
{
    return edge < 0 || edge > screenSize ? 0 : edge;
}

void ApplySettings(frmMain& main, frmSettings& settings, SettingsModel& model, double screenWidthTwips,
                   double screenHeightTwips)
{
    using enum SettingKey;
    const auto number = [&model](SettingKey key) { return model.number(key); };
    const auto text = [&model](SettingKey key) { return model.text(key); };
    // A window edge: the stored number, 0 when blank, `current` when unusable.
    const auto edge = [&model](SettingKey key, double current) -> double {
        if (const std::optional<qint32> stored = model.number(key))
            return *stored;
        return model.isBlank(key) ? 0 : current;
    };

    if (const auto v = number(Clipboard))
        SetCheckValue(*main.chkClipboard(), *v);

    const QRectF outer = main.outerGeometryTwips();
    const double left = CheckedEdge(edge(FormX, outer.left()), screenWidthTwips);
    const double top = CheckedEdge(edge(FormY, outer.top()), screenHeightTwips);
    main.setOuterPositionTwips(left, top);

    const std::optional<qint32> width = number(FormW);
    const std::optional<qint32> height = number(FormH);
    if (width || height) {
        const QRectF now = main.outerGeometryTwips();
        main.setOuterSizeTwips(width ? *width : now.width(), height ? *height : now.height());
    }

    // The dialog hands each change to the model, so read everything first.
    const std::optional<qint32> imageType = number(ImageType);
    const std::optional<qint32> shortUrlType = number(ShortURLType);
    const ShortenerAccounts accounts{text(YourlsUrl), text(YourlsSignature), text(ShlinkUrl),
                                     text(ShlinkApiKey)};
    const std::optional<qint32> followRedirects = number(FollowRedirects);
    const std::optional<qint32> stripTrackers = number(StripTrackers);
    const std::optional<qint32> menuExt = number(MenuExt);
    const std::optional<qint32> toolbarIcon = number(ToolbarIcon);
    const QString login = text(TwitterLogin);
    const QString pass = text(TwitterPass);
    const std::optional<qint32> loginSave = number(TwitterChkLogin);
    const std::optional<qint32> passSave = number(TwitterChkPass);

    if (imageType)
        SetListIndex(*settings.lstImageType(), *imageType);
    if (shortUrlType)
        SetListIndex(*settings.lstShortURLType(), *shortUrlType);
    settings.setAccounts(accounts);
    if (followRedirects)
        SetCheckValue(*settings.chkFollowRedirects(), *followRedirects);
    if (stripTrackers)
        SetCheckValue(*settings.chkStripTrackers(), *stripTrackers);
    if (menuExt)
        SetCheckValue(*settings.chkMenuExt(), *menuExt);
    if (toolbarIcon)
        SetCheckValue(*settings.chkToolBarIcon(), *toolbarIcon);
    settings.txtLogin()->setText(login);
    settings.txtPass()->setText(pass);
    if (loginSave)
        SetCheckValue(*settings.chkLoginSave(), *loginSave);
    if (passSave)
        SetCheckValue(*settings.chkPassSave(), *passSave);

    // A value the controls refused leaves them as they were; the model follows them.
    model.setNumber(Clipboard, CheckValue(*main.chkClipboard()));
    settings.updateModel();
}

void SaveSettings(const frmMain& main, SettingsModel& model)
{
    model.setWindowEdges(main.outerGeometryTwips());
    model.setNumber(SettingKey::Clipboard, CheckValue(*main.chkClipboard()));
    model.save();
}

} // namespace linvera
