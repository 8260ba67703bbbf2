#include <dlfcn.h>

#include "platform/library.h"

namespace em::platform {

bool Library::Open(const std::string& path) {
    Close();
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char* e = dlerror();
        m_error = e ? e : "cannot load library";
        return false;
    }
    m_error.clear();
    return true;
}

void* Library::Symbol(const char* name) const { return m_handle ? dlsym(m_handle, name) : nullptr; }

void Library::Close() {
    if (m_handle) dlclose(m_handle);
    m_handle = nullptr;
}

}  // namespace em::platform
