#include "PythonCheck.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>

using namespace Qt::StringLiterals;

namespace linvera::test {
namespace {

QJsonDocument runScript(const QString& mode, const QByteArray& request)
{
    QProcess python;
    python.start(u"python3"_s, {QStringLiteral(LINVERA_MULTIPART_CHECK), mode});
    if (!python.waitForStarted(10000))
        return {};
    python.write(request);
    python.closeWriteChannel();
    if (!python.waitForFinished(30000)) {
        python.kill();
        python.waitForFinished(5000);
        return {};
    }
    if (python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0) {
        qWarning("%s", python.readAllStandardError().constData());
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput());
}

QStringList strings(const QJsonValue& value)
{
    QStringList out;
    for (const QJsonValue& v : value.toArray())
        out << v.toString();
    return out;
}

} // namespace

ParsedMultipart ParseMultipartWithPython(const QByteArray& request)
{
    ParsedMultipart result;
    const QJsonDocument doc = runScript(u"multipart"_s, request);
    if (!doc.isObject())
        return result;
    const QJsonObject root = doc.object();
    result.ok = true;
    result.multipart = root[u"multipart"_s].toBool();
    result.defects = strings(root[u"defects"_s]);
    for (const QJsonValue& v : root[u"parts"_s].toArray()) {
        const QJsonObject o = v.toObject();
        ParsedPart part;
        part.name = o[u"name"_s].toString();
        part.hasFileName = !o[u"filename"_s].isNull();
        part.fileName = QByteArray::fromHex(o[u"filename"_s].toString().toLatin1());
        part.contentType = o[u"type"_s].toString();
        part.headerCount = o[u"headers"_s].toInt();
        part.payload = QByteArray::fromHex(o[u"payload"_s].toString().toLatin1());
        part.defects = strings(o[u"defects"_s]);
        result.parts << part;
    }
    return result;
}

QList<std::pair<QString, QByteArray>> ParseFormWithPython(const QByteArray& request)
{
    QList<std::pair<QString, QByteArray>> fields;
    const QJsonDocument doc = runScript(u"form"_s, request);
    const QJsonObject root = doc.object();
    for (auto it = root.begin(); it != root.end(); ++it)
        fields.append({it.key(), QByteArray::fromHex(it.value().toString().toLatin1())});
    return fields;
}

} // namespace linvera::test
