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
    handle_ = ownNamespace ? dlmopen(LM_ID_NEWLM, path.c_str(), RTLD_NOW | RTLD_LOCAL)
                           : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char *message = dlerror();
        throw Failure(path + ": cannot load the effect module: " + (message ? message : "unknown"));
    }
    operatorAction_ =
        reinterpret_cast<int32_t (*)(OperatorContext *)>(dlsym(handle_, "OperatorAction"));
    getOperatorInfo_ =
        reinterpret_cast<const OperatorInfoTag *(*)()>(dlsym(handle_, "GetOperatorInfo"));
    if (!operatorAction_ || !getOperatorInfo_) {
        dlclose(handle_);
        handle_ = nullptr;
        throw Failure(path + ": not an effect module (OperatorAction or GetOperatorInfo missing)");
    }
    if (ownNamespace) {
        // The copy of the stand-in library loaded with this module.
        installBackend_ = reinterpret_cast<Installer>(dlsym(handle_, kInstallSymbol));
        if (!installBackend_) {
            dlclose(handle_);
            handle_ = nullptr;
            throw Failure(path + ": the host library it links has no lustraInstallBackend");
        }
    } else {
        installBackend_ = &lustraInstallBackend;
    }
}

LoadedModule::~LoadedModule() {
    if (handle_) dlclose(handle_);
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
