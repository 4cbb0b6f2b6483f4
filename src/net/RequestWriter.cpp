#include "net/RequestWriter.h"

namespace linvera {
namespace {

bool breaksLine(const QByteArray& bytes)
{
    return bytes.contains('\r') || bytes.contains('\n');
}

} // namespace

QByteArray WriteRequest(const HttpRequest& request, RequestForm form)
{
    QByteArray out;
    out.reserve(256 + request.body.size());
    out += request.method;
    out += ' ';
    if (form == RequestForm::Origin)
        out += request.target;
    else if (!request.absoluteTarget.isEmpty())
        out += request.absoluteTarget;
    else
        out += request.origin + request.target;
    out += ' ';
    out += request.version;
    out += "\r\n";
    for (const auto& [name, value] : request.headers) {
        if (name.isEmpty() || breaksLine(name) || breaksLine(value))
            continue;
        out += name;
        out += ": ";
        out += value;
        out += "\r\n";
    }
    out += "\r\n";
    out += request.body;
    return out;
}

QByteArray WriteConnectRequest(const QByteArray& authority)
{
    return "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n";
}

} // namespace linvera
