#pragma once

#include "platform/RegistryStore.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <functional>

namespace linvera {

/// The `linvera-reg` command: the familiar subset of Windows `reg` over the registry store.
///   query  KEY [/v NAME | /ve]
///   add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
///   delete KEY [/v NAME | /ve] [/f]
/// Text data goes through the ANSI code page exactly as the program writes it, so the program
/// reads back what was added.
class RegTool
{
public:
    enum ExitCode { Ok = 0, Failed = 1, BadSyntax = 2 };

    /// Asks a yes/no question; empty when nobody can answer (no terminal), which refuses.
    using Confirm = std::function<bool(const QString& question)>;

    RegTool(platform::RegistryStore& store, QTextStream& out, QTextStream& err, Confirm confirm = {});

    /// Runs one command; arguments without the program name. Returns the exit status.
    int run(const QStringList& arguments);

    static QString usage();
    /// The text `reg query` shows for a value's type and data.
    static QString typeName(quint32 type);
    static QString formatData(quint32 type, const QByteArray& data);

private:
    struct Request;

    int parse(const QStringList& arguments, Request& request);
    int query(const Request& request);
    int add(const Request& request);
    int remove(const Request& request);
    int fail(const QString& message);
    int syntaxError(const QString& detail);
    int storeError(qint32 status);
    QString valueLine(const QString& name, quint32 type, const QByteArray& data) const;

    platform::RegistryStore& m_store;
    QTextStream& m_out;
    QTextStream& m_err;
    Confirm m_confirm;
};

} // namespace linvera
