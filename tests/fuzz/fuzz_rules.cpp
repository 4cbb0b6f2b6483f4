// The two rule files as a stranger could serve them, then a few URLs matched against them. The input
// is the rule text, a NUL, then URLs one a line.
#include "FuzzSupport.h"
#include "conv/ServiceRules.h"
#include "platform/MessageBoxes.h"

using linvera::platform::MessageBoxes;

namespace {

class QuietBoxes : public MessageBoxes
{
public:
    Answer show(Icon, const QString&, const QString&, Buttons) override
    {
        ++shown;
        return Answer::Ok;
    }
    int shown = 0;
};

} // namespace

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> parts = linvera::fuzz::splitAtNul(data, size, 2);
    const QString rules = QString::fromUtf8(parts[0]);
    QStringList urls;
    if (parts.size() == 2)
        urls = QString::fromUtf8(parts[1]).split(u'\n').mid(0, 8);
    else
        urls = {u"http://bit.example/abc"_s, u"https://pic.example/photo/12345"_s};

    const QStringList lines = linvera::SplitRuleLines(rules);
    FUZZ_CHECK(!lines.isEmpty() || rules.isEmpty(), rules);
    // Whatever the line ends, no line holds one.
    for (const QString& line : lines)
        FUZZ_CHECK(!line.contains(u'\r') && !line.contains(u'\n'), line);

    QuietBoxes boxes;
    linvera::ShortLinkRules shortLinks;
    shortLinks.loadFromText(rules, boxes);
    FUZZ_CHECK(shortLinks.size() <= lines.size(), rules);
    for (const QString& url : urls) {
        const auto match = shortLinks.MatchShortLinkRule(url);
        FUZZ_CHECK(match.matched || match.templ.isEmpty(), url);
    }

    linvera::PictureRules pictures;
    pictures.loadFromText(rules);
    FUZZ_CHECK(pictures.size() <= lines.size(), rules);
    for (const QString& url : urls) {
        QString pictureUrl;
        const bool matched = pictures.MatchPictureRule(url, pictureUrl);
        FUZZ_CHECK(matched || pictureUrl.isEmpty(), url);
    }
    return 0;
}
