#pragma once

#include "net/HttpRequest.h"

#include <QByteArray>

namespace linvera {

/// How the request line names its target.
enum class RequestForm {
    Origin,   ///< "GET /path HTTP/1.1": to the host itself, or inside a tunnel
    Absolute, ///< "GET http://host/path HTTP/1.1": a plain request through an HTTP proxy
};

/// The bytes of `request` on the wire: request line, the headers in their order, a blank line, the
/// body. Nothing is added, encoded or reordered; a header whose name or value holds a line break is
/// left out, since it would start a line nobody asked for.
QByteArray WriteRequest(const HttpRequest& request, RequestForm form);

/// The head that asks an HTTP proxy for a tunnel to `authority` ("host:port").
QByteArray WriteConnectRequest(const QByteArray& authority);

} // namespace linvera
