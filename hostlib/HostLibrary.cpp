// The stand-in host library: every host service of the SDK, handed to the
// backend that the host application installed.
//
// Services with no backend installed fail as a host failure looks to the
// module (null, -1, non-zero) and say so once on stderr. The character and
// list libraries need no host and are implemented here directly.
#include "lustrafex/host_backend.h"

#include "ResourceFile.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

using lustra::HostBackend;

namespace {

HostBackend *installedBackend = nullptr;
std::atomic<bool> reportedMissingBackend{false};

HostBackend *backendFor(const char *service) {
    if (installedBackend) return installedBackend;
    if (!reportedMissingBackend.exchange(true))
        std::fprintf(stderr,
                     "LustraHost: no host backend installed; %s and every later host call "
                     "fail\n",
                     service);
    return nullptr;
}

} // namespace

// A table of the resource services' default behaviour: the texts or the
// images of one resource file of the data directory.
struct ResTable {
    lustra::resources::Contents contents;
    std::map<int32_t, ResImage> images; // views of contents.images
};

namespace {

std::mutex resourceTablesMutex;
std::set<const ResTable *> resourceTables; // the tables handed out and not freed

// A resource file name: a plain file name of the data directory.
bool plainFileName(const char *name) {
    if (!name || !*name) return false;
    const size_t length = std::strlen(name);
    if (length > 255 || std::strchr(name, '/') || std::strchr(name, '\\')) return false;
    return std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

// Reads VXHOME/name; false when it cannot be read or is too large.
bool readDataFile(const char *name, std::vector<uint8_t> &bytes) {
    const char *home = std::getenv("VXHOME");
    if (!home || !plainFileName(name)) return false;
    const std::string path = std::string(home) + "/" + name;
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size < 0 || size_t(size) > lustra::resources::kMaxFileSize ||
        std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return false;
    }
    bytes.assign(size_t(size), 0);
    const size_t read = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return read == bytes.size();
}

ResTable *loadResourceTable(const char *name, bool images) {
    std::vector<uint8_t> bytes;
    if (!readDataFile(name, bytes)) return nullptr;
    auto *table = new ResTable;
    if (!lustra::resources::parse(bytes, table->contents)) {
        delete table;
        return nullptr;
    }
    if (images) {
        table->contents.texts.clear();
        for (const auto &[id, image] : table->contents.images)
            table->images[id] = ResImage{image.width, image.height, image.pixels.data()};
    } else {
        table->contents.images.clear();
    }
    std::lock_guard<std::mutex> lock(resourceTablesMutex);
    resourceTables.insert(table);
    return table;
}

// The table if the default services handed it out and it is still live.
const ResTable *liveResourceTable(const ResTable *table) {
    std::lock_guard<std::mutex> lock(resourceTablesMutex);
    return resourceTables.count(table) ? table : nullptr;
}

void freeResourceTable(ResTable *table) {
    {
        std::lock_guard<std::mutex> lock(resourceTablesMutex);
        if (!resourceTables.erase(table)) return;
    }
    delete table;
}

} // namespace

namespace lustra {

HostBackend *lustraInstallBackend(HostBackend *backend) {
    HostBackend *previous = installedBackend;
    installedBackend = backend;
    return previous;
}

HostBackend *lustraCurrentBackend() {
    return installedBackend;
}

HostBackend::~HostBackend() = default;

// Default behaviour of a backend: every service fails like an absent host,
// except the resource services, which read resource files of the data
// directory VXHOME (format in ResourceFile.h).
OpImage *HostBackend::getField(int32_t /*input*/, int32_t /*fieldNumber*/) {
    return nullptr;
}
OpImage *HostBackend::allocImage(int32_t /*width*/, int32_t /*height*/, int32_t /*depth*/,
                                 int32_t /*flags*/) {
    return nullptr;
}
int32_t HostBackend::putField(OpImage * /*image*/) {
    return -1;
}
void HostBackend::freeImage(OpImage * /*image*/) {}
int32_t HostBackend::checkAbort() {
    return 0;
}
const char *HostBackend::customPrefsName(uint32_t /*node*/, const char * /*prefix*/, int32_t /*a*/,
                                         int32_t /*b*/) {
    return nullptr;
}
OpImage *HostBackend::sourceImage(const void * /*descriptor*/, int32_t /*a*/, int32_t /*b*/) {
    return nullptr;
}
void HostBackend::logMessage(int32_t /*severity*/, int32_t /*line*/, const char * /*source*/,
                             uint32_t /*code*/, const char * /*text*/) {}
DgId HostBackend::createPanel(DgId /*parent*/, int32_t /*x*/, int32_t /*y*/, int32_t /*width*/,
                              int32_t /*height*/, uint32_t /*flags*/, uint32_t /*flags2*/,
                              int32_t /*zero*/) {
    return 0;
}
void HostBackend::removePanel(DgId /*panel*/) {}
DgId HostBackend::addSlider(DgId /*panel*/, int32_t /*x*/, int32_t /*y*/, int32_t /*width*/,
                            int32_t /*height*/, int32_t /*minimum*/, int32_t /*maximum*/,
                            int32_t /*value*/, const XChar * /*label*/, const XChar * /*valueText*/,
                            uint32_t /*style*/, DgGadgetExt * /*extension*/) {
    return 0;
}
DgId HostBackend::addCheckBox(DgId /*panel*/, int32_t /*x*/, int32_t /*y*/, int32_t /*width*/,
                              int32_t /*height*/, int32_t /*value*/, uint32_t /*state*/,
                              DgGadgetExt * /*extension*/) {
    return 0;
}
DgId HostBackend::addPopup(DgId /*panel*/, int32_t /*x*/, int32_t /*y*/, int32_t /*width*/,
                           int32_t /*height*/, void * /*itemList*/, int32_t /*value*/,
                           const XChar * /*label*/, uint32_t /*state*/, int32_t /*zero*/) {
    return 0;
}
DgId HostBackend::addTextButton(DgId /*panel*/, int32_t /*x*/, int32_t /*y*/, int32_t /*width*/,
                                int32_t /*height*/, const XChar * /*text*/, uint32_t /*state*/,
                                int32_t /*zero*/) {
    return 0;
}
DgId HostBackend::addImageButton(DgId /*panel*/, int32_t /*x*/, int32_t /*y*/, int32_t /*width*/,
                                 int32_t /*height*/, const void * /*image*/, uint32_t /*state*/,
                                 const DgGadgetExt * /*extension*/) {
    return 0;
}
DgId HostBackend::addTextGadget(DgId /*panel*/, int32_t /*x*/, int32_t /*y*/, int32_t /*width*/,
                                int32_t /*height*/, const XChar * /*text*/, int32_t /*one*/,
                                DgGadgetExt * /*extension*/) {
    return 0;
}
DgId HostBackend::addPaletteButton(DgId /*panel*/, int32_t /*x*/, int32_t /*y*/, int32_t /*width*/,
                                   int32_t /*height*/, const XChar * /*label*/, uint32_t /*colour*/,
                                   uint32_t /*state*/, int32_t /*zero*/) {
    return 0;
}
DgId HostBackend::boxText(DgId /*panel*/, const XChar * /*text*/, int32_t /*x*/, int32_t /*y*/,
                          int32_t /*width*/, int32_t /*height*/, int32_t /*style*/) {
    return 0;
}
DgGadgetExt *HostBackend::allocGadgetExt() {
    return nullptr;
}
void HostBackend::freeGadgetExt(DgGadgetExt * /*extension*/) {}
int32_t HostBackend::formatFramesAsTime(int32_t /*value*/, XChar * /*text*/, int32_t /*capacity*/) {
    return -1;
}
int32_t HostBackend::changeElement(DgId /*panel*/, DgId /*gadget*/, int32_t /*attribute*/,
                                   intptr_t /*value*/, int32_t /*last*/) {
    return -1;
}
void HostBackend::enableElement(DgId /*panel*/, DgId /*gadget*/) {}
void HostBackend::disableElement(DgId /*panel*/, DgId /*gadget*/) {}
void HostBackend::activateElement(DgId /*panel*/, DgId /*gadget*/) {}
void HostBackend::setColorYUV(uint32_t /*colour*/) {}
uint32_t HostBackend::newGuiColorYUV(int32_t /*which*/) {
    return 0;
}
uint32_t HostBackend::guiColorYUV(int32_t /*which*/) {
    return 0;
}
ResTable *HostBackend::guiResource(int32_t /*which*/) {
    return nullptr;
}
int32_t HostBackend::screenWidth() {
    return 0;
}
int32_t HostBackend::screenHeight() {
    return 0;
}
int32_t HostBackend::screenWidthMonitor(int32_t /*monitor*/) {
    return 0;
}
int32_t HostBackend::screenHeightMonitor(int32_t /*monitor*/) {
    return 0;
}
void HostBackend::visibleArea(int32_t * /*left*/, int32_t * /*top*/, int32_t * /*right*/,
                              int32_t * /*bottom*/) {}
void HostBackend::visibleAreaMonitor(int32_t * /*left*/, int32_t * /*top*/, int32_t * /*right*/,
                                     int32_t * /*bottom*/, int32_t /*monitor*/) {}
int32_t HostBackend::defaultMonitor() {
    return 1;
}
int32_t HostBackend::connectedMonitors() {
    return 1;
}
int32_t HostBackend::fontHeightMonitor(int32_t /*monitor*/) {
    return 0;
}
int32_t HostBackend::addHeight() {
    return 0;
}
int32_t HostBackend::guiMode() {
    return 0;
}
int32_t HostBackend::videoMode() {
    return 0;
}
int32_t HostBackend::receiveMessage(MsgQueue * /*queue*/, GuiMessage * /*message*/,
                                    int32_t /*timeout*/) {
    return -1;
}
void HostBackend::busyPointer() {}
void HostBackend::standardPointer() {}
void HostBackend::movePointer(int32_t /*x*/, int32_t /*y*/) {}
void HostBackend::setPointerAttrs(int32_t /*a*/, int32_t /*b*/, int32_t /*c*/, int32_t /*d*/) {}
void HostBackend::colorBarOn() {}
void HostBackend::colorBarOff() {}
void HostBackend::drawOverlay(const uint32_t * /*pixels*/, int32_t /*zero*/,
                              int32_t /*strideBytes*/, int32_t /*x*/, int32_t /*y*/,
                              int32_t /*width*/, int32_t /*height*/) {}
void HostBackend::drawOverlayMonitor(const uint32_t * /*pixels*/, int32_t /*zero*/,
                                     int32_t /*strideBytes*/, int32_t /*x*/, int32_t /*y*/,
                                     int32_t /*width*/, int32_t /*height*/, int32_t /*monitor*/) {}
int32_t HostBackend::createRequest(DreqRequest * /*request*/) {
    return -1;
}
int32_t HostBackend::deleteRequest(DreqRequest * /*request*/) {
    return -1;
}
int32_t HostBackend::textRequest(DreqTextRequest * /*request*/) {
    return -1;
}
int32_t HostBackend::paletteRequest(DreqPaletteRequest * /*request*/) {
    return -1;
}
int32_t HostBackend::fileRequest(DreqFileRequest * /*request*/) {
    return -1;
}
int32_t HostBackend::archivesRequest(DreqArchivesRequest * /*request*/) {
    return -1;
}
ResTable *HostBackend::loadStrings(const char *name) {
    return loadResourceTable(name, false);
}
ResTable *HostBackend::loadImages(const char *name) {
    return loadResourceTable(name, true);
}
const XChar *HostBackend::string(ResTable *table, int32_t id) {
    const ResTable *live = liveResourceTable(table);
    if (!live) return nullptr;
    auto found = live->contents.texts.find(id);
    return found == live->contents.texts.end() ? nullptr : found->second.data();
}
const void *HostBackend::image(ResTable *table, int32_t id) {
    const ResTable *live = liveResourceTable(table);
    if (!live) return nullptr;
    auto found = live->images.find(id);
    return found == live->images.end() ? nullptr : &found->second;
}
void HostBackend::freeStrings(ResTable *table) {
    freeResourceTable(table);
}
void HostBackend::freeImages(ResTable *table) {
    freeResourceTable(table);
}
MsgQueue *HostBackend::createQueue(int32_t /*count*/, int32_t /*size*/, int32_t /*flags*/) {
    return nullptr;
}
TxRequest *HostBackend::allocTransfer(int32_t /*flags*/) {
    return nullptr;
}
void HostBackend::setTransferPrefs(TxRequest * /*request*/, const void * /*descriptor*/) {}
void HostBackend::setTransferTypes(TxRequest * /*request*/, int32_t /*types*/) {}
int32_t HostBackend::runTransfer(TxRequest * /*request*/, int32_t /*flags*/) {
    return -1;
}
int32_t HostBackend::transferStatus(TxRequest * /*request*/) {
    return 0;
}
void HostBackend::getTransferPrefs(TxRequest * /*request*/, void * /*descriptor*/,
                                   int32_t /*size*/) {}
void HostBackend::freeTransfer(TxRequest * /*request*/) {}
uint16_t HostBackend::pixelAspect(int32_t /*a*/, int32_t /*monitor*/) {
    return 1000;
}

} // namespace lustra

extern "C" {

OpImage *opGetField(int32_t input, int32_t fieldNumber) {
    HostBackend *backend = backendFor("opGetField");
    return backend ? backend->getField(input, fieldNumber) : nullptr;
}

OpImage *opAllocImage(int32_t width, int32_t height, int32_t depth, int32_t flags) {
    HostBackend *backend = backendFor("opAllocImage");
    return backend ? backend->allocImage(width, height, depth, flags) : nullptr;
}

int32_t opPutField(OpImage *image) {
    HostBackend *backend = backendFor("opPutField");
    return backend ? backend->putField(image) : -1;
}

void opFreeImage(OpImage *image) {
    if (HostBackend *backend = backendFor("opFreeImage")) backend->freeImage(image);
}

int32_t opChkAbort(void) {
    HostBackend *backend = backendFor("opChkAbort");
    return backend ? backend->checkAbort() : 0;
}

const char *opGetCustomPrefsName(uint32_t node, const char *prefix, int32_t a, int32_t b) {
    HostBackend *backend = backendFor("opGetCustomPrefsName");
    return backend ? backend->customPrefsName(node, prefix, a, b) : nullptr;
}

OpImage *txGetOpImage(const void *descriptor, int32_t a, int32_t b) {
    HostBackend *backend = backendFor("txGetOpImage");
    return backend ? backend->sourceImage(descriptor, a, b) : nullptr;
}

void loggerMessage(int32_t severity, int32_t line, const char *source, uint32_t code,
                   const char *text) {
    if (HostBackend *backend = backendFor("loggerMessage"))
        backend->logMessage(severity, line, source, code, text);
}

DgId dgCreatePanel(DgId parent, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags,
                   uint32_t flags2, int32_t zero) {
    HostBackend *backend = backendFor("dgCreatePanel");
    return backend ? backend->createPanel(parent, x, y, width, height, flags, flags2, zero) : 0;
}

void dgRemovePanel(DgId panel) {
    if (HostBackend *backend = backendFor("dgRemovePanel")) backend->removePanel(panel);
}

DgId dgAddSlider(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height, int32_t minimum,
                 int32_t maximum, int32_t value, const XChar *label, const XChar *valueText,
                 uint32_t style, DgGadgetExt *extension) {
    HostBackend *backend = backendFor("dgAddSlider");
    return backend ? backend->addSlider(panel, x, y, width, height, minimum, maximum, value, label,
                                        valueText, style, extension)
                   : 0;
}

DgId dgAddCheckBox(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height, int32_t value,
                   uint32_t state, DgGadgetExt *extension) {
    HostBackend *backend = backendFor("dgAddCheckBox");
    return backend ? backend->addCheckBox(panel, x, y, width, height, value, state, extension) : 0;
}

DgId dgAddPopup(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height, void *itemList,
                int32_t value, const XChar *label, uint32_t state, int32_t zero) {
    HostBackend *backend = backendFor("dgAddPopup");
    return backend
               ? backend->addPopup(panel, x, y, width, height, itemList, value, label, state, zero)
               : 0;
}

DgId dgAddTextButton(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                     const XChar *text, uint32_t state, int32_t zero) {
    HostBackend *backend = backendFor("dgAddTextButton");
    return backend ? backend->addTextButton(panel, x, y, width, height, text, state, zero) : 0;
}

DgId dgAddImageButton(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                      const void *image, uint32_t state, const DgGadgetExt *extension) {
    HostBackend *backend = backendFor("dgAddImageButton");
    return backend ? backend->addImageButton(panel, x, y, width, height, image, state, extension)
                   : 0;
}

DgId dgAddTextGadget(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                     const XChar *text, int32_t one, DgGadgetExt *extension) {
    HostBackend *backend = backendFor("dgAddTextGadget");
    return backend ? backend->addTextGadget(panel, x, y, width, height, text, one, extension) : 0;
}

DgId dgAddPaletteButton(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                        const XChar *label, uint32_t colour, uint32_t state, int32_t zero) {
    HostBackend *backend = backendFor("dgAddPaletteButton");
    return backend
               ? backend->addPaletteButton(panel, x, y, width, height, label, colour, state, zero)
               : 0;
}

DgId dgBoxText(DgId panel, const XChar *text, int32_t x, int32_t y, int32_t width, int32_t height,
               int32_t style) {
    HostBackend *backend = backendFor("dgBoxText");
    return backend ? backend->boxText(panel, text, x, y, width, height, style) : 0;
}

DgGadgetExt *dgAllocGadExt(void) {
    HostBackend *backend = backendFor("dgAllocGadExt");
    return backend ? backend->allocGadgetExt() : nullptr;
}

void dgFreeGadExt(DgGadgetExt *extension) {
    if (HostBackend *backend = backendFor("dgFreeGadExt")) backend->freeGadgetExt(extension);
}

int32_t dgSliderCallbackFramesTime(int32_t value, XChar *text, int32_t capacity) {
    HostBackend *backend = backendFor("dgSliderCallbackFramesTime");
    return backend ? backend->formatFramesAsTime(value, text, capacity) : -1;
}

int32_t dgChangeElement(DgId panel, DgId gadget, int32_t attribute, intptr_t value, int32_t last) {
    HostBackend *backend = backendFor("dgChangeElement");
    return backend ? backend->changeElement(panel, gadget, attribute, value, last) : -1;
}

void dgEnableElement(DgId panel, DgId gadget) {
    if (HostBackend *backend = backendFor("dgEnableElement")) backend->enableElement(panel, gadget);
}

void dgDisableElement(DgId panel, DgId gadget) {
    if (HostBackend *backend = backendFor("dgDisableElement"))
        backend->disableElement(panel, gadget);
}

void dgActivateElement(DgId panel, DgId gadget) {
    if (HostBackend *backend = backendFor("dgActivateElement"))
        backend->activateElement(panel, gadget);
}

void dgSetColorYUV(uint32_t colour) {
    if (HostBackend *backend = backendFor("dgSetColorYUV")) backend->setColorYUV(colour);
}

uint32_t dgGetNewGuiColorYUV(int32_t which) {
    HostBackend *backend = backendFor("dgGetNewGuiColorYUV");
    return backend ? backend->newGuiColorYUV(which) : 0;
}

uint32_t dgGetGuiColorYUV(int32_t which) {
    HostBackend *backend = backendFor("dgGetGuiColorYUV");
    return backend ? backend->guiColorYUV(which) : 0;
}

ResTable *dgGetGuiResource(int32_t which) {
    HostBackend *backend = backendFor("dgGetGuiResource");
    return backend ? backend->guiResource(which) : nullptr;
}

int32_t dgGetScreenWidth(void) {
    HostBackend *backend = backendFor("dgGetScreenWidth");
    return backend ? backend->screenWidth() : 0;
}

int32_t dgGetScreenHeight(void) {
    HostBackend *backend = backendFor("dgGetScreenHeight");
    return backend ? backend->screenHeight() : 0;
}

int32_t dgGetScreenWidthMonitor(int32_t monitor) {
    HostBackend *backend = backendFor("dgGetScreenWidthMonitor");
    return backend ? backend->screenWidthMonitor(monitor) : 0;
}

int32_t dgGetScreenHeightMonitor(int32_t monitor) {
    HostBackend *backend = backendFor("dgGetScreenHeightMonitor");
    return backend ? backend->screenHeightMonitor(monitor) : 0;
}

void dgGetVisibleArea(int32_t *left, int32_t *top, int32_t *right, int32_t *bottom) {
    if (HostBackend *backend = backendFor("dgGetVisibleArea"))
        backend->visibleArea(left, top, right, bottom);
}

void dgGetVisibleAreaMonitor(int32_t *left, int32_t *top, int32_t *right, int32_t *bottom,
                             int32_t monitor) {
    if (HostBackend *backend = backendFor("dgGetVisibleAreaMonitor"))
        backend->visibleAreaMonitor(left, top, right, bottom, monitor);
}

int32_t dgGetDefaultMonitor(void) {
    HostBackend *backend = backendFor("dgGetDefaultMonitor");
    return backend ? backend->defaultMonitor() : 1;
}

int32_t dgGetConnectedMonitors(void) {
    HostBackend *backend = backendFor("dgGetConnectedMonitors");
    return backend ? backend->connectedMonitors() : 1;
}

int32_t dgGetFontHeightMonitor(int32_t monitor) {
    HostBackend *backend = backendFor("dgGetFontHeightMonitor");
    return backend ? backend->fontHeightMonitor(monitor) : 0;
}

int32_t dgGetAddHeight(void) {
    HostBackend *backend = backendFor("dgGetAddHeight");
    return backend ? backend->addHeight() : 0;
}

int32_t dgGetGuiMode(void) {
    HostBackend *backend = backendFor("dgGetGuiMode");
    return backend ? backend->guiMode() : 0;
}

int32_t dgGetVideoMode(void) {
    HostBackend *backend = backendFor("dgGetVideoMode");
    return backend ? backend->videoMode() : 0;
}

int32_t dgMsgQReceive(MsgQueue *queue, GuiMessage *message, int32_t timeout) {
    HostBackend *backend = backendFor("dgMsgQReceive");
    return backend ? backend->receiveMessage(queue, message, timeout) : -1;
}

void dgBusyPointer(void) {
    if (HostBackend *backend = backendFor("dgBusyPointer")) backend->busyPointer();
}

void dgStandardPointer(void) {
    if (HostBackend *backend = backendFor("dgStandardPointer")) backend->standardPointer();
}

void dgMovePointer(int32_t x, int32_t y) {
    if (HostBackend *backend = backendFor("dgMovePointer")) backend->movePointer(x, y);
}

void dgSetPointerAttrs(int32_t a, int32_t b, int32_t c, int32_t d) {
    if (HostBackend *backend = backendFor("dgSetPointerAttrs"))
        backend->setPointerAttrs(a, b, c, d);
}

void dgColorBarOn(void) {
    if (HostBackend *backend = backendFor("dgColorBarOn")) backend->colorBarOn();
}

void dgColorBarOff(void) {
    if (HostBackend *backend = backendFor("dgColorBarOff")) backend->colorBarOff();
}

void dgmxYUVAtoOvl(const uint32_t *pixels, int32_t zero, int32_t strideBytes, int32_t x, int32_t y,
                   int32_t width, int32_t height) {
    if (HostBackend *backend = backendFor("dgmxYUVAtoOvl"))
        backend->drawOverlay(pixels, zero, strideBytes, x, y, width, height);
}

void dgmxYUVAtoOvlMonitor(const uint32_t *pixels, int32_t zero, int32_t strideBytes, int32_t x,
                          int32_t y, int32_t width, int32_t height, int32_t monitor) {
    if (HostBackend *backend = backendFor("dgmxYUVAtoOvlMonitor"))
        backend->drawOverlayMonitor(pixels, zero, strideBytes, x, y, width, height, monitor);
}

int32_t dreqCreateRequest(DreqRequest *request) {
    HostBackend *backend = backendFor("dreqCreateRequest");
    return backend ? backend->createRequest(request) : -1;
}

int32_t dreqDeleteRequest(DreqRequest *request) {
    HostBackend *backend = backendFor("dreqDeleteRequest");
    return backend ? backend->deleteRequest(request) : -1;
}

int32_t dreqTextRequest(DreqTextRequest *request) {
    HostBackend *backend = backendFor("dreqTextRequest");
    return backend ? backend->textRequest(request) : -1;
}

int32_t dreqPaletteRequest(DreqPaletteRequest *request) {
    HostBackend *backend = backendFor("dreqPaletteRequest");
    return backend ? backend->paletteRequest(request) : -1;
}

int32_t dreqFileRequest(DreqFileRequest *request) {
    HostBackend *backend = backendFor("dreqFileRequest");
    return backend ? backend->fileRequest(request) : -1;
}

int32_t dreqArchivesRequest(DreqArchivesRequest *request) {
    HostBackend *backend = backendFor("dreqArchivesRequest");
    return backend ? backend->archivesRequest(request) : -1;
}

ResTable *resLoadStrings(const char *name) {
    HostBackend *backend = backendFor("resLoadStrings");
    return backend ? backend->loadStrings(name) : nullptr;
}

ResTable *resLoadImages(const char *name) {
    HostBackend *backend = backendFor("resLoadImages");
    return backend ? backend->loadImages(name) : nullptr;
}

const XChar *resGetString(ResTable *table, int32_t id) {
    HostBackend *backend = backendFor("resGetString");
    return backend ? backend->string(table, id) : nullptr;
}

const void *resGetImage(ResTable *table, int32_t id) {
    HostBackend *backend = backendFor("resGetImage");
    return backend ? backend->image(table, id) : nullptr;
}

void resFreeStrings(ResTable *table) {
    if (HostBackend *backend = backendFor("resFreeStrings")) backend->freeStrings(table);
}

void resFreeImages(ResTable *table) {
    if (HostBackend *backend = backendFor("resFreeImages")) backend->freeImages(table);
}

MsgQueue *msgQCreate(int32_t count, int32_t size, int32_t flags) {
    HostBackend *backend = backendFor("msgQCreate");
    return backend ? backend->createQueue(count, size, flags) : nullptr;
}

TxRequest *txAllocRequest(int32_t flags) {
    HostBackend *backend = backendFor("txAllocRequest");
    return backend ? backend->allocTransfer(flags) : nullptr;
}

void txSetPrefs(TxRequest *request, const void *descriptor) {
    if (HostBackend *backend = backendFor("txSetPrefs"))
        backend->setTransferPrefs(request, descriptor);
}

void txSetTypes(TxRequest *request, int32_t types) {
    if (HostBackend *backend = backendFor("txSetTypes")) backend->setTransferTypes(request, types);
}

int32_t txRequest(TxRequest *request, int32_t flags) {
    HostBackend *backend = backendFor("txRequest");
    return backend ? backend->runTransfer(request, flags) : -1;
}

int32_t txGetStatus(TxRequest *request) {
    HostBackend *backend = backendFor("txGetStatus");
    return backend ? backend->transferStatus(request) : 0;
}

void txGetPrefs(TxRequest *request, void *descriptor, int32_t size) {
    if (HostBackend *backend = backendFor("txGetPrefs"))
        backend->getTransferPrefs(request, descriptor, size);
}

void txFreeRequest(TxRequest *request) {
    if (HostBackend *backend = backendFor("txFreeRequest")) backend->freeTransfer(request);
}

uint16_t dmGetPixelAspect(int32_t a, int32_t monitor) {
    HostBackend *backend = backendFor("dmGetPixelAspect");
    return backend ? backend->pixelAspect(a, monitor) : 1000;
}

// List library. A list header is 16 bytes: first node, last node. A node
// starts with the pointer to the next node; the rest is the caller's.
void lstInitList(void *list) {
    if (!list) return;
    std::memset(list, 0, 2 * sizeof(void *));
}

void lstAppendNode(void *list, void *node) {
    if (!list || !node) return;
    void **header = static_cast<void **>(list);
    *static_cast<void **>(node) = nullptr;
    if (header[1])
        *static_cast<void **>(header[1]) = node;
    else
        header[0] = node;
    header[1] = node;
}

// Character library: 16-bit texts. The format of sxprintf is 8-bit.
int32_t sxprintf(XChar *buffer, int32_t capacity, const char *format, ...) {
    if (!buffer || capacity <= 0 || !format) return -1;
    char narrow[512];
    va_list args;
    va_start(args, format);
    int written = std::vsnprintf(narrow, sizeof narrow, format, args);
    va_end(args);
    if (written < 0) {
        buffer[0] = 0;
        return -1;
    }
    int32_t count = 0;
    for (; narrow[count] != 0 && count < capacity - 1; ++count)
        buffer[count] = static_cast<unsigned char>(narrow[count]);
    buffer[count] = 0;
    return count;
}

XChar *xcscpy(XChar *destination, const XChar *source) {
    if (!destination || !source) return destination;
    XChar *out = destination;
    while ((*out++ = *source++) != 0) {
    }
    return destination;
}

} // extern "C"
