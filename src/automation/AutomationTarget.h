#pragma once

#include <QString>

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
    /// Puts the text into the input box and runs the conversion's synchronous part.
    virtual void startConv(const QString& beforeUrl) = 0;
    virtual QString afterUrl() const = 0;
    virtual QString afterInfo() const = 0;
    virtual QString beforeInfo() const = 0;
    virtual bool isProcessing() const = 0;
};

} // namespace linvera
