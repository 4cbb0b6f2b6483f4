// Prints, in one run: the throughput of PercentEncode and PercentDecode beside Qt's percent
// encoder and decoder on the same data, and the time of 10,000 registry write-and-read pairs.
#include "BenchStats.h"
#include "PercentCoding.h"
#include "RegAccess.h"
#include "RegistryStore.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUrl>

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
        if (&c != &contenders.front())
            std::printf("   ratio ours/Qt %.2f", t / ours);
        std::printf("\n");
    }
}

void benchPercentCoding()
{
    const QString text = makeUrlLikeText(kTextBytes);
    const QByteArray utf8 = text.toUtf8();
    const QString encoded = linvera::PercentEncode(text);
    const QByteArray encodedBytes = encoded.toLatin1();
    QByteArray formBytes = encodedBytes; // Qt's decoder does not know "+"
    formBytes.replace('+', "%20");

    // The data must agree before the times mean anything.
    if (linvera::PercentDecode(encoded) != text ||
        QString::fromUtf8(QByteArray::fromPercentEncoding(formBytes)) != text) {
        std::printf("percent coding: round trip FAILED, no figures\n");
        return;
    }

    std::printf("Percent coding of URL-like text mixing ASCII and Japanese (%lld UTF-16 units), "
                "median of %d interleaved runs, processor time of the thread.\n"
                "MB/s counts input bytes (1 MB = 10^6 bytes): for encoding the UTF-8 bytes of the plain "
                "text, for decoding the bytes of the encoded ASCII text. Both sides are given the same "
                "count, so the ratio ours/Qt is Qt's time divided by ours.\n\n",
                static_cast<long long>(text.size()), kRepetitions);

    compare(
        "Encode", utf8.size(),
        {{"PercentEncode(QString)", [&] { return linvera::PercentEncode(text).size(); }, {}},
         {"QByteArray::toPercentEncoding(UTF-8 bytes)", [&] { return utf8.toPercentEncoding().size(); }, {}},
         {"QUrl::toPercentEncoding(QString)", [&] { return QUrl::toPercentEncoding(text).size(); }, {}}});
    std::printf("\n");
    compare("Decode", encodedBytes.size(),
            {{"PercentDecode(QString)", [&] { return linvera::PercentDecode(encoded).size(); }, {}},
             {"QByteArray::fromPercentEncoding(bytes)",
              [&] { return QByteArray::fromPercentEncoding(encodedBytes).size(); },
              {}}});
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
