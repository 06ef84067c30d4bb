#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>
#include <map>
#include <tuple>

namespace tess {

// Registry access in the shape of advapi32's 8-bit calls: status 0 is success.
using RegKey = quintptr;

// Names differ from <windows.h>'s, which are macros.
namespace Reg {
constexpr quint32 LocalMachine = 0x80000002u; // HKEY_LOCAL_MACHINE
constexpr quint32 Read = 0x20019u;            // KEY_READ: all a user without admin rights gets
constexpr quint32 Wow64Views = 0x300u;        // KEY_WOW64_64KEY | KEY_WOW64_32KEY
constexpr quint32 String = 1;                 // REG_SZ
constexpr quint32 Dword = 4;                  // REG_DWORD
constexpr long Success = 0;
constexpr long NotFound = 2;
constexpr long AccessDenied = 5;
constexpr long InvalidHandle = 6;
constexpr long MoreData = 234; // ERROR_MORE_DATA: the data does not fit the buffer
} // namespace Reg

class Registry {
public:
    virtual ~Registry() = default;
    virtual long open(quint32 root, const QByteArray& keyName, quint32 access, RegKey* key) = 0;
    // size: in, the buffer's capacity; out, the bytes written (the bytes needed
    // when the data does not fit, with MoreData).
    virtual long query(RegKey key, const QByteArray& valueName, quint32* type, char* buffer,
                       quint32* size) = 0;
    virtual long close(RegKey key) = 0;

    // The registry the program reads: the system's on Windows, an empty one
    // elsewhere, or the one a test installed.
    static Registry& current();
    static void setForTesting(Registry* registry); // nullptr restores the default
};

// A registry held in memory; empty until values are set. Key and value names
// compare without regard to case, as Windows does. It answers as Windows does a user
// without administrator rights: HKEY_LOCAL_MACHINE opens for reading only.
class MemoryRegistry : public Registry {
public:
    void setValue(quint32 root, const QByteArray& keyName, const QByteArray& valueName,
                  quint32 type, const QByteArray& data);

    long open(quint32 root, const QByteArray& keyName, quint32 access, RegKey* key) override;
    long query(RegKey key, const QByteArray& valueName, quint32* type, char* buffer,
               quint32* size) override;
    long close(RegKey key) override;

    // The key names opened so far (refused ones too), in order, and how many are open now.
    QList<QByteArray> openedKeys() const { return opened_; }
    int openCount() const { return int(handles_.size()); }

private:
    using KeyId = std::pair<quint32, QByteArray>;
    struct Value {
        quint32 type;
        QByteArray data;
    };
    std::map<KeyId, std::map<QByteArray, Value>> keys_;
    std::map<RegKey, KeyId> handles_;
    RegKey nextHandle_ = 1;
    QList<QByteArray> opened_;
};

} // namespace tess
