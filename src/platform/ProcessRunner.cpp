#include "platform/ProcessRunner.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTimer>

#include <memory>

namespace linvera {
namespace {

/// Openers still running after the wait. Destroying a QProcess kills its program, so one still
/// running when this program ends is left running and its object kept here, never destroyed; the
/// others leave the list once their program ends and the object goes.
class LingeringOpeners
{
public:
    static LingeringOpeners& instance()
    {
        static auto* openers = new LingeringOpeners;
        return *openers;
    }
    void keep(QProcess* process)
    {
        {
            QMutexLocker lock(&m_mutex);
            m_processes.insert(process);
        }
        QObject::connect(process, &QObject::destroyed, [this, process] {
            QMutexLocker lock(&m_mutex);
            m_processes.remove(process);
        });
        QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    }

private:
    QMutex m_mutex;
    QSet<QProcess*> m_processes;
};

class SystemProcessRunner final : public ProcessRunner
{
public:
    Result run(const QString& program, const QStringList& arguments, const QString& workingFolder,
               std::chrono::milliseconds limit) override
    {
        Result result;
        const QString path = findExecutable(program);
        if (path.isEmpty())
            return result;

        auto process = std::make_unique<QProcess>();
        process->setProgram(path);
        process->setArguments(arguments);
        if (!workingFolder.isEmpty() && QFileInfo(workingFolder).isDir())
            process->setWorkingDirectory(workingFolder);
        // The opened program must not write into our terminal or wait for our input.
        process->setStandardInputFile(QProcess::nullDevice());
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());

        QEventLoop loop;
        QTimer limitTimer;
        limitTimer.setSingleShot(true);
        bool startFailed = false;
        QObject::connect(process.get(), &QProcess::finished, &loop, &QEventLoop::quit);
        QObject::connect(process.get(), &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart) {
                startFailed = true;
                loop.quit();
            }
        });
        QObject::connect(&limitTimer, &QTimer::timeout, &loop, &QEventLoop::quit);
        process->start();
        limitTimer.start(limit);
        if (!startFailed && process->state() != QProcess::NotRunning)
            loop.exec();

        if (startFailed ||
            (process->state() == QProcess::NotRunning && process->error() == QProcess::FailedToStart)) {
            result.outcome = Result::Outcome::FailedToStart;
            return result;
        }
        if (process->state() != QProcess::NotRunning) {
            // Some openers stay until the opened program ends (a viewer in the foreground). Leave
            // it running and let the object go once it ends.
            QProcess* running = process.release();
            QObject::disconnect(running, nullptr, &loop, nullptr);
            LingeringOpeners::instance().keep(running);
            result.outcome = Result::Outcome::StillRunning;
            return result;
        }
        if (process->exitStatus() == QProcess::CrashExit) {
            result.outcome = Result::Outcome::Crashed;
            return result;
        }
        result.outcome = Result::Outcome::Finished;
        result.exitCode = process->exitCode();
        return result;
    }

    bool startDetached(const QString& program, const QStringList& arguments,
                       const QString& workingFolder) override
    {
        const QString path = findExecutable(program);
        if (path.isEmpty())
            return false;
        QProcess process;
        process.setProgram(path);
        process.setArguments(arguments);
        if (!workingFolder.isEmpty() && QFileInfo(workingFolder).isDir())
            process.setWorkingDirectory(workingFolder);
        process.setStandardInputFile(QProcess::nullDevice());
        return process.startDetached();
    }

    QString findExecutable(const QString& program) override
    {
        if (program.isEmpty())
            return {};
        if (!program.contains(u'/'))
            return QStandardPaths::findExecutable(program);
        const QFileInfo info(program);
        if (info.isFile() && info.isExecutable())
            return info.absoluteFilePath();
        return {};
    }
};

} // namespace

ProcessRunner& ProcessRunner::system()
{
    static SystemProcessRunner runner;
    return runner;
}

} // namespace linvera
