#include "app/ui/ProgramIcon.h"

#include <QApplication>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

// The built-in pictures, each decoded when a size is first asked for: a desktop that shows no window
// icons (Wayland's shells take them from the desktop file) never decodes any of them.
class BuiltInIconEngine final : public QIconEngine
{
public:
    QIconEngine* clone() const override { return new BuiltInIconEngine(*this); }
    QString key() const override { return u"linvera-built-in"_s; }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (const int side : BuiltInIconSizes())
            sizes.append(QSize(side, side));
        return sizes;
    }

    // As a pixmap icon answers: the nearest built-in size, made smaller to fit the size asked for.
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        const int side = sideFor(size);
        return side <= size.width() && side <= size.height()
                   ? QSize(side, side)
                   : QSize(side, side).scaled(size, Qt::KeepAspectRatio);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override
    {
        if (size.isEmpty())
            return {};
        const int side = sideFor(size);
        QPixmap& decoded = m_decoded[side];
        if (decoded.isNull())
            decoded = QPixmap(u":/linvera/icons/halvex-linvera-%1.png"_s.arg(side));
        QPixmap picture = decoded;
        if (side > size.width() || side > size.height())
            picture = decoded.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        // Disabled and selected forms are the style's, as for any other icon.
        if (mode != QIcon::Normal && qobject_cast<QApplication*>(QCoreApplication::instance())) {
            QStyleOption option;
            option.palette = QApplication::palette();
            picture = QApplication::style()->generatedIconPixmap(mode, picture, &option);
        }
        return picture;
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap picture = pixmap(rect.size() * ratio, mode, state);
        picture.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, picture);
    }

private:
    // The smallest picture at least as large as asked for, else the largest.
    static int sideFor(const QSize& size)
    {
        const int wanted = qMax(size.width(), size.height());
        const QList<int> sides = BuiltInIconSizes();
        for (const int side : sides) {
            if (side >= wanted)
                return side;
        }
        return sides.last();
    }

    QHash<int, QPixmap> m_decoded;
};

} // namespace

QList<int> BuiltInIconSizes()
{
    return {16, 24, 32, 48, 64, 128, 256};
}

QIcon ProgramIcon()
{
    return QIcon::fromTheme(u"halvex-linvera"_s, QIcon(new BuiltInIconEngine));
}

} // namespace linvera
