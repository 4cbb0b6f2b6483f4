#include "TestBus.h"

#include <QDeadlineTimer>
#include <QFile>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace linvera::test {

TestBus::TestBus()
    : m_address(u"unix:path="_s + m_dir.path() + u"/bus"_s)
{}

TestBus::~TestBus()
{
    stop();
}

QString TestBus::buildServiceFolder()
{
    return QStringLiteral(LINVERA_BUILD_SERVICE_DIR);
}

QByteArray TestBus::configText(const QString& serviceFolder, const QString& listen)
{
    QFile file(QStringLiteral(LINVERA_TEST_BUS_TEMPLATE));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray text = file.readAll();
    text.replace("@LINVERA_TEST_BUS_SERVICE_DIR@", serviceFolder.toHtmlEscaped().toUtf8());
    text.replace("@LINVERA_TEST_BUS_LISTEN@", listen.toHtmlEscaped().toUtf8());
    return text;
}

bool TestBus::fail(const QString& error)
{
    m_error = error;
    stop();
    return false;
}

bool TestBus::start(const QString& serviceFolder, QProcessEnvironment environment)
{
    if (!m_dir.isValid())
        return fail(u"no folder for the bus socket"_s);
    const QByteArray text = configText(serviceFolder, m_address);
    if (text.isEmpty())
        return fail(u"cannot read the bus configuration "_s + QStringLiteral(LINVERA_TEST_BUS_TEMPLATE));
    const QString config = m_dir.filePath(u"session.conf"_s);
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.flush())
        return fail(u"cannot write the bus configuration "_s + config);
    file.close();

    environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, m_address);
    m_daemon.setProcessEnvironment(environment);
    m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
    m_daemon.start(u"dbus-daemon"_s, {u"--config-file="_s + config, u"--nofork"_s, u"--print-address=1"_s});
    if (!m_daemon.waitForStarted(10000))
        return fail(u"dbus-daemon did not start: "_s + m_daemon.errorString());
    // The address is printed once the daemon listens.
    const QDeadlineTimer deadline(10000);
    QByteArray line;
    while (!line.contains('\n') && !deadline.hasExpired() && m_daemon.state() == QProcess::Running) {
        if (m_daemon.waitForReadyRead(int(std::clamp<qint64>(deadline.remainingTime(), 1, 1000))))
            line += m_daemon.readAllStandardOutput();
    }
    if (!line.contains('\n'))
        return fail(u"dbus-daemon gave no address: "_s + QString::fromUtf8(m_daemon.readAllStandardError()));
    return true;
}

void TestBus::stop()
{
    if (m_daemon.state() == QProcess::NotRunning)
        return;
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(5000)) {
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
}

} // namespace linvera::test
