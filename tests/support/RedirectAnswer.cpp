#include "RedirectAnswer.h"

namespace linvera::test {

HttpTestResponse RedirectAnswer::toResponse() const
{
    HttpTestResponse response;
    response.version = version;
    response.status = status;
    response.reason = reason;
    response.autoContentLength = false;
    response.autoConnectionClose = false;
    if (withLocation)
        response.headerLines.append(locationName + ": " + target);
    if (!contentType.isEmpty())
        response.addHeader("Content-Type", contentType);
    response.headerLines += extraHeaderLines;
    response.body = body;
    response.delivery = delivery;
    return response;
}

RedirectAnswer RedirectAnswer::movedTo(const QByteArray& target, int status)
{
    RedirectAnswer answer;
    answer.status = status;
    switch (status) {
    case 302:
        answer.reason = "Found";
        break;
    case 303:
        answer.reason = "See Other";
        break;
    case 307:
        answer.reason = "Temporary Redirect";
        break;
    default:
        answer.reason = "Moved Permanently";
    }
    answer.target = target;
    answer.body = "<html><head><title>Moved</title></head><body><a href=\"" + target +
                  "\">moved here</a></body></html>";
    return answer;
}

RedirectAnswer RedirectAnswer::page(const QByteArray& body)
{
    RedirectAnswer answer;
    answer.status = 200;
    answer.reason = "OK";
    answer.withLocation = false;
    answer.body = body;
    return answer;
}

RedirectAnswer RedirectAnswer::notFound()
{
    RedirectAnswer answer = page("<html><body>404 Not Found</body></html>");
    answer.status = 404;
    answer.reason = "Not Found";
    return answer;
}

} // namespace linvera::test
