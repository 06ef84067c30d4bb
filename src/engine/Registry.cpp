#include "engine/Registry.h"

#include <cstring>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#endif

namespace tess {

namespace {

Registry* g_override = nullptr;

#ifdef _WIN32
class WindowsRegistry : public Registry {
public:
    long open(quint32 root, const QByteArray& keyName, quint32 access, RegKey* key) override {
        // Predefined roots are sign-extended 32-bit values.
        const HKEY rootKey =
            reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
        HKEY opened = nullptr;
        const LONG status = RegOpenKeyExA(rootKey, keyName.constData(), 0, access, &opened);
        *key = reinterpret_cast<RegKey>(opened);
        return status;
    }
    long query(RegKey key, const QByteArray& valueName, quint32* type, char* buffer,
               quint32* size) override {
        DWORD valueType = 0;
        DWORD bytes = *size;
        const LONG status =
            RegQueryValueExA(reinterpret_cast<HKEY>(key), valueName.constData(), nullptr,
                             &valueType, reinterpret_cast<LPBYTE>(buffer), &bytes);
        *type = valueType;
        *size = bytes;
        return status;
    }
    long close(RegKey key) override { return RegCloseKey(reinterpret_cast<HKEY>(key)); }
};
#endif

#ifndef _WIN32
// Off Windows there is no registry: no key can be opened.
class EmptyRegistry : public Registry {
public:
    long open(quint32, const QByteArray&, quint32, RegKey* key) override {
        *key = 0;
        return Reg::NotFound;
    }
    long query(RegKey, const QByteArray&, quint32*, char*, quint32*) override {
        return Reg::InvalidHandle;
    }
    long close(RegKey) override { return Reg::InvalidHandle; }
};
#endif

Registry& platformRegistry() {
#ifdef _WIN32
    static WindowsRegistry registry;
#else
    static EmptyRegistry registry;
#endif
    return registry;
}

} // namespace

Registry& Registry::current() {
    return g_override ? *g_override : platformRegistry();
}

void Registry::setForTesting(Registry* registry) {
    g_override = registry;
}

void MemoryRegistry::setValue(quint32 root, const QByteArray& keyName, const QByteArray& valueName,
                              quint32 type, const QByteArray& data) {
    keys_[{root, keyName.toLower()}][valueName.toLower()] = Value{type, data};
}

long MemoryRegistry::open(quint32 root, const QByteArray& keyName, quint32 access, RegKey* key) {
    opened_.append(keyName);
    if (root == Reg::LocalMachine && (access & ~(Reg::Read | Reg::Wow64Views)) != 0) {
        *key = 0;
        return Reg::AccessDenied;
    }
    const KeyId id{root, keyName.toLower()};
    if (keys_.find(id) == keys_.end()) {
        *key = 0;
        return Reg::NotFound;
    }
    *key = nextHandle_++;
    handles_[*key] = id;
    return Reg::Success;
}

long MemoryRegistry::query(RegKey key, const QByteArray& valueName, quint32* type, char* buffer,
                           quint32* size) {
    const auto handle = handles_.find(key);
    if (handle == handles_.end())
        return Reg::InvalidHandle;
    const auto& values = keys_[handle->second];
    const auto value = values.find(valueName.toLower());
    if (value == values.end())
        return Reg::NotFound;
    const quint32 capacity = *size;
    *type = value->second.type;
    *size = quint32(value->second.data.size());
    if (*size > capacity)
        return Reg::MoreData;
    if (*size > 0)
        std::memcpy(buffer, value->second.data.constData(), *size);
    return Reg::Success;
}

long MemoryRegistry::close(RegKey key) {
    return handles_.erase(key) ? Reg::Success : Reg::InvalidHandle;
}

} // namespace tess
