#include "RedirectHost.h"

namespace linvera::test {

RedirectHost::RedirectHost(QObject* parent)
    : HttpTestServer(parent)
{}

void RedirectHost::redirect(const QByteArray& target, const QByteArray& location, int status)
{
    setAnswer(target, RedirectAnswer::movedTo(location, status));
}

RedirectAnswer RedirectHost::answerFor(const QByteArray& target) const
{
    return m_answers.value(target, m_defaultAnswer);
}

QList<QByteArray> RedirectHost::rawRequests() const
{
    QList<QByteArray> result;
    for (const HttpTestRequest& request : requests())
        result.append(request.raw);
    return result;
}

HttpTestResponse RedirectHost::respond(const HttpTestRequest& request)
{
    return answerFor(request.target).toResponse();
}

} // namespace linvera::test
