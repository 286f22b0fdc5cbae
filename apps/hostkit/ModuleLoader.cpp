#include "ModuleLoader.h"

#include "Errors.h"

#include <dlfcn.h>

#include <cstring>

namespace lustra::cli {

LoadedModule::LoadedModule(const std::string &path) : path_(path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
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
