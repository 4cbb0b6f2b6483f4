#pragma once

#include <QString>

namespace linvera {

/// Outcome of one mailbox call: the value on success, otherwise an error text. Calls never
/// throw and never wait longer than the client's time-out.
template <typename T> struct MailboxReply
{
    bool ok = false;
    T value{};
    QString error;
};

template <> struct MailboxReply<void>
{
    bool ok = false;
    QString error;
};

} // namespace linvera
