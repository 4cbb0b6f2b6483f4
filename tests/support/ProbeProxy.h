#pragma once

#include "RedirectHost.h"

namespace linvera::test {

/// Stands in for the HTTP proxy that the redirect probe may go through. It takes requests in
/// absolute form ("GET http://h/abc HTTP/1.0"), records them and answers like a RedirectHost,
/// keyed by the absolute URL as sent. It never forwards anything; origin-form requests get 400.
class ProbeProxy : public RedirectHost
{
    Q_OBJECT

public:
    explicit ProbeProxy(QObject* parent = nullptr);

    /// The absolute URLs of the requests received, as sent.
    QList<QByteArray> requestedUrls() const;

protected:
    HttpTestResponse respond(const HttpTestRequest& request) override;
};

} // namespace linvera::test
