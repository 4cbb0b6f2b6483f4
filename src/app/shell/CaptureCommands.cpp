#include "app/shell/CaptureCommands.h"

#include "CaptureProxy.h"
#include "automation/LinveraAutomation.h"

#include <QDBusPendingReply>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace linvera {

namespace {

const QString kRegionSwitch = u"--capture-region"_s;
const QString kWindowSwitch = u"--capture-window"_s;
// The running instance answers at once; a hung one must not keep the second start waiting long.
constexpr int kCallTimeoutMs = 10000;

} // namespace

CaptureCommand CaptureCommandOf(const QStringList& arguments)
{
    for (const QString& argument : arguments) {
        if (argument == kRegionSwitch)
            return CaptureCommand::Region;
        if (argument == kWindowSwitch)
            return CaptureCommand::Window;
    }
    return CaptureCommand::None;
}

QStringList WithoutCaptureSwitches(const QStringList& arguments)
{
    QStringList rest = arguments;
    rest.removeAll(kRegionSwitch);
    rest.removeAll(kWindowSwitch);
    return rest;
}

bool SendCaptureCommand(CaptureCommand command, const QDBusConnection& bus)
{
    if (command == CaptureCommand::None)
        return false;
    CaptureProxy running(QString::fromLatin1(LinveraAutomation::kServiceName),
                         QString::fromLatin1(LinveraAutomation::kObjectPath), bus);
    running.setTimeout(kCallTimeoutMs);
    QDBusPendingReply<> reply = command == CaptureCommand::Region ? running.Region() : running.Window();
    reply.waitForFinished();
    return !reply.isError();
}

CaptureBusAdaptor::CaptureBusAdaptor(QObject* exported, std::function<void(CaptureCommand)> run)
    : QDBusAbstractAdaptor(exported)
    , m_run(std::move(run))
{}

// The capture turns the event loop; it starts after the bus call has been dispatched.
void CaptureBusAdaptor::Region()
{
    QTimer::singleShot(0, this, [this] { m_run(CaptureCommand::Region); });
}

void CaptureBusAdaptor::Window()
{
    QTimer::singleShot(0, this, [this] { m_run(CaptureCommand::Window); });
}

} // namespace linvera
