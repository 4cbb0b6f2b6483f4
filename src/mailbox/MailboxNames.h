#pragma once

#include <QString>

namespace linvera::MailboxNames {

/// Well-known bus name of the mailbox server, its programmatic identifier on Windows.
inline QString service()
{
    return QStringLiteral("HVXLinveraHelper.HVXLinveraHelperClass");
}
inline QString objectPath()
{
    return QStringLiteral("/HVXLinveraHelperClass");
}
inline QString interface()
{
    return QStringLiteral("HVXLinveraHelper.HVXLinveraHelperClass");
}
/// File name of the server program, found beside the main program's executable.
inline QString helperProgramName()
{
    return QStringLiteral("H-LinveraHelper");
}

} // namespace linvera::MailboxNames
