#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QString>

namespace linvera::test {

/// One multipart part as Python's email package read it.
struct ParsedPart
{
    QString name;
    bool hasFileName = false;
    QByteArray fileName;
    QString contentType;
    int headerCount = 0;
    QByteArray payload;
    QStringList defects;
};

struct ParsedMultipart
{
    bool ok = false; ///< the script ran and answered
    bool multipart = false;
    QStringList defects;
    QList<ParsedPart> parts;
};

/// Runs the independent parser on a whole request (head and body).
ParsedMultipart ParseMultipartWithPython(const QByteArray& request);
/// The form fields of a request body decoded by urllib.parse.unquote_plus; empty when it failed.
QList<std::pair<QString, QByteArray>> ParseFormWithPython(const QByteArray& request);

} // namespace linvera::test
