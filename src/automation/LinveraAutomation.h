#pragma once

#include <QDBusContext>
#include <QDBusVariant>
#include <QObject>

#include <functional>

namespace linvera {

class AutomationTarget;

/// The object behind the bus name HVXLinvera.Linvera: forwards every call to the main window.
class LinveraAutomation : public QObject, protected QDBusContext
{
    Q_OBJECT

public:
    static constexpr const char* kServiceName = "HVXLinvera.Linvera";
    static constexpr const char* kObjectPath = "/Linvera";
    static constexpr const char* kOverflowError = "HVXLinvera.Error.Overflow";
    static constexpr const char* kInvalidValueError = "HVXLinvera.Error.InvalidPropertyValue";

    /// `target` is asked for lazily: a call that arrives before the window exists creates it.
    explicit LinveraAutomation(std::function<AutomationTarget&()> target, QObject* parent = nullptr);

    /// Exports the object on the session bus (the adaptor generated from the interface file).
    bool registerObject();

public Q_SLOTS:
    void Quit();
    void setMainWindowState(int Status);
    int getMainWindowState();
    QDBusVariant StartConv(const QString& BeforeUrl);
    QDBusVariant GetAfterUrl();
    QDBusVariant GetAfterInfo();
    QDBusVariant GetBeforeInfo();
    QDBusVariant isProcessing();

private:
    std::function<AutomationTarget&()> m_target;
};

} // namespace linvera
