#pragma once

#include <QString>

#include <functional>

namespace linvera {

/// What the automation interface acts on: the main window of this process.
class AutomationTarget
{
public:
    virtual ~AutomationTarget() = default;

    /// Ends the process at once, saving nothing.
    virtual void quitNow() = 0;
    /// 0 normal, 1 minimised, 2 maximised.
    virtual int mainWindowState() const = 0;
    virtual void setMainWindowState(int state) = 0;
    /// Puts the text into the input box and starts the conversion.
    virtual void startConv(const QString& beforeUrl) = 0;
    /// The same; `whenRun` is called once the conversion's expansion or shortening has been answered
    /// (or a later conversion replaced it).
    virtual void startConv(const QString& beforeUrl, std::function<void()> whenRun)
    {
        startConv(beforeUrl);
        whenRun();
    }
    virtual QString afterUrl() const = 0;
    virtual QString afterInfo() const = 0;
    virtual QString beforeInfo() const = 0;
    virtual bool isProcessing() const = 0;
};

} // namespace linvera
