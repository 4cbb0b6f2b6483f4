#pragma once

#include "platform/RegistryWriterTurn.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>
#include <sys/types.h>

struct sqlite3;

namespace linvera::platform {

/// The predefined root keys the program uses. Each is a tree of its own in the store.
enum class RegRoot { ClassesRoot, CurrentUser, LocalMachine };

/// A registry of keys and typed values kept in one SQLite file, with Windows registry semantics:
/// key and value names compare case-insensitively, every key has a default value (the empty value
/// name), value data is kept as the exact bytes and type number written, and every change is one
/// transaction. Several processes may use the same file at once.
///
/// Operations return Windows status codes and never throw. The file is opened on first use and
/// opened again when it becomes usable or is replaced; a file that is not a store of ours is
/// reported, never rewritten.
///
/// Beside the file SQLite keeps its write-ahead log ("-wal", "-shm"), and the store keeps a small
/// "-lock" file through which a process waiting to write gets its turn.
///
/// Key paths use "\" between names; one leading and one trailing "\" are ignored, and the empty
/// path is the root key itself.
class RegistryStore
{
public:
    enum Status : qint32 {
        Success = 0,
        FileNotFound = 2, // key or value missing
        AccessDenied = 5, // key still has subkeys, a root key cannot be deleted, read-only file
        OutOfMemory = 14,
        DiskFull = 112,
        InvalidParameter = 87,   // a name longer than the registry allows
        Busy = 170,              // another process held the store longer than the time-out
        BadPathname = 161,       // an empty name inside a key path
        RegistryCorrupt = 1015,  // the file is not a registry store (or is damaged)
        RegistryIoFailed = 1016, // the file cannot be created, opened, read or written
    };

    enum class CreateMode { RequireKey, CreateMissingKeys };

    /// Windows value types the program names; any other number is stored as given.
    enum ValueType : quint32 {
        RegNone = 0,
        RegSz = 1,
        RegExpandSz = 2,
        RegBinary = 3,
        RegDword = 4,
        RegDwordBigEndian = 5,
        RegLink = 6,
        RegMultiSz = 7,
        RegQword = 11,
    };

    struct Value
    {
        QString name; // as first written
        quint32 type = RegNone;
        QByteArray data;
    };

    /// Longest key name and value name, in UTF-16 units, as on Windows.
    static constexpr int kMaxKeyNameLength = 255;
    static constexpr int kMaxValueNameLength = 16383;
    /// How long an operation waits for another process that holds the store, unless the store is
    /// made with another time-out.
    static constexpr int kBusyTimeoutMs = 5000;
    /// How long an operation waits when the one before it was given up as Busy.
    static constexpr int kBusyAgainMs = 100;

    /// busyTimeoutMs: how long each operation waits for another process that holds the store
    /// before it reports Busy; a negative time-out counts as 0 (no wait).
    explicit RegistryStore(const QString& filePath, int busyTimeoutMs = kBusyTimeoutMs);
    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    /// $XDG_CONFIG_HOME/halvex-linvera/registry.sqlite3 (default ~/.config/…).
    static QString defaultFilePath();
    /// The process-wide store: the one set with setShared(), else one over defaultFilePath()
    /// (fixed at the first call).
    static RegistryStore& shared();
    /// Points shared() at another store (not owned); nullptr goes back to the default store.
    static void setShared(RegistryStore* store);

    /// Points shared() at a store for the lifetime of this object (tests).
    class SharedOverride
    {
    public:
        explicit SharedOverride(RegistryStore& store);
        ~SharedOverride();
        SharedOverride(const SharedOverride&) = delete;
        SharedOverride& operator=(const SharedOverride&) = delete;

    private:
        RegistryStore* m_previous;
    };

    QString filePath() const { return m_filePath; }
    int busyTimeoutMs() const { return m_busyTimeoutMs; }

    /// Creates the key and every missing parent; an existing key is fine.
    qint32 createKey(RegRoot root, const QString& keyPath);
    /// Success when the key exists.
    qint32 openKey(RegRoot root, const QString& keyPath);
    bool keyExists(RegRoot root, const QString& keyPath) { return openKey(root, keyPath) == Success; }

    /// Writes a value (type and bytes exactly as given). With RequireKey a missing key gives
    /// FileNotFound; with CreateMissingKeys the key path is created in the same transaction.
    qint32 setValue(RegRoot root, const QString& keyPath, const QString& valueName, quint32 type,
                    const QByteArray& data, CreateMode mode = CreateMode::RequireKey);
    qint32 queryValue(RegRoot root, const QString& keyPath, const QString& valueName, quint32& type,
                      QByteArray& data);
    qint32 deleteValue(RegRoot root, const QString& keyPath, const QString& valueName);
    /// Deletes a key with its values. A key that still has subkeys stays as it is (AccessDenied).
    qint32 deleteKey(RegRoot root, const QString& keyPath);
    /// Deletes a key with all its subkeys and values at once.
    qint32 deleteTree(RegRoot root, const QString& keyPath);

    /// Subkey names (as first written), sorted case-insensitively.
    qint32 enumSubKeys(RegRoot root, const QString& keyPath, QStringList& names);
    /// Values in the order they were first written.
    qint32 enumValues(RegRoot root, const QString& keyPath, QList<Value>& values);

    /// Called the first time each kind of trouble with the file itself shows (RegistryCorrupt,
    /// RegistryIoFailed, DiskFull, AccessDenied for a store that cannot be written, and Busy for one
    /// another program held past the time-out), with that
    /// status; never again for the same kind, so a caller can tell the user once instead of at every
    /// read. Runs outside the store's lock: it may use the store.
    void setProblemHandler(std::function<void(qint32 status)> handler);

    /// SQLite's integrity check of the whole file; details gets its report.
    qint32 checkIntegrity(QString* details = nullptr);

    static QString rootName(RegRoot root);
    /// English one-line description of a status code.
    static QString statusText(qint32 status);

private:
    // The operations run their bodies through transact() (RegistryStore.cpp); the file is opened,
    // set up and watched for replacement in RegistryStoreFile.cpp; the process-wide instance is
    // in RegistryStoreShared.cpp.
    template <typename Body> qint32 transact(bool write, Body&& body);
    template <typename Body> qint32 transactLocked(bool write, Body&& body, bool& fileProblem);
    qint32 openLocked();
    qint32 openReadOnlyLocked();
    void closeLocked();
    void dropDamagedLocked();
    bool fileReplacedLocked() const;
    static int onBusy(void* store, int count);

    const QString m_filePath;
    const int m_busyTimeoutMs;
    bool m_lastBusy = false; // the last operation gave up on another program's hold
    QMutex m_mutex;
    sqlite3* m_db = nullptr;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    bool m_readOnly = false; // opened as an unchanging file: the folder or file cannot be written
    quint32 m_reported = 0;  // the kinds of trouble already handed to the problem handler
    std::function<void(qint32)> m_problemHandler;
    RegistryWriterTurn m_turn;
    QDeadlineTimer m_deadline; // of the operation under way
};

} // namespace linvera::platform
