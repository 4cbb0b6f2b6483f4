#include "platform/regtool/RegTool.h"

#include "platform/AnsiCodec.h"
#include "platform/ProgramOptions.h"

#include <QtEndian>

#include <optional>

namespace linvera {

using namespace Qt::Literals::StringLiterals;
using platform::AnsiCodec;
using platform::RegistryStore;
using platform::RegRoot;

namespace {

const QString kIndent = QStringLiteral("    ");

std::optional<RegRoot> parseRoot(const QString& name)
{
    const QString upper = name.toUpper();
    if (upper == u"HKCR" || upper == u"HKEY_CLASSES_ROOT")
        return RegRoot::ClassesRoot;
    if (upper == u"HKCU" || upper == u"HKEY_CURRENT_USER")
        return RegRoot::CurrentUser;
    if (upper == u"HKLM" || upper == u"HKEY_LOCAL_MACHINE")
        return RegRoot::LocalMachine;
    return std::nullopt;
}

std::optional<quint32> parseType(const QString& name)
{
    const QString upper = name.toUpper();
    if (upper == u"REG_SZ")
        return RegistryStore::RegSz;
    if (upper == u"REG_EXPAND_SZ")
        return RegistryStore::RegExpandSz;
    if (upper == u"REG_DWORD")
        return RegistryStore::RegDword;
    if (upper == u"REG_BINARY")
        return RegistryStore::RegBinary;
    return std::nullopt;
}

std::optional<QByteArray> parseDword(const QString& text)
{
    bool ok = false;
    quint64 number = 0;
    if (text.startsWith(u"0x", Qt::CaseInsensitive))
        number = text.mid(2).toULongLong(&ok, 16);
    else if (!text.isEmpty() && text.at(0).isDigit())
        number = text.toULongLong(&ok, 10);
    if (!ok || number > 0xFFFFFFFFu)
        return std::nullopt;
    QByteArray bytes(4, '\0');
    qToLittleEndian<quint32>(quint32(number), bytes.data());
    return bytes;
}

std::optional<QByteArray> parseBinary(const QString& text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!((u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F')))
            return std::nullopt;
    }
    return QByteArray::fromHex(text.toLatin1());
}

QString textBefore(QByteArrayView data, char stop)
{
    const qsizetype end = data.indexOf(stop);
    return AnsiCodec::decode(end < 0 ? data : data.first(end));
}

QByteArray padded(const QByteArray& data, qsizetype size)
{
    QByteArray bytes = data.left(size);
    while (bytes.size() < size)
        bytes.append('\0');
    return bytes;
}

} // namespace

struct RegTool::Request
{
    enum class Operation { Query, Add, Delete } operation = Operation::Query;
    RegRoot root = RegRoot::CurrentUser;
    QString keyPath;    // below the root, without outer "\"
    QString keyDisplay; // root in full and the path as given
    bool targetsValue = false;
    QString valueName;
    std::optional<QString> type;
    std::optional<QString> data;
    bool force = false;
};

RegTool::RegTool(RegistryStore& store, QTextStream& out, QTextStream& err, Confirm confirm)
    : m_store(store)
    , m_out(out)
    , m_err(err)
    , m_confirm(std::move(confirm))
{}

QString RegTool::usage()
{
    return QStringLiteral(
        "Usage:\n"
        "  linvera-reg [--help | --version]\n"
        "  linvera-reg query  KEY [/v NAME | /ve]\n"
        "  linvera-reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
        "  linvera-reg delete KEY [/v NAME | /ve] [/f]\n"
        "\n"
        "  KEY   ROOT\\path\\of\\the\\key, ROOT one of HKCR, HKCU, HKLM\n"
        "        (or HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE)\n"
        "  /v    the value NAME; /ve the key's default value\n"
        "  /t    REG_SZ (default), REG_EXPAND_SZ, REG_DWORD (0 to 4294967295 or 0x hex) or\n"
        "        REG_BINARY (hex digits)\n"
        "  /d    the data\n"
        "  /f    overwrite an existing value or delete without asking\n"
        "\n"
        "add without /v or /ve sets the default value when /t or /d is given, else only creates the key.\n"
        "delete without /v or /ve removes the key with all its subkeys and values.\n"
        "Without /f and without a terminal to ask on, add refuses to overwrite and delete refuses.\n"
        "Exit status: 0 done, 1 failed or refused, 2 invalid syntax.\n"
        "The registry store: $XDG_CONFIG_HOME/halvex-linvera/registry.sqlite3\n");
}

QString RegTool::typeName(quint32 type)
{
    switch (type) {
    case RegistryStore::RegNone:
        return QStringLiteral("REG_NONE");
    case RegistryStore::RegSz:
        return QStringLiteral("REG_SZ");
    case RegistryStore::RegExpandSz:
        return QStringLiteral("REG_EXPAND_SZ");
    case RegistryStore::RegBinary:
        return QStringLiteral("REG_BINARY");
    case RegistryStore::RegDword:
        return QStringLiteral("REG_DWORD");
    case RegistryStore::RegDwordBigEndian:
        return QStringLiteral("REG_DWORD_BIG_ENDIAN");
    case RegistryStore::RegLink:
        return QStringLiteral("REG_LINK");
    case RegistryStore::RegMultiSz:
        return QStringLiteral("REG_MULTI_SZ");
    case RegistryStore::RegQword:
        return QStringLiteral("REG_QWORD");
    default:
        return QStringLiteral("REG_TYPE_%1").arg(type);
    }
}

QString RegTool::formatData(quint32 type, const QByteArray& data)
{
    switch (type) {
    case RegistryStore::RegSz:
    case RegistryStore::RegExpandSz:
        return textBefore(data, '\0');
    case RegistryStore::RegMultiSz: {
        QStringList parts;
        for (const QByteArray& part : data.split('\0'))
            parts.append(AnsiCodec::decode(part));
        while (!parts.isEmpty() && parts.constLast().isEmpty())
            parts.removeLast();
        return parts.join(u"\\0");
    }
    case RegistryStore::RegDword:
        return u"0x" + QString::number(qFromLittleEndian<quint32>(padded(data, 4).constData()), 16);
    case RegistryStore::RegDwordBigEndian:
        return u"0x" + QString::number(qFromBigEndian<quint32>(padded(data, 4).constData()), 16);
    case RegistryStore::RegQword:
        return u"0x" + QString::number(qFromLittleEndian<quint64>(padded(data, 8).constData()), 16);
    default:
        return QString::fromLatin1(data.toHex().toUpper());
    }
}

int RegTool::fail(const QString& message)
{
    m_err << u"ERROR: "_s << message << u'\n';
    m_err.flush();
    return Failed;
}

int RegTool::syntaxError(const QString& detail)
{
    m_err << u"ERROR: Invalid syntax. "_s << detail << u" Type \"linvera-reg /?\" for usage.\n"_s;
    m_err.flush();
    return BadSyntax;
}

int RegTool::storeError(qint32 status)
{
    if (status == RegistryStore::FileNotFound)
        return fail(RegistryStore::statusText(status));
    return fail(RegistryStore::statusText(status) + u" (status " + QString::number(status) + u", " +
                m_store.filePath() + u")");
}

int RegTool::run(const QStringList& arguments)
{
    if (!arguments.isEmpty() && (arguments.first() == u"/?" || arguments.first() == u"-?")) {
        m_out << usage();
        m_out.flush();
        return Ok;
    }
    // The suite's conventions before the operation; after it, data such as "/d -5" is reg's own.
    platform::ProgramOptions::Grammar grammar;
    grammar.placement = platform::ProgramOptions::Placement::BeforeArguments;
    const platform::ProgramOptions options = platform::ProgramOptions::parse(arguments, grammar);
    if (const auto status = platform::AnswerProgramOptions(options, u"linvera-reg"_s, usage(), m_out, m_err))
        return *status;
    if (options.arguments.isEmpty())
        return syntaxError(QStringLiteral("No operation given."));
    Request request;
    if (const int status = parse(options.arguments, request); status != Ok)
        return status;
    switch (request.operation) {
    case Request::Operation::Query:
        return query(request);
    case Request::Operation::Add:
        return add(request);
    case Request::Operation::Delete:
        return remove(request);
    }
    return Failed;
}

int RegTool::parse(const QStringList& arguments, Request& request)
{
    const QString operation = arguments.first().toLower();
    if (operation == u"query")
        request.operation = Request::Operation::Query;
    else if (operation == u"add")
        request.operation = Request::Operation::Add;
    else if (operation == u"delete")
        request.operation = Request::Operation::Delete;
    else
        return syntaxError(u"Unknown operation \"" + arguments.first() + u"\"; use query, add or delete.");
    if (arguments.size() < 2)
        return syntaxError(QStringLiteral("No key given."));

    const QString key = arguments.at(1);
    const qsizetype slash = key.indexOf(u'\\');
    const auto root = parseRoot(slash < 0 ? key : key.left(slash));
    if (!root)
        return syntaxError(u"Invalid key name \"" + key + u"\"; it must start with HKCR, HKCU or HKLM.");
    request.root = *root;
    QStringView path = slash < 0 ? QStringView() : QStringView(key).mid(slash + 1);
    if (path.endsWith(u'\\'))
        path.chop(1);
    if (path.startsWith(u'\\') || path.contains(u"\\\\"))
        return syntaxError(u"Invalid key name \"" + key + u"\"; it contains an empty key name.");
    request.keyPath = path.toString();
    request.keyDisplay = RegistryStore::rootName(*root);
    if (!path.isEmpty())
        request.keyDisplay += u'\\' + request.keyPath;

    bool valueSwitch = false;
    bool defaultSwitch = false;
    for (qsizetype i = 2; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument.size() < 2 || (argument.at(0) != u'/' && argument.at(0) != u'-'))
            return syntaxError(u"Unexpected argument \"" + argument + u"\".");
        const QString name = argument.mid(1).toLower();
        const bool takesData = name == u"v" || name == u"t" || name == u"d";
        if (takesData && i + 1 >= arguments.size())
            return syntaxError(u"The switch " + argument + u" needs a value.");
        const bool addOnly = name == u"t" || name == u"d";
        if ((addOnly && request.operation != Request::Operation::Add) ||
            (name == u"f" && request.operation == Request::Operation::Query))
            return syntaxError(u"The switch " + argument + u" does not go with " + operation + u".");
        if (name == u"v") {
            if (valueSwitch)
                return syntaxError(QStringLiteral("The switch /v is given twice."));
            valueSwitch = true;
            request.valueName = arguments.at(++i);
        } else if (name == u"ve") {
            if (defaultSwitch)
                return syntaxError(QStringLiteral("The switch /ve is given twice."));
            defaultSwitch = true;
        } else if (name == u"t") {
            if (request.type)
                return syntaxError(QStringLiteral("The switch /t is given twice."));
            request.type = arguments.at(++i);
        } else if (name == u"d") {
            if (request.data)
                return syntaxError(QStringLiteral("The switch /d is given twice."));
            request.data = arguments.at(++i);
        } else if (name == u"f") {
            request.force = true;
        } else {
            return syntaxError(u"Unknown switch \"" + argument + u"\".");
        }
    }
    if (valueSwitch && defaultSwitch)
        return syntaxError(QStringLiteral("Give either /v or /ve, not both."));
    // As with reg: data without a value name goes to the default value.
    request.targetsValue = valueSwitch || defaultSwitch || request.type || request.data;
    return Ok;
}

QString RegTool::valueLine(const QString& name, quint32 type, const QByteArray& data) const
{
    const QString shown = name.isEmpty() ? QStringLiteral("(Default)") : name;
    return kIndent + shown + kIndent + typeName(type) + kIndent + formatData(type, data) + u'\n';
}

int RegTool::query(const Request& request)
{
    if (request.targetsValue) {
        quint32 type = 0;
        QByteArray data;
        const qint32 status =
            m_store.queryValue(request.root, request.keyPath, request.valueName, type, data);
        QString line;
        if (status == RegistryStore::Success)
            line = valueLine(request.valueName, type, data);
        else if (status == RegistryStore::FileNotFound && request.valueName.isEmpty() &&
                 m_store.keyExists(request.root, request.keyPath))
            line =
                kIndent + QStringLiteral("(Default)") + kIndent + u"REG_SZ" + kIndent + u"(value not set)\n";
        else
            return storeError(status);
        m_out << u'\n' << request.keyDisplay << u'\n' << line << u'\n';
        m_out.flush();
        return Ok;
    }

    QList<RegistryStore::Value> values;
    qint32 status = m_store.enumValues(request.root, request.keyPath, values);
    QStringList subkeys;
    if (status == RegistryStore::Success)
        status = m_store.enumSubKeys(request.root, request.keyPath, subkeys);
    if (status != RegistryStore::Success)
        return storeError(status);
    m_out << u'\n' << request.keyDisplay << u'\n';
    for (const RegistryStore::Value& value : values)
        m_out << valueLine(value.name, value.type, value.data);
    m_out << u'\n';
    for (const QString& subkey : subkeys)
        m_out << request.keyDisplay << u'\\' << subkey << u'\n';
    m_out.flush();
    return Ok;
}

int RegTool::add(const Request& request)
{
    if (!request.targetsValue) {
        const qint32 status = m_store.createKey(request.root, request.keyPath);
        if (status != RegistryStore::Success)
            return storeError(status);
        m_out << RegistryStore::statusText(status) << u'\n';
        m_out.flush();
        return Ok;
    }

    const auto type = parseType(request.type.value_or(QStringLiteral("REG_SZ")));
    if (!type)
        return syntaxError(u"Unknown type \"" + *request.type +
                           u"\"; use REG_SZ, REG_EXPAND_SZ, REG_DWORD or REG_BINARY.");
    const QString text = request.data.value_or(QString());
    QByteArray data;
    if (*type == RegistryStore::RegDword) {
        const auto bytes = parseDword(request.data ? text : QStringLiteral("0"));
        if (!bytes)
            return syntaxError(u"Invalid REG_DWORD data \"" + text +
                               u"\"; give a number from 0 to 4294967295 or 0x0 to 0xFFFFFFFF.");
        data = *bytes;
    } else if (*type == RegistryStore::RegBinary) {
        const auto bytes = parseBinary(text);
        if (!bytes)
            return syntaxError(u"Invalid REG_BINARY data \"" + text + u"\"; give pairs of hex digits.");
        data = *bytes;
    } else {
        // The same bytes the program writes for a text value: ANSI and one NUL.
        data = AnsiCodec::encode(text);
        data.append('\0');
    }

    quint32 oldType = 0;
    QByteArray oldData;
    const qint32 existing =
        m_store.queryValue(request.root, request.keyPath, request.valueName, oldType, oldData);
    if (existing != RegistryStore::Success && existing != RegistryStore::FileNotFound)
        return storeError(existing);
    if (existing == RegistryStore::Success && !request.force) {
        const QString shown = request.valueName.isEmpty() ? QStringLiteral("(Default)") : request.valueName;
        if (!m_confirm)
            return fail(u"The value " + shown + u" already exists; add /f to overwrite it.");
        if (!m_confirm(u"Value " + shown + u" exists, overwrite (Yes/No)?"))
            return fail(QStringLiteral("The operation was cancelled by the user."));
    }
    const qint32 status = m_store.setValue(request.root, request.keyPath, request.valueName, *type, data,
                                           RegistryStore::CreateMode::CreateMissingKeys);
    if (status != RegistryStore::Success)
        return storeError(status);
    m_out << RegistryStore::statusText(status) << u'\n';
    m_out.flush();
    return Ok;
}

int RegTool::remove(const Request& request)
{
    if (request.keyPath.isEmpty() && !request.targetsValue)
        return fail(u"The root key " + request.keyDisplay + u" cannot be deleted.");
    qint32 status = m_store.openKey(request.root, request.keyPath);
    if (status != RegistryStore::Success)
        return storeError(status);
    QString question;
    if (request.targetsValue) {
        quint32 type = 0;
        QByteArray data;
        status = m_store.queryValue(request.root, request.keyPath, request.valueName, type, data);
        if (status != RegistryStore::Success)
            return storeError(status);
        const QString shown = request.valueName.isEmpty() ? QStringLiteral("(Default)") : request.valueName;
        question = u"Delete the registry value " + shown + u" (Yes/No)?";
    } else {
        question = u"Permanently delete the registry key " + request.keyDisplay + u" (Yes/No)?";
    }
    if (!request.force) {
        if (!m_confirm)
            return fail(QStringLiteral("Deleting needs /f when there is no terminal to confirm on."));
        if (!m_confirm(question))
            return fail(QStringLiteral("The operation was cancelled by the user."));
    }
    status = request.targetsValue ? m_store.deleteValue(request.root, request.keyPath, request.valueName)
                                  : m_store.deleteTree(request.root, request.keyPath);
    if (status != RegistryStore::Success)
        return storeError(status);
    m_out << RegistryStore::statusText(status) << u'\n';
    m_out.flush();
    return Ok;
}

} // namespace linvera
