// The stand-in registry: one in-memory tree under HKEY_CLASSES_ROOT with
// case-insensitive key and value names, as on the platform. A key with
// subkeys cannot be deleted, like RegDeleteKey on the platform's NT line.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <strings.h>

#include "stand_in_control.h"
#include "stand_in_internal.h"

namespace velkorix::standin {
namespace {

struct CaseLess {
    bool operator()(const std::string &a, const std::string &b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};

struct Value {
    DWORD type = REG_SZ;
    std::vector<BYTE> data;
};

struct Node {
    std::map<std::string, std::shared_ptr<Node>, CaseLess> children;
    std::map<std::string, Value, CaseLess> values;
    bool deleted = false;
};

struct Injection {
    int skip = -1;  // -1: none
    LSTATUS error = ERROR_SUCCESS;
};

struct Refusal {
    LSTATUS error = ERROR_SUCCESS;
    int left = -1;  // refusals still to come; -1: no end
    int count = 0;  // refusals made
};

struct Registry {
    std::mutex mutex;
    std::shared_ptr<Node> root = std::make_shared<Node>();
    std::map<uintptr_t, std::shared_ptr<Node>> handles;
    uintptr_t nextHandle = 0x1000;
    std::map<RegistryCall, Injection> injections;
    std::set<std::string, CaseLess> protectedKeys;
    std::map<std::string, Refusal, CaseLess> refusedOpens;
};

Registry &State() {
    static Registry registry;
    return registry;
}

// Whether this call of the kind is the one set to fail.
bool Injected(Registry &r, RegistryCall call, LSTATUS *error) {
    auto it = r.injections.find(call);
    if (it == r.injections.end() || it->second.skip < 0) return false;
    if (it->second.skip > 0) {
        --it->second.skip;
        return false;
    }
    *error = it->second.error;
    r.injections.erase(it);
    return true;
}

std::vector<std::string> Split(const char *path) {
    std::vector<std::string> parts;
    std::string current;
    for (const char *p = path ? path : ""; *p; ++p) {
        if (*p == '\\') {
            if (!current.empty()) parts.push_back(current);
            current.clear();
        } else {
            current += *p;
        }
    }
    if (!current.empty()) parts.push_back(current);
    return parts;
}

std::string Join(const std::vector<std::string> &parts) {
    std::string path;
    for (const std::string &part : parts) {
        if (!path.empty()) path += '\\';
        path += part;
    }
    return path;
}

std::shared_ptr<Node> Resolve(Registry &r, HKEY key, LSTATUS *error) {
    if (key == HKEY_CLASSES_ROOT) return r.root;
    auto it = r.handles.find(reinterpret_cast<uintptr_t>(key));
    if (it == r.handles.end()) {
        *error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if (it->second->deleted) {
        *error = 1018;  // ERROR_KEY_DELETED
        return nullptr;
    }
    return it->second;
}

std::shared_ptr<Node> Walk(const std::shared_ptr<Node> &from, const std::vector<std::string> &parts) {
    std::shared_ptr<Node> node = from;
    for (const std::string &part : parts) {
        auto it = node->children.find(part);
        if (it == node->children.end()) return nullptr;
        node = it->second;
    }
    return node;
}

HKEY NewHandle(Registry &r, const std::shared_ptr<Node> &node) {
    const uintptr_t id = r.nextHandle;
    r.nextHandle += 4;
    r.handles[id] = node;
    return reinterpret_cast<HKEY>(id);
}

// The full path of a node below the root, for the protected-key check.
bool FindPath(const std::shared_ptr<Node> &from, const Node *target, std::vector<std::string> &path) {
    for (const auto &[name, child] : from->children) {
        path.push_back(name);
        if (child.get() == target || FindPath(child, target, path)) return true;
        path.pop_back();
    }
    return false;
}

void DeleteSubtree(Node &node) {
    node.deleted = true;
    for (auto &[name, child] : node.children) DeleteSubtree(*child);
}

}  // namespace

void ResetRegistry() {
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    DeleteSubtree(*r.root);
    r.root = std::make_shared<Node>();
    r.handles.clear();
    r.injections.clear();
    r.protectedKeys.clear();
    r.refusedOpens.clear();
}

void FailRegistryCall(RegistryCall call, int skip, LSTATUS error) {
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.injections[call] = Injection{skip < 0 ? 0 : skip, error};
}

void ProtectRegistryKey(const std::string &path) {
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.protectedKeys.insert(Join(Split(path.c_str())));
}

void RefuseRegistryOpen(const std::string &path, LSTATUS error, int limit) {
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.refusedOpens[Join(Split(path.c_str()))] = Refusal{error, limit < 0 ? -1 : limit, 0};
}

int RegistryOpenRefusals(const std::string &path) {
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.refusedOpens.find(Join(Split(path.c_str())));
    return it == r.refusedOpens.end() ? 0 : it->second.count;
}

bool RegistryKeyExists(const std::string &path) {
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    return Walk(r.root, Split(path.c_str())) != nullptr;
}

bool RegistryString(const std::string &path, const std::string &name, std::string *value, DWORD *type) {
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto node = Walk(r.root, Split(path.c_str()));
    if (!node) return false;
    auto it = node->values.find(name);
    if (it == node->values.end()) return false;
    if (type) *type = it->second.type;
    if (value) {
        const auto &data = it->second.data;
        std::string text(data.begin(), data.end());
        // Stored with its terminator, as RegSetValueEx callers pass it.
        if (!text.empty() && text.back() == '\0') text.pop_back();
        *value = text;
    }
    return true;
}

std::vector<std::string> RegistrySubkeys(const std::string &path) {
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::vector<std::string> names;
    if (auto node = Walk(r.root, Split(path.c_str())))
        for (const auto &[name, child] : node->children) names.push_back(name);
    return names;
}

std::vector<std::string> RegistryValueNames(const std::string &path) {
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::vector<std::string> names;
    if (auto node = Walk(r.root, Split(path.c_str())))
        for (const auto &[name, value] : node->values) names.push_back(name);
    return names;
}

int OpenRegistryHandles() {
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    return static_cast<int>(r.handles.size());
}

}  // namespace velkorix::standin

using namespace velkorix::standin;

LSTATUS RegCreateKeyA(HKEY parent, LPCSTR subkey, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    LSTATUS error = ERROR_SUCCESS;
    if (Injected(r, RegistryCall::CreateKey, &error)) return error;
    auto node = Resolve(r, parent, &error);
    if (!node) return error;
    for (const std::string &part : Split(subkey)) {
        auto &child = node->children[part];
        if (!child) child = std::make_shared<Node>();
        node = child;
    }
    *result = NewHandle(r, node);
    return ERROR_SUCCESS;
}

LSTATUS RegOpenKeyExA(HKEY parent, LPCSTR subkey, DWORD, REGSAM, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    LSTATUS error = ERROR_SUCCESS;
    if (Injected(r, RegistryCall::OpenKey, &error)) return error;
    auto node = Resolve(r, parent, &error);
    if (!node) return error;
    node = Walk(node, Split(subkey));
    if (!node) return ERROR_FILE_NOT_FOUND;
    if (!r.refusedOpens.empty()) {
        std::vector<std::string> full;
        if (FindPath(r.root, node.get(), full)) {
            auto refusal = r.refusedOpens.find(Join(full));
            if (refusal != r.refusedOpens.end() && refusal->second.left != 0) {
                if (refusal->second.left > 0) --refusal->second.left;
                ++refusal->second.count;
                return refusal->second.error;
            }
        }
    }
    *result = NewHandle(r, node);
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE *data, DWORD size) {
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    LSTATUS error = ERROR_SUCCESS;
    if (Injected(r, RegistryCall::SetValue, &error)) return error;
    auto node = Resolve(r, key, &error);
    if (!node) return error;
    if (size > 0 && !data) return 998;  // ERROR_NOACCESS
    Value &value = node->values[name ? name : ""];
    value.type = type;
    value.data.assign(data, data + size);
    return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD *nameLength, DWORD *, LPSTR, DWORD *, FILETIME *) {
    if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    LSTATUS error = ERROR_SUCCESS;
    if (Injected(r, RegistryCall::EnumKey, &error)) return error;
    auto node = Resolve(r, key, &error);
    if (!node) return error;
    if (index >= node->children.size()) return ERROR_NO_MORE_ITEMS;
    auto it = node->children.begin();
    std::advance(it, index);
    const std::string &child = it->first;
    if (child.size() + 1 > *nameLength) return ERROR_MORE_DATA;
    std::memcpy(name, child.c_str(), child.size() + 1);
    *nameLength = static_cast<DWORD>(child.size());
    return ERROR_SUCCESS;
}

LSTATUS RegDeleteKeyA(HKEY parent, LPCSTR subkey) {
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    LSTATUS error = ERROR_SUCCESS;
    if (Injected(r, RegistryCall::DeleteKey, &error)) return error;
    auto node = Resolve(r, parent, &error);
    if (!node) return error;
    const std::vector<std::string> parts = Split(subkey);
    if (parts.empty()) return ERROR_INVALID_PARAMETER;
    auto owner = Walk(node, std::vector<std::string>(parts.begin(), parts.end() - 1));
    if (!owner) return ERROR_FILE_NOT_FOUND;
    auto it = owner->children.find(parts.back());
    if (it == owner->children.end()) return ERROR_FILE_NOT_FOUND;
    if (!it->second->children.empty()) return ERROR_ACCESS_DENIED;
    std::vector<std::string> full;
    if (FindPath(r.root, it->second.get(), full) && r.protectedKeys.count(Join(full))) return ERROR_ACCESS_DENIED;
    it->second->deleted = true;
    owner->children.erase(it);
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (key == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
    return r.handles.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, DWORD *, DWORD *type, BYTE *data, DWORD *size) {
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    LSTATUS error = ERROR_SUCCESS;
    if (Injected(r, RegistryCall::QueryValue, &error)) return error;
    auto node = Resolve(r, key, &error);
    if (!node) return error;
    auto it = node->values.find(name ? name : "");
    if (it == node->values.end()) return ERROR_FILE_NOT_FOUND;
    if (type) *type = it->second.type;
    const auto &bytes = it->second.data;
    if (data) {
        if (!size) return ERROR_INVALID_PARAMETER;
        if (bytes.size() > *size) {
            *size = static_cast<DWORD>(bytes.size());
            return ERROR_MORE_DATA;
        }
        if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    }
    if (size) *size = static_cast<DWORD>(bytes.size());
    return ERROR_SUCCESS;
}

LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR name, DWORD *nameLength, DWORD *, DWORD *type, BYTE *data,
                      DWORD *size) {
    if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    LSTATUS error = ERROR_SUCCESS;
    if (Injected(r, RegistryCall::EnumValue, &error)) return error;
    auto node = Resolve(r, key, &error);
    if (!node) return error;
    if (index >= node->values.size()) return ERROR_NO_MORE_ITEMS;
    auto it = node->values.begin();
    std::advance(it, index);
    if (it->first.size() + 1 > *nameLength) return ERROR_MORE_DATA;
    std::memcpy(name, it->first.c_str(), it->first.size() + 1);
    *nameLength = static_cast<DWORD>(it->first.size());
    if (type) *type = it->second.type;
    const auto &bytes = it->second.data;
    if (data) {
        if (!size || bytes.size() > *size) return ERROR_MORE_DATA;
        if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    }
    if (size) *size = static_cast<DWORD>(bytes.size());
    return ERROR_SUCCESS;
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR name) {
    Registry &r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    LSTATUS error = ERROR_SUCCESS;
    if (Injected(r, RegistryCall::DeleteValue, &error)) return error;
    auto node = Resolve(r, key, &error);
    if (!node) return error;
    return node->values.erase(name ? name : "") ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}
