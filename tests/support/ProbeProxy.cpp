#include "ProbeProxy.h"

namespace linvera::test {

ProbeProxy::ProbeProxy(QObject* parent)
    : RedirectHost(parent)
{}

QList<QByteArray> ProbeProxy::requestedUrls() const
{
    QList<QByteArray> result;
    for (const HttpTestRequest& request : requests())
        result.append(request.target);
    return result;
}

HttpTestResponse ProbeProxy::respond(const HttpTestRequest& request)
{
    if (!request.isAbsoluteForm()) {
        RedirectAnswer answer = RedirectAnswer::page("<html><body>400 Bad Request</body></html>");
        answer.status = 400;
        answer.reason = "Bad Request";
        return answer.toResponse();
    }
    return RedirectHost::respond(request);
}

} // namespace linvera::test
