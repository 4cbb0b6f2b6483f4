#include "conv/Endpoints.h"

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

struct Entry
{
    const char16_t* name;
    const char16_t* host;
};

constexpr std::array<Entry, Endpoints::Count> kTable{{
    {u"ShortenerApiHost", u"api.shortener.example"},
    {u"ShortenerAltApiHost", u"api.shrt.example"},
    {u"ShortenerDomain", u"shortener.example"},
    {u"ShortenerAltDomain", u"shrt.example"},
    // The store's Japanese site still serves product links as "/dp/" + item number.
    {u"StoreHost", u"www.amazon.co.jp"},
    {u"StoreHostPrefix", u"www.amazon."},
    {u"LiveHost", u"live.example"},
    {u"LiveShortDomain", u"lv.example"},
    {u"MicroblogHost", u"microblog.example"},
    {u"PictureHost", u"pictures.example"},
    {u"MakerSiteHost", u"www.halvex.example"},
    {u"MakerNoticeHost", u"notice.halvex.example"},
    {u"MakerLiveHost", u"live.halvex.example"},
    {u"IsgdApiBase", u"https://is.gd"},
    {u"VgdApiBase", u"https://v.gd"},
}};

} // namespace

Endpoints::Endpoints()
{
    for (int i = 0; i < Count; ++i)
        m_values[i] = defaultValue(Name(i));
}

QString Endpoints::registryName(Name name)
{
    return QString::fromUtf16(kTable[name].name);
}

QString Endpoints::defaultValue(Name name)
{
    return QString::fromUtf16(kTable[name].host);
}

} // namespace linvera
