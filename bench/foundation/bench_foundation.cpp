// Prints, in one run: the speed of PercentEncode and PercentDecode beside Qt's percent coders doing the
// same conversion (text in, the same text out), and the time of 10,000 registry write-and-read pairs.
#include "BenchStats.h"
#include "codec/PercentCoding.h"
#include "platform/RegAccess.h"
#include "platform/RegistryStore.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <time.h>

using namespace Qt::StringLiterals;
using linvera::bench::median;
using linvera::bench::threadSeconds;

namespace {

constexpr qsizetype kTextBytes = 8 * 1024 * 1024; // UTF-8 bytes of the plain text
constexpr int kRepetitions = 9;
constexpr int kRegistryPairs = 10000;

// URL-like text: addresses with ASCII paths and query parameters, mixed with Japanese words,
// half-width kana and spaces, as the program meets them in search and store links.
QString makeUrlLikeText(qsizetype utf8Bytes)
{
    const QStringList hosts = {u"https://www.example.co.jp"_s, u"http://shop.example.com"_s,
                               u"https://search.example.jp"_s, u"http://live.example.net"_s};
    const QStringList ascii = {u"index.html"_s, u"dp"_s,         u"B00EXAMPLE"_s, u"ref=sr_1_1"_s,
                               u"page"_s,       u"2024"_s,       u"news"_s,       u"item-list"_s,
                               u"q"_s,          u"utm_source"_s, u"a.b_c~d"_s,    u"x*y@z"_s};
    const QStringList japanese = {u"検索"_s,      u"東京都"_s,     u"ニュース"_s,   u"生放送"_s,
                                  u"ﾃﾞｼﾞﾀﾙｶﾒﾗ"_s, u"書籍・雑誌"_s, u"ランキング"_s, u"日本語テキスト"_s,
                                  u"ｱﾆﾒ"_s,       u"ゲーム 攻略"_s};
    QRandomGenerator rng(2024);
    const auto pick = [&rng](const QStringList& list) { return list[rng.bounded(list.size())]; };
    QString text;
    qsizetype bytes = 0;
    while (bytes < utf8Bytes) {
        QString url = pick(hosts) + u'/' + pick(ascii) + u'/' + pick(japanese) + u'/' + pick(ascii) + u'?';
        const int params = 1 + int(rng.bounded(4));
        for (int i = 0; i < params; ++i) {
            url += (i ? u"&"_s : QString()) + pick(ascii) + u'=';
            url += rng.bounded(2) ? pick(japanese) : pick(ascii) + u' ' + pick(ascii);
        }
        url += u'\n';
        bytes += url.toUtf8().size();
        text += url;
    }
    return text;
}

struct Contender
{
    const char* name;
    std::function<qsizetype()> run;
    QList<double> seconds;
};

// Runs the contenders in turns, kRepetitions rounds, the order rotating each round so that none
// always runs on a cold or a warm cache; the first contender is ours. Prints median times.
void compare(const char* title, qsizetype inputBytes, QList<Contender> contenders)
{
    volatile qsizetype sink = 0;
    for (int round = 0; round < kRepetitions; ++round) {
        for (int k = 0; k < contenders.size(); ++k) {
            Contender& c = contenders[(round + k) % contenders.size()];
            const double start = threadSeconds();
            sink = sink + c.run();
            c.seconds << threadSeconds() - start;
        }
    }
    const double mb = double(inputBytes) / 1e6;
    const double ours = median(contenders.front().seconds);
    std::printf("%s (input %.2f MB)\n", title, mb);
    for (const Contender& c : contenders) {
        const double t = median(c.seconds);
        std::printf("  %-44s %8.1f MB/s  %7.1f ms", c.name, mb / t, t * 1e3);
        if (&c != &contenders.front()) {
            // Both sides did the same work on the same input, so the speed ratio is the inverse
            // ratio of the times.
            const double speed = t / ours;
            if (speed >= 1.0)
                std::printf("   speed ratio ours/Qt: %.2fx faster", speed);
            else
                std::printf("   speed ratio ours/Qt: %.2fx, slower (Qt %.2fx faster)", speed, 1.0 / speed);
        }
        std::printf("\n");
    }
}

// Qt's encoder with our form rules: "@" and "*" pass, "~" is escaped, a space becomes "+". It gets the
// text and converts it to UTF-8 itself, as ours does, and answers text.
QString qtFormEncode(const QString& text)
{
    return QString::fromLatin1(text.toUtf8().toPercentEncoding("@* ", "~").replace(' ', '+'));
}

// Qt's decoder on the same encoded text: to bytes, "+" to a space (a literal "+" arrives as "%2B"),
// percent escapes, UTF-8 to text.
QString qtFormDecode(const QString& encoded)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(encoded.toLatin1().replace('+', ' ')));
}

void benchPercentCoding()
{
    const QString text = makeUrlLikeText(kTextBytes);
    const qsizetype utf8Bytes = text.toUtf8().size();
    const QString encoded = linvera::PercentEncode(text);

    // Both sides must give the same answer before the times mean anything.
    if (qtFormEncode(text) != encoded || linvera::PercentDecode(encoded) != text ||
        qtFormDecode(encoded) != text) {
        std::printf("percent coding: results differ, no figures\n");
        return;
    }

    std::printf("Percent coding of URL-like text mixing ASCII and Japanese (%lld UTF-16 units), "
                "median of %d interleaved runs, processor time of the thread.\n"
                "Each side takes the same QString and answers the same QString (checked before timing): "
                "Qt's coders are given the UTF-8 conversion and the form rules (\"+\" for a space) that "
                "ours does inside.\n"
                "MB/s counts input bytes (1 MB = 10^6 bytes): for encoding the UTF-8 bytes of the plain "
                "text, for decoding the characters of the encoded text. The speed ratio ours/Qt is Qt's "
                "time divided by ours (above 1: ours is faster).\n\n",
                static_cast<long long>(text.size()), kRepetitions);

    compare("Encode", utf8Bytes,
            {{"PercentEncode(QString)", [&] { return linvera::PercentEncode(text).size(); }, {}},
             {"QString::toUtf8().toPercentEncoding()", [&] { return qtFormEncode(text).size(); }, {}}});
    std::printf("\n");
    compare("Decode", encoded.size(),
            {{"PercentDecode(QString)", [&] { return linvera::PercentDecode(encoded).size(); }, {}},
             {"QString::fromUtf8(fromPercentEncoding())", [&] { return qtFormDecode(encoded).size(); }, {}}});
}

void benchRegistry()
{
    using linvera::platform::RegRoot;
    const QString key = u"SOFTWARE\\HALVEX\\linvera\\bench"_s;
    QList<QString> names;
    for (int i = 0; i < 16; ++i)
        names << u"value%1"_s.arg(i);

    // Wall time: a write waits for the disk, which processor time would not show.
    qint64 writeNs = 0;
    qint64 readNs = 0;
    int failures = 0;
    QElapsedTimer timer;
    for (int i = 0; i < kRegistryPairs; ++i) {
        const QString& name = names[i % names.size()];
        const QString data = u"http://example.com/%1"_s.arg(i);
        QString back;
        timer.start();
        const bool written = linvera::SetRegString(RegRoot::LocalMachine, key, name, QVariant(data));
        writeNs += timer.nsecsElapsed();
        timer.start();
        const bool read = linvera::GetRegValue(RegRoot::LocalMachine, key, name, back);
        readNs += timer.nsecsElapsed();
        if (!written || !read || back != data)
            ++failures;
    }
    const double totalMs = double(writeNs + readNs) / 1e6;
    std::printf("\nRegistry store (wall time): %d SetRegString + GetRegValue pairs in %.1f ms, %.1f us per "
                "pair (write %.1f us, read %.1f us); %d failed\n",
                kRegistryPairs, totalMs, totalMs * 1e3 / kRegistryPairs,
                double(writeNs) / 1e3 / kRegistryPairs, double(readNs) / 1e3 / kRegistryPairs, failures);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);

    // The registry store must live in a throw-away folder, chosen before its first use.
    QTemporaryDir configHome;
    if (!configHome.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder\n");
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));

    benchPercentCoding();
    benchRegistry();
    std::printf("(store file: %s)\n", qPrintable(linvera::platform::RegistryStore::shared().filePath()));
    return 0;
}
