#include "PrivateBus.h"

#include <QDeadlineTimer>

using namespace Qt::StringLiterals;

namespace linvera::test {

PrivateBus::~PrivateBus()
{
    stop();
}

bool PrivateBus::start(const QString& configFile)
{
    m_daemon.setProgram(u"dbus-daemon"_s);
    m_daemon.setArguments({u"--config-file="_s + configFile, u"--nofork"_s, u"--print-address=1"_s});
    m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
    m_daemon.start();
    if (!m_daemon.waitForStarted(5000)) {
        m_error = u"dbus-daemon did not start: "_s + m_daemon.errorString();
        return false;
    }
    const QDeadlineTimer deadline(10000);
    QByteArray line;
    while (!line.endsWith('\n') && !deadline.hasExpired()) {
        if (!m_daemon.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)))) {
            break;
        }
        line += m_daemon.readAllStandardOutput();
    }
    m_address = QString::fromUtf8(line.trimmed());
    if (m_address.isEmpty()) {
        m_error = u"dbus-daemon gave no address: "_s + QString::fromUtf8(m_daemon.readAllStandardError());
        stop();
        return false;
    }
    return true;
}

void PrivateBus::stop()
{
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000)) {
            m_daemon.kill();
            m_daemon.waitForFinished(5000);
        }
    }
}

} // namespace linvera::test
