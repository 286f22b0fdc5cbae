#include "ModuleLoader.h"

#include "Errors.h"

#include <dlfcn.h>

#include <cstring>

namespace lustra::cli {

namespace {

// lustraInstallBackend's name in the stand-in library's symbol table.
constexpr const char *kInstallSymbol = "_ZN6lustra20lustraInstallBackendEPNS_11HostBackendE";

} // namespace

bool namespacesSupported() {
#if defined(__SANITIZE_ADDRESS__)
    return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return false;
#else
    return true;
#endif
#else
    return true;
#endif
}

LoadedModule::LoadedModule(const std::string &path, bool ownNamespace) : path_(path) {
    if (ownNamespace) {
        // The new namespace first gets the stand-in library this program
        // runs with, so that the module finds the same one there whatever
        // its own search path says.
        Dl_info library{};
        if (dladdr(reinterpret_cast<void *>(&lustraInstallBackend), &library) && library.dli_fname)
            hostHandle_ = dlmopen(LM_ID_NEWLM, library.dli_fname, RTLD_NOW | RTLD_LOCAL);
        Lmid_t space = LM_ID_NEWLM;
        if (hostHandle_ && dlinfo(hostHandle_, RTLD_DI_LMID, &space) != 0) space = LM_ID_NEWLM;
        handle_ = dlmopen(space, path.c_str(), RTLD_NOW | RTLD_LOCAL);
    } else {
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!handle_) {
        const char *message = dlerror();
        if (hostHandle_) dlclose(hostHandle_);
        throw Failure(path + ": cannot load the effect module: " + (message ? message : "unknown"));
    }
    operatorAction_ =
        reinterpret_cast<int32_t (*)(OperatorContext *)>(dlsym(handle_, "OperatorAction"));
    getOperatorInfo_ =
        reinterpret_cast<const OperatorInfoTag *(*)()>(dlsym(handle_, "GetOperatorInfo"));
    if (!operatorAction_ || !getOperatorInfo_) {
        dlclose(handle_);
        handle_ = nullptr;
        if (hostHandle_) dlclose(hostHandle_);
        throw Failure(path + ": not an effect module (OperatorAction or GetOperatorInfo missing)");
    }
    if (ownNamespace) {
        // The copy of the stand-in library loaded with this module.
        installBackend_ = reinterpret_cast<Installer>(dlsym(handle_, kInstallSymbol));
        if (!installBackend_) {
            dlclose(handle_);
            if (hostHandle_) dlclose(hostHandle_);
            handle_ = nullptr;
            throw Failure(path + ": the host library it links has no lustraInstallBackend");
        }
    } else {
        installBackend_ = &lustraInstallBackend;
    }
}

LoadedModule::~LoadedModule() {
    if (handle_) dlclose(handle_);
    if (hostHandle_) dlclose(hostHandle_);
}

const OperatorInfoTag *LoadedModule::describe() {
    tags_ = getOperatorInfo_();
    return tags_;
}

uintptr_t LoadedModule::tag(uint32_t wanted) const {
    if (!tags_) return 0;
    for (const OperatorInfoTag *entry = tags_; entry->tag != 0; ++entry)
        if (entry->tag == wanted) return entry->value;
    return 0;
}

std::string LoadedModule::versionText() const {
    const char *text = reinterpret_cast<const char *>(tag(LFX_TAG(0x10)));
    return text ? std::string(text, strnlen(text, 512)) : std::string();
}

HostChoice *LoadedModule::secondLayers() const {
    return reinterpret_cast<HostChoice *>(tag(LFX_TAG(5)));
}
HostChoice *LoadedModule::flickerFilter() const {
    return reinterpret_cast<HostChoice *>(tag(LFX_TAG(6)));
}
HostChoice *LoadedModule::fieldWise() const {
    return reinterpret_cast<HostChoice *>(tag(LFX_TAG(7)));
}

} // namespace lustra::cli
