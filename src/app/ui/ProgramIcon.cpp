#include "app/ui/ProgramIcon.h"

using namespace Qt::StringLiterals;

namespace linvera {

QList<int> BuiltInIconSizes()
{
    return {16, 24, 32, 48, 64, 128, 256};
}

QIcon ProgramIcon()
{
    QIcon builtIn;
    for (const int side : BuiltInIconSizes())
        builtIn.addFile(u":/linvera/icons/halvex-linvera-%1.png"_s.arg(side), QSize(side, side));
    return QIcon::fromTheme(u"halvex-linvera"_s, builtIn);
}

} // namespace linvera
