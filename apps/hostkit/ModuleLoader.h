// The effect module, loaded through the dynamic loader as a host loads it:
// dlopen, the two exports, the tag list and its three host choices.
#pragma once

#include "lustrafex/host_sdk.h"

#include <cstdint>
#include <string>

namespace lustra::cli {

class LoadedModule {
  public:
    // Loads the module at `path`. Throws Failure with the loader's message.
    explicit LoadedModule(const std::string &path);
    ~LoadedModule();
    LoadedModule(const LoadedModule &) = delete;
    LoadedModule &operator=(const LoadedModule &) = delete;

    const std::string &path() const { return path_; }

    // GetOperatorInfo: the tag list (also writes the module's default settings).
    const OperatorInfoTag *describe();
    // The value of a tag of the last description, or 0.
    uintptr_t tag(uint32_t tag) const;
    // The version text of tag 0x4F504510.
    std::string versionText() const;
    // The three host choices of the description; null when absent.
    HostChoice *secondLayers() const;
    HostChoice *flickerFilter() const;
    HostChoice *fieldWise() const;

    int32_t action(OperatorContext &context) { return operatorAction_(&context); }

  private:
    std::string path_;
    void *handle_ = nullptr;
    int32_t (*operatorAction_)(OperatorContext *) = nullptr;
    const OperatorInfoTag *(*getOperatorInfo_)() = nullptr;
    const OperatorInfoTag *tags_ = nullptr;
};

} // namespace lustra::cli
