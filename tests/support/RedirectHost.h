#pragma once

#include "HttpTestServer.h"
#include "RedirectAnswer.h"

#include <QHash>

namespace linvera::test {

/// A short-link host that answers in HTTP/1.0 with hand-written redirects, chosen by the request
/// target exactly as sent ("/abc"). Unknown targets get the default answer (a 404 until set).
class RedirectHost : public HttpTestServer
{
    Q_OBJECT

public:
    explicit RedirectHost(QObject* parent = nullptr);

    void setAnswer(const QByteArray& target, const RedirectAnswer& answer)
    {
        m_answers.insert(target, answer);
    }
    /// Shorthand for setAnswer(target, RedirectAnswer::movedTo(location, status)).
    void redirect(const QByteArray& target, const QByteArray& location, int status = 301);
    void setDefaultAnswer(const RedirectAnswer& answer) { m_defaultAnswer = answer; }
    /// The answer a request for this target gets.
    RedirectAnswer answerFor(const QByteArray& target) const;

    /// The exact bytes of every request received, in order.
    QList<QByteArray> rawRequests() const;

protected:
    HttpTestResponse respond(const HttpTestRequest& request) override;

private:
    QHash<QByteArray, RedirectAnswer> m_answers;
    RedirectAnswer m_defaultAnswer = RedirectAnswer::notFound();
};

} // namespace linvera::test
