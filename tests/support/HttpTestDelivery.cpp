#include "HttpTestDelivery.h"

#include <algorithm>

namespace linvera::test {

QList<QByteArray> HttpTestDelivery::pieces(const QByteArray& answer) const
{
    if (mode != Mode::Split)
        return {answer};
    QList<qsizetype> cuts = splitPoints;
    for (const QByteArray& marker : splitAfter) {
        const qsizetype at = answer.indexOf(marker);
        if (at >= 0)
            cuts.append(at + marker.size());
    }
    if (cuts.isEmpty() && chunkSize > 0) {
        for (qsizetype at = chunkSize; at < answer.size(); at += chunkSize)
            cuts.append(at);
    }
    std::sort(cuts.begin(), cuts.end());
    QList<QByteArray> result;
    qsizetype start = 0;
    for (const qsizetype cut : cuts) {
        if (cut <= start || cut >= answer.size())
            continue;
        result.append(answer.mid(start, cut - start));
        start = cut;
    }
    result.append(answer.mid(start));
    return result;
}

} // namespace linvera::test
