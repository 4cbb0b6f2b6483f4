// The notice document as the notice host could serve it, read from a file as the program reads it;
// and the date texts the schedule reads back.
#include "FuzzSupport.h"
#include "notice/NoticeFeed.h"

#include <QFile>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString path = linvera::fuzz::privateFolder() + u"/notice.xml";
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            linvera::fuzz::fail("the notice file can be written", path);
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    QString texts[5] = {u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s};
    linvera::ReadNoticeFeed(path, texts[0], texts[1], texts[2], texts[3], texts[4]);
    const linvera::NoticeTexts read = linvera::ReadNoticeFeed(path);
    // Whatever is missing stays as it was: the struct's own reading starts empty.
    FUZZ_CHECK(read.noticeMessage.isEmpty() || read.noticeMessage == texts[0], read.noticeMessage);
    FUZZ_CHECK(read.account.isEmpty() || read.account == texts[4], read.account);

    const QString text = linvera::fuzz::utf8Text(data, qMin(size, size_t(200)));
    const QString cut = linvera::CutDateSuffix(text);
    FUZZ_CHECK(cut.size() <= text.size(), text);
    const QDate date = linvera::ReadNoticeDate(text, QLocale::c());
    if (date.isValid())
        FUZZ_CHECK(linvera::ReadNoticeDate(linvera::NoticeDateText(date, QLocale::c()), QLocale::c()) == date,
                   text);
    return 0;
}
