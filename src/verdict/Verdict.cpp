#include "verdict/Verdict.h"

#include <QJsonArray>
#include <QUrl>

#include <unicode/uscript.h>
#include <unicode/uspoof.h>
#include <unicode/utf16.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace linvera::verdict {
namespace {

struct SpoofClose
{
    void operator()(USpoofChecker* checker) const { uspoof_close(checker); }
};

// Configured once; ICU allows checks on one checker from several threads.
const USpoofChecker* spoofChecker()
{
    static const std::unique_ptr<USpoofChecker, SpoofClose> shared = [] {
        UErrorCode status = U_ZERO_ERROR;
        USpoofChecker* made = uspoof_open(&status);
        // Latin with one other script passes (Japanese labels mix Han, kana and Latin), except Latin
        // with Cyrillic or Greek, whose letters pass for Latin ones.
        uspoof_setRestrictionLevel(made, USPOOF_MODERATELY_RESTRICTIVE);
        uspoof_setChecks(
            made, USPOOF_RESTRICTION_LEVEL | USPOOF_MIXED_NUMBERS | USPOOF_INVISIBLE | USPOOF_HIDDEN_OVERLAY,
            &status);
        if (U_FAILURE(status)) {
            uspoof_close(made);
            made = nullptr;
        }
        return std::unique_ptr<USpoofChecker, SpoofClose>(made);
    }();
    return shared.get();
}

const UChar* utf16(const QString& text)
{
    return reinterpret_cast<const UChar*>(text.utf16());
}

QString skeleton(const QString& text)
{
    const USpoofChecker* checker = spoofChecker();
    if (!checker || text.isEmpty())
        return {};
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length =
        uspoof_getSkeleton(checker, 0, utf16(text), int32_t(text.size()), nullptr, 0, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status))
        return {};
    QString out(length, Qt::Uninitialized);
    status = U_ZERO_ERROR;
    uspoof_getSkeleton(checker, 0, utf16(text), int32_t(text.size()), reinterpret_cast<UChar*>(out.data()),
                       length, &status);
    return U_SUCCESS(status) ? out : QString();
}

int32_t spoofChecks(const QString& label)
{
    const USpoofChecker* checker = spoofChecker();
    if (!checker)
        return 0;
    UErrorCode status = U_ZERO_ERROR;
    const int32_t result = uspoof_check2(checker, utf16(label), int32_t(label.size()), nullptr, &status);
    return U_SUCCESS(status) ? result : 0;
}

// The one script of a label's letters (Common and Inherited marks aside), or USCRIPT_INVALID_CODE when
// it has letters of several scripts or none.
UScriptCode singleScript(const QString& label)
{
    UScriptCode found = USCRIPT_INVALID_CODE;
    for (qsizetype i = 0; i < label.size();) {
        char32_t c = label[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < label.size() && label[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(label[i], label[i + 1]);
            i += 2;
        } else {
            ++i;
        }
        UErrorCode status = U_ZERO_ERROR;
        const UScriptCode script = uscript_getScript(UChar32(c), &status);
        if (U_FAILURE(status) || script == USCRIPT_COMMON || script == USCRIPT_INHERITED)
            continue;
        if (found != USCRIPT_INVALID_CODE && found != script)
            return USCRIPT_INVALID_CODE;
        found = script;
    }
    return found;
}

bool isAsciiWord(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!((u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'-'))
            return false;
    }
    return true;
}

void addReason(Verdict& verdict, const QString& code, const QString& message, VerdictLevel level)
{
    if (verdict.hasReason(code))
        return;
    verdict.reasons.append({code, message, level});
    if (int(level) > int(verdict.level))
        verdict.level = level;
}

void judgeLabels(Verdict& verdict)
{
    const QStringList labels = verdict.host.unicode.split(u'.');
    for (const QString& label : labels) {
        if (isAsciiWord(label) || label.isEmpty())
            continue;
        const int32_t checks = spoofChecks(label);
        if (checks & USPOOF_RESTRICTION_LEVEL)
            addReason(verdict, u"mixed-script"_s,
                      u"ホスト名の「"_s + label + u"」に見分けにくい複数の文字体系が混ざっています"_s,
                      VerdictLevel::Warn);
        if (checks & USPOOF_MIXED_NUMBERS)
            addReason(verdict, u"mixed-numbers"_s,
                      u"ホスト名の「"_s + label + u"」に種類の違う数字が混ざっています"_s,
                      VerdictLevel::Warn);
        if (checks & (USPOOF_INVISIBLE | USPOOF_HIDDEN_OVERLAY))
            addReason(verdict, u"invisible"_s, u"ホスト名に見えない記号や重なった記号が含まれています"_s,
                      VerdictLevel::Warn);
        // A label wholly in Cyrillic (say) whose every letter has a Latin twin reads as a Latin word.
        const UScriptCode script = singleScript(label);
        if (script != USCRIPT_INVALID_CODE && script != USCRIPT_LATIN) {
            const QString twin = skeleton(label);
            if (isAsciiWord(twin))
                addReason(verdict, u"whole-script-confusable"_s,
                          u"ホスト名の「"_s + label + u"」はラテン文字の「"_s + twin +
                              u"」と見分けがつかない別の文字です"_s,
                          VerdictLevel::Warn);
        }
    }
}

} // namespace

bool Verdict::hasReason(QStringView code) const
{
    for (const VerdictReason& reason : reasons) {
        if (reason.code == code)
            return true;
    }
    return false;
}

ImitatedSites::ImitatedSites()
{
    for (const QString& site : shippedSites())
        m_sites.add(site);
    addSkeletons(m_sites.hosts());
}

QStringList ImitatedSites::shippedSites()
{
    // Sites that phishing mails and lookalike domains imitate most, here and abroad.
    return {
        u"google.com"_s,
        u"gmail.com"_s,
        u"youtube.com"_s,
        u"apple.com"_s,
        u"icloud.com"_s,
        u"microsoft.com"_s,
        u"live.com"_s,
        u"outlook.com"_s,
        u"office.com"_s,
        u"amazon.com"_s,
        u"amazon.co.jp"_s,
        u"paypal.com"_s,
        u"facebook.com"_s,
        u"instagram.com"_s,
        u"twitter.com"_s,
        u"netflix.com"_s,
        u"github.com"_s,
        u"dropbox.com"_s,
        u"linkedin.com"_s,
        u"whatsapp.com"_s,
        u"ebay.com"_s,
        u"binance.com"_s,
        u"coinbase.com"_s,
        u"yahoo.com"_s,
        u"yahoo.co.jp"_s,
        u"rakuten.co.jp"_s,
        u"line.me"_s,
        u"mercari.com"_s,
        u"docomo.ne.jp"_s,
        u"softbank.jp"_s,
        u"smbc.co.jp"_s,
        u"mufg.jp"_s,
        u"mizuhobank.co.jp"_s,
        u"japanpost.jp"_s,
        u"jp-bank.japanpost.jp"_s,
        u"sagawa-exp.co.jp"_s,
        u"kuronekoyamato.co.jp"_s,
        u"nta.go.jp"_s,
        u"jcb.co.jp"_s,
        u"aeon.co.jp"_s,
        u"bitflyer.com"_s,
        u"paypay.ne.jp"_s,
        u"nintendo.com"_s,
        u"steampowered.com"_s,
    };
}

HostListRead ImitatedSites::loadFile(const QString& path)
{
    HostSet read;
    const HostListRead outcome = read.loadFile(path);
    const QStringList hosts = read.hosts();
    for (const QString& host : hosts)
        m_sites.add(host);
    addSkeletons(hosts);
    return outcome;
}

bool ImitatedSites::add(QStringView host)
{
    const HostForms forms = HostInBothForms(host.toString());
    if (!forms.valid || !m_sites.add(forms.ascii))
        return false;
    addSkeletons({forms.ascii});
    return true;
}

void ImitatedSites::addSkeletons(const QStringList& asciiHosts)
{
    for (const QString& ascii : asciiHosts) {
        const QString unicode = HostInBothForms(ascii).unicode;
        const QString key = skeleton(unicode);
        if (!key.isEmpty() && !m_bySkeleton.contains(key))
            m_bySkeleton.insert(key, unicode);
    }
}

QString ImitatedSites::imitatedBy(const HostForms& host) const
{
    // The site itself and its subdomains are the real thing.
    if (host.unicode.isEmpty() || m_sites.matches(host.ascii))
        return {};
    QStringView name(host.unicode);
    // The host and each parent domain of two labels or more.
    while (name.contains(u'.')) {
        if (const auto it = m_bySkeleton.constFind(skeleton(name.toString())); it != m_bySkeleton.cend())
            return *it;
        name = name.mid(name.indexOf(u'.') + 1);
    }
    return {};
}

QString DestinationPart(const QString& afterUrl)
{
    const QString text = afterUrl.trimmed();
    const qsizetype colon = text.indexOf(u':');
    if (colon < 1 || !QStringView(text).mid(colon + 1).startsWith(u"//"))
        return text;
    for (qsizetype i = 0; i < colon; ++i) {
        const QChar c = text[i];
        const bool schemeChar = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                                (i > 0 && ((c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.'));
        if (!schemeChar)
            return text;
    }
    qsizetype end = colon + 3;
    while (end < text.size() && text[end] != u'/' && text[end] != u'?' && text[end] != u'#')
        ++end;
    return text.left(end);
}

Verdict JudgeDestination(const QString& afterUrl, const VerdictSources& sources)
{
    Verdict verdict;
    const QString text = afterUrl.trimmed();
    if (text.isEmpty())
        return verdict;
    verdict.judged = true;
    const QUrl url(text, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (scheme != u"http" && scheme != u"https") {
        addReason(verdict, u"not-web"_s,
                  scheme.isEmpty() ? u"行き先がWebのアドレス(http・https)ではありません"_s
                                   : u"行き先がWebのアドレスではありません("_s + scheme + u":)"_s,
                  VerdictLevel::Note);
        return verdict;
    }
    if (scheme == u"http")
        addReason(verdict, u"no-encryption"_s, u"暗号化されない接続(http:)です"_s, VerdictLevel::Note);

    const QString host = url.isValid() ? url.host(QUrl::EncodeUnicode) : QString();
    if (host.isEmpty()) {
        addReason(verdict, u"bad-host"_s, u"ホスト名を読み取れません"_s, VerdictLevel::Warn);
        return verdict;
    }
    // "https://bank.example@evil.example/" goes to evil.example, whatever it seems to say.
    if (!url.userInfo().isEmpty())
        addReason(verdict, u"user-info"_s,
                  u"ホスト名の前に「@」で区切った別の名前があります。本当の行き先は "_s +
                      (IsIpLiteral(host) ? host : HostInBothForms(host).unicode) + u" です"_s,
                  VerdictLevel::Warn);
    if (IsIpLiteral(host)) {
        verdict.host.ascii = verdict.host.unicode = host;
        verdict.host.valid = true;
        addReason(verdict, u"ip-address"_s, u"ホスト名ではなくIPアドレスが直接書かれています"_s,
                  VerdictLevel::Note);
        return verdict;
    }
    verdict.host = HostInBothForms(host);
    if (EndsInNumber(host)) {
        addReason(verdict, u"bad-host"_s, u"ホスト名を読み取れません"_s, VerdictLevel::Warn);
        return verdict;
    }
    if (!verdict.host.valid)
        addReason(verdict, u"bad-host"_s, u"ホスト名が国際化ドメイン名の決まりに合いません"_s,
                  VerdictLevel::Warn);

    if (sources.blockList) {
        const QString entry = sources.blockList->matchOf(verdict.host.ascii);
        if (!entry.isEmpty())
            addReason(verdict, u"blocked"_s,
                      u"ブロックリストにあるホスト("_s + HostInBothForms(entry).unicode + u")です"_s,
                      VerdictLevel::Warn);
    }
    if (verdict.host.valid) {
        judgeLabels(verdict);
        if (sources.imitatedSites) {
            const QString site = sources.imitatedSites->imitatedBy(verdict.host);
            if (!site.isEmpty())
                addReason(verdict, u"lookalike"_s, u"「"_s + site + u"」に似せたホスト名です"_s,
                          VerdictLevel::Warn);
        }
    }
    return verdict;
}

QString LevelName(VerdictLevel level)
{
    switch (level) {
    case VerdictLevel::Ok:
        return u"ok"_s;
    case VerdictLevel::Note:
        return u"note"_s;
    case VerdictLevel::Warn:
        return u"warn"_s;
    }
    return u"ok"_s;
}

QString VerdictLine(const Verdict& verdict)
{
    if (!verdict.judged)
        return {};
    QString line;
    switch (verdict.level) {
    case VerdictLevel::Ok:
        line = u"行き先の確認: 問題は見つかりませんでした"_s;
        break;
    case VerdictLevel::Note:
        line = u"【注意】行き先の確認: "_s;
        break;
    case VerdictLevel::Warn:
        line = u"【警告】行き先の確認: "_s;
        break;
    }
    QStringList messages;
    // The warnings first: a line cut short by a narrow window still shows the worst.
    for (const VerdictLevel level : {VerdictLevel::Warn, VerdictLevel::Note}) {
        for (const VerdictReason& reason : verdict.reasons) {
            if (reason.level == level)
                messages.append(reason.message);
        }
    }
    line += messages.join(u"。"_s);
    if (verdict.host.isIdn())
        line += u"(ホスト "_s + verdict.host.unicode + u" = "_s + verdict.host.ascii + u")"_s;
    return line;
}

QJsonObject VerdictJson(const Verdict& verdict)
{
    QJsonArray reasons;
    for (const VerdictReason& reason : verdict.reasons)
        reasons.append(QJsonObject{{u"code"_s, reason.code}, {u"message"_s, reason.message}});
    QJsonObject object{{u"level"_s, LevelName(verdict.level)}, {u"reasons"_s, reasons}};
    if (!verdict.host.unicode.isEmpty()) {
        object.insert(u"host"_s, verdict.host.unicode);
        object.insert(u"asciiHost"_s, verdict.host.ascii);
    }
    return object;
}

bool IsReviewLine(QStringView line)
{
    for (const QStringView head : {u"行き先の確認:", u"【注意】行き先の確認:", u"【警告】行き先の確認:",
                                   u"追跡用パラメータを", u"転送用のアドレスから"}) {
        if (line.startsWith(head))
            return true;
    }
    return false;
}

QStringList WithoutReviewLines(const QStringList& lines)
{
    QStringList kept;
    for (const QString& line : lines) {
        if (!IsReviewLine(line))
            kept.append(line);
    }
    return kept;
}

QString WithoutReviewLines(const QString& text)
{
    // Lines end in LF or CR LF; the kept ones keep theirs.
    QString kept;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        end = end < 0 ? text.size() : end + 1;
        const QStringView line = QStringView(text).mid(start, end - start);
        QStringView bare = line;
        while (bare.endsWith(u'\n') || bare.endsWith(u'\r'))
            bare.chop(1);
        if (!IsReviewLine(bare))
            kept += line;
        start = end;
    }
    // A review line was the last: the line before it loses the break that led to it.
    if (kept.size() < text.size() && !text.endsWith(u'\n')) {
        while (kept.endsWith(u'\n') || kept.endsWith(u'\r'))
            kept.chop(1);
    }
    return kept;
}

} // namespace linvera::verdict
