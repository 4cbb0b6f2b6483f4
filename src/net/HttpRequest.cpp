#include "net/HttpRequest.h"

namespace linvera {

QByteArray HeaderValue(const HttpHeaders& headers, QByteArrayView name)
{
    for (const auto& [key, value] : headers) {
        if (QByteArrayView(key).compare(name, Qt::CaseInsensitive) == 0)
            return value.isNull() ? QByteArray("") : value;
    }
    return {};
}

void SetHeader(HttpHeaders& headers, const QByteArray& name, const QByteArray& value)
{
    for (auto& header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0) {
            header.second = value;
            return;
        }
    }
    headers.append({name, value});
}

} // namespace linvera
