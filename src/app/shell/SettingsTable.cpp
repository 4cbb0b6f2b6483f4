#include "SettingsTable.h"

#include "CommandLine.h"
#include "ControlValues.h"
#include "RegAccess.h"
#include "frmMain.h"
#include "frmSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

constexpr auto kRoot = platform::RegRoot::LocalMachine;

void writeSetting(const QString& name, const QString& value)
{
    SetRegString(kRoot, SettingsKey(), name, value);
}

std::optional<qint16> storedInt16(const QString& name)
{
    const std::optional<qint32> value = StoredNumber(ReadSetting(name));
    if (!value || *value < std::numeric_limits<qint16>::min() || *value > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return qint16(*value);
}

/// A blank value takes the default; one that does not convert is skipped (nothing).
std::optional<qint16> storedOrDefault(const QString& name, int fallback)
{
    if (StripBlanks(ReadSetting(name)).isEmpty())
        return qint16(fallback);
    return storedInt16(name);
}

QString storedText(const QString& name)
{
    const QString stored = ReadSetting(name);
    return StripBlanks(stored).isEmpty() ? QString() : stored;
}

/// The stored form of a text that may be empty: one space stands for nothing.
QString loginValue(const QCheckBox* save, const QLineEdit* field)
{
    return CheckValue(*save) == 1 && !field->text().isEmpty() ? field->text() : u" "_s;
}

} // namespace

QString SettingsKey()
{
    return u"SOFTWARE\\HALVEX\\linvera\\param"_s;
}

std::optional<qint32> StoredNumber(const QString& stored)
{
    const QString text = StripBlanks(stored).trimmed();
    if (text.isEmpty())
        return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value); // the default rounding mode is half to even
    if (rounded < std::numeric_limits<qint32>::min() || rounded > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(rounded);
}

QString ReadSetting(const QString& name)
{
    QString value;
    GetRegValue(kRoot, SettingsKey(), name, value);
    return value;
}

double CheckedEdge(double edge, double screenSize)
{
    return edge < 0 || edge > screenSize ? 0 : edge;
}

void ApplySettings(frmMain& main, frmSettings& settings, double screenWidthTwips, double screenHeightTwips)
{
    if (const auto v = storedOrDefault(u"Clipboard"_s, 1))
        SetCheckValue(*main.chkClipboard(), *v);

    const QRectF outer = main.outerGeometryTwips();
    double left = outer.left();
    double top = outer.top();
    if (const std::optional<qint32> x = StoredNumber(ReadSetting(u"FormX"_s)))
        left = *x;
    else if (StripBlanks(ReadSetting(u"FormX"_s)).isEmpty())
        left = 0;
    if (const std::optional<qint32> y = StoredNumber(ReadSetting(u"FormY"_s)))
        top = *y;
    else if (StripBlanks(ReadSetting(u"FormY"_s)).isEmpty())
        top = 0;
    left = CheckedEdge(left, screenWidthTwips);
    top = CheckedEdge(top, screenHeightTwips);
    main.setOuterPositionTwips(left, top);

    const std::optional<qint32> width = StoredNumber(ReadSetting(u"FormW"_s));
    const std::optional<qint32> height = StoredNumber(ReadSetting(u"FormH"_s));
    if (width || height) {
        const QRectF now = main.outerGeometryTwips();
        main.setOuterSizeTwips(width ? *width : now.width(), height ? *height : now.height());
    }

    if (const auto v = storedOrDefault(u"ImageType"_s, 0))
        SetListIndex(*settings.lstImageType(), *v);
    if (const auto v = storedOrDefault(u"ShortURLType"_s, 0))
        SetListIndex(*settings.lstShortURLType(), *v);
    if (const auto v = storedOrDefault(u"MenuExt"_s, 1))
        SetCheckValue(*settings.chkMenuExt(), *v);
    if (const auto v = storedOrDefault(u"ToolbarIcon"_s, 1))
        SetCheckValue(*settings.chkToolBarIcon(), *v);
    settings.txtLogin()->setText(storedText(u"TwitterLogin"_s));
    settings.txtPass()->setText(storedText(u"TwitterPass"_s));
    if (const auto v = storedOrDefault(u"TwitterChkLogin"_s, 1))
        SetCheckValue(*settings.chkLoginSave(), *v);
    if (const auto v = storedOrDefault(u"TwitterChkPass"_s, 1))
        SetCheckValue(*settings.chkPassSave(), *v);
}

void SaveSettings(const frmMain& main, const frmSettings& settings)
{
    writeSetting(u"_Dummy"_s, u" "_s);
    const QRectF outer = main.outerGeometryTwips();
    writeSetting(u"FormX"_s, QString::number(outer.left()));
    writeSetting(u"FormY"_s, QString::number(outer.top()));
    writeSetting(u"FormW"_s, QString::number(outer.width()));
    writeSetting(u"FormH"_s, QString::number(outer.height()));
    writeSetting(u"Clipboard"_s, QString::number(CheckValue(*main.chkClipboard())));
    writeSetting(u"ImageType"_s, QString::number(settings.lstImageType()->currentIndex()));
    writeSetting(u"ShortURLType"_s, QString::number(settings.lstShortURLType()->currentIndex()));
    writeSetting(u"MenuExt"_s, QString::number(CheckValue(*settings.chkMenuExt())));
    writeSetting(u"ToolbarIcon"_s, QString::number(CheckValue(*settings.chkToolBarIcon())));
    writeSetting(u"TwitterChkLogin"_s, QString::number(CheckValue(*settings.chkLoginSave())));
    writeSetting(u"TwitterChkPass"_s, QString::number(CheckValue(*settings.chkPassSave())));
    writeSetting(u"TwitterLogin"_s, loginValue(settings.chkLoginSave(), settings.txtLogin()));
    writeSetting(u"TwitterPass"_s, loginValue(settings.chkPassSave(), settings.txtPass()));
}

} // namespace linvera
