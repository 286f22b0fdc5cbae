// The effect module, loaded through the dynamic loader as a host loads it:
// dlopen, the two exports, the tag list and its three host choices.
//
// The module keeps module-wide state and serves one effect instance per
// load. A render with several workers therefore loads one copy per worker,
// each into a link-map namespace of its own (dlmopen), where the module gets
// its own copy of the stand-in host library (and of the C and C++ runtimes)
// and so its own installed backend.
#pragma once

#include "lustrafex/host_backend.h"

#include <cstdint>
#include <string>

namespace lustra::cli {

class LoadedModule {
  public:
    // Loads the module at `path`: into the program's own namespace, or with
    // `ownNamespace` into a new one. Throws Failure with the loader's message.
    explicit LoadedModule(const std::string &path, bool ownNamespace = false);
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

    // Installs `backend` in the stand-in host library that this copy of the
    // module calls (its namespace's copy); returns the previous backend.
    HostBackend *installBackend(HostBackend *backend) { return installBackend_(backend); }
    // The installer itself, for a host that installs and removes on its own.
    using Installer = HostBackend *(*)(HostBackend *);
    Installer installer() const { return installBackend_; }

  private:
    std::string path_;
    void *handle_ = nullptr;
    void *hostHandle_ = nullptr; // the stand-in library in the module's own namespace
    int32_t (*operatorAction_)(OperatorContext *) = nullptr;
    const OperatorInfoTag *(*getOperatorInfo_)() = nullptr;
    const OperatorInfoTag *tags_ = nullptr;
    Installer installBackend_ = nullptr;
};

// Whether this build can load the module into namespaces of its own: not
// under AddressSanitizer, whose runtime serves only the first namespace.
bool namespacesSupported();

} // namespace lustra::cli
