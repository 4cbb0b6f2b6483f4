#include "platform/ProcessRunner.h"

#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTimer>

#include <memory>
#include <utility>

namespace linvera {
namespace {

/// Openers under way and still running after the wait. Destroying a QProcess kills its program, so one still
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
    void run(const QString& program, const QStringList& arguments, const QString& workingFolder,
             std::chrono::milliseconds limit, Done done) override
    {
        const QString path = findExecutable(program);
        if (path.isEmpty()) {
            QTimer::singleShot(0, [done = std::move(done)] { done(Result{}); });
            return;
        }

        auto* process = new QProcess;
        process->setProgram(path);
        process->setArguments(arguments);
        if (!workingFolder.isEmpty() && QFileInfo(workingFolder).isDir())
            process->setWorkingDirectory(workingFolder);
        // The opened program must not write into our terminal or wait for our input.
        process->setStandardInputFile(QProcess::nullDevice());
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());

        // Kept in the list from the start: a program that is still running when this one ends is
        // left running, and its object goes once it ends.
        LingeringOpeners::instance().keep(process);
        auto* limitTimer = new QTimer(process);
        limitTimer->setSingleShot(true);
        // Shared by the three ways the wait ends; the first one answers and the others find it gone.
        auto answer = std::make_shared<Done>(std::move(done));
        const auto finish = [limitTimer, answer](const Result& result) {
            if (!*answer)
                return;
            const Done reply = std::exchange(*answer, {});
            limitTimer->stop();
            reply(result);
        };
        QObject::connect(process, &QProcess::finished, limitTimer,
                         [finish](int exitCode, QProcess::ExitStatus status) {
                             if (status == QProcess::CrashExit)
                                 finish(Result{Result::Outcome::Crashed, -1});
                             else
                                 finish(Result{Result::Outcome::Finished, exitCode});
                         });
        QObject::connect(process, &QProcess::errorOccurred, limitTimer,
                         [process, finish](QProcess::ProcessError error) {
                             if (error != QProcess::FailedToStart)
                                 return;
                             finish(Result{});
                             process->deleteLater();
                         });
        // Some openers stay until the opened program ends (a viewer in the foreground): after the
        // limit the open counts as started and the program is left to go on.
        QObject::connect(limitTimer, &QTimer::timeout, limitTimer, [process, finish] {
            if (process->state() != QProcess::NotRunning)
                finish(Result{Result::Outcome::StillRunning, -1});
        });
        // A failed start is reported from inside start(): started from the event loop, so that no
        // outcome is ever answered from inside run().
        QTimer::singleShot(0, limitTimer, [process, limitTimer, limit] {
            process->start();
            if (process->state() != QProcess::NotRunning)
                limitTimer->start(limit);
        });
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
