#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QStringList>

#include <functional>

namespace linvera {

/// A capture asked for on the command line or over the bus.
enum class CaptureCommand { None, Region, Window };

/// The capture switch among the arguments after the program name ("--capture-region",
/// "--capture-window"); the first one counts.
CaptureCommand CaptureCommandOf(const QStringList& arguments);
/// The arguments without the capture switches, for the rest of the start-up.
QStringList WithoutCaptureSwitches(const QStringList& arguments);

/// Hands a capture command to the running instance through HVXLinvera.Capture. False when the
/// call failed or got no answer in time.
bool SendCaptureCommand(CaptureCommand command, const QDBusConnection& bus);

/// Serves HVXLinvera.Capture on the object it is made a child of (the automation object), beside
/// the automation interface. Declared by HVXLinvera.Capture.xml.
class CaptureBusAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "HVXLinvera.Capture")

public:
    CaptureBusAdaptor(QObject* exported, std::function<void(CaptureCommand)> run);

public Q_SLOTS:
    void Region();
    void Window();

private:
    std::function<void(CaptureCommand)> m_run;
};

} // namespace linvera
