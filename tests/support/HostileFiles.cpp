#include "HostileFiles.h"

#include <QFile>

#include <csignal>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace linvera::test {
namespace {

// The capabilities that let root past file modes and ownership.
constexpr int kOverrides[] = {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER};

bool capabilities(__user_cap_data_struct (&data)[2], bool set)
{
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

} // namespace

HonourFileModes::HonourFileModes()
{
    if (::geteuid() != 0) {
        m_active = true;
        return;
    }
    __user_cap_data_struct data[2] = {};
    if (!capabilities(data, false))
        return;
    for (const int cap : kOverrides)
        data[cap / 32].effective &= ~(1u << (cap % 32));
    m_dropped = m_active = capabilities(data, true);
}

HonourFileModes::~HonourFileModes()
{
    if (!m_dropped)
        return;
    __user_cap_data_struct data[2] = {};
    if (!capabilities(data, false))
        return;
    for (const int cap : kOverrides)
        data[cap / 32].effective |= data[cap / 32].permitted & (1u << (cap % 32));
    capabilities(data, true);
}

void dropFileModeOverrideForGood()
{
    // Out of the bounding and inheritable sets too, or root gets them back at exec.
    __user_cap_data_struct data[2] = {};
    if (capabilities(data, false)) {
        for (const int cap : kOverrides) {
            data[cap / 32].effective &= ~(1u << (cap % 32));
            data[cap / 32].inheritable &= ~(1u << (cap % 32));
        }
        capabilities(data, true);
    }
    for (const int cap : kOverrides) {
        ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_LOWER, cap, 0, 0);
        ::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
    }
}

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    if (::getrlimit(RLIMIT_FSIZE, &m_saved) != 0)
        return;
    m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = m_saved;
    limit.rlim_cur = bytes;
    m_active = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    if (m_active)
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
    std::signal(SIGXFSZ, m_savedHandler == SIG_ERR ? SIG_DFL : m_savedHandler);
}

void limitFileSizeForGood(rlim_t bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = {};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

bool makeSparseFile(const QString& path, qint64 bytes, const QByteArray& head)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, head.constData(), size_t(head.size())) == head.size() &&
                    ::ftruncate(fd, off_t(bytes)) == 0;
    ::close(fd);
    return ok;
}

} // namespace linvera::test
