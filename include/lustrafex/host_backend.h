// LustraFex stand-in host library: the backend interface.
//
// The stand-in library (libLustraHost) implements every host service of
// host_sdk.h by calling the backend that the host application installed with
// lustraInstallBackend. A host derives from HostBackend and overrides what it
// serves; every method it leaves alone fails the way a host failure looks to
// the module (null, -1 or non-zero). With no backend installed at all, each
// service fails the same way and says so once on stderr.
#ifndef LUSTRAFEX_HOST_BACKEND_H
#define LUSTRAFEX_HOST_BACKEND_H

#include "lustrafex/host_sdk.h"

#include <cstdarg>

namespace lustra {

class LFX_API HostBackend {
  public:
    virtual ~HostBackend();

    // Operator, transfer and logger services.
    virtual OpImage *getField(int32_t input, int32_t fieldNumber);
    virtual OpImage *allocImage(int32_t width, int32_t height, int32_t depth, int32_t flags);
    virtual int32_t putField(OpImage *image);
    virtual void freeImage(OpImage *image);
    virtual int32_t checkAbort();
    virtual const char *customPrefsName(uint32_t node, const char *prefix, int32_t a, int32_t b);
    virtual OpImage *sourceImage(const void *descriptor, int32_t a, int32_t b);
    virtual void logMessage(int32_t severity, int32_t line, const char *source, uint32_t code,
                            const char *text);

    // GUI: panels and gadgets.
    virtual DgId createPanel(DgId parent, int32_t x, int32_t y, int32_t width, int32_t height,
                             uint32_t flags, uint32_t flags2, int32_t zero);
    virtual void removePanel(DgId panel);
    virtual DgId addSlider(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                           int32_t minimum, int32_t maximum, int32_t value, const XChar *label,
                           const XChar *valueText, uint32_t style, DgGadgetExt *extension);
    virtual DgId addCheckBox(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                             int32_t value, uint32_t state, DgGadgetExt *extension);
    virtual DgId addPopup(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                          void *itemList, int32_t value, const XChar *label, uint32_t state,
                          int32_t zero);
    virtual DgId addTextButton(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                               const XChar *text, uint32_t state, int32_t zero);
    virtual DgId addImageButton(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                                const void *image, uint32_t state, const DgGadgetExt *extension);
    virtual DgId addTextGadget(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                               const XChar *text, int32_t one, DgGadgetExt *extension);
    virtual DgId addPaletteButton(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                                  const XChar *label, uint32_t colour, uint32_t state,
                                  int32_t zero);
    virtual DgId boxText(DgId panel, const XChar *text, int32_t x, int32_t y, int32_t width,
                         int32_t height, int32_t style);
    virtual DgGadgetExt *allocGadgetExt();
    virtual void freeGadgetExt(DgGadgetExt *extension);
    virtual int32_t formatFramesAsTime(int32_t value, XChar *text, int32_t capacity);

    // GUI: attributes and colours.
    virtual int32_t changeElement(DgId panel, DgId gadget, int32_t attribute, intptr_t value,
                                  int32_t last);
    virtual void enableElement(DgId panel, DgId gadget);
    virtual void disableElement(DgId panel, DgId gadget);
    virtual void activateElement(DgId panel, DgId gadget);
    virtual void setColorYUV(uint32_t colour);
    virtual uint32_t newGuiColorYUV(int32_t which);
    virtual uint32_t guiColorYUV(int32_t which);
    virtual ResTable *guiResource(int32_t which);

    // GUI: screens, monitors, fonts.
    virtual int32_t screenWidth();
    virtual int32_t screenHeight();
    virtual int32_t screenWidthMonitor(int32_t monitor);
    virtual int32_t screenHeightMonitor(int32_t monitor);
    virtual void visibleArea(int32_t *left, int32_t *top, int32_t *right, int32_t *bottom);
    virtual void visibleAreaMonitor(int32_t *left, int32_t *top, int32_t *right, int32_t *bottom,
                                    int32_t monitor);
    virtual int32_t defaultMonitor();
    virtual int32_t connectedMonitors();
    virtual int32_t fontHeightMonitor(int32_t monitor);
    virtual int32_t addHeight();
    virtual int32_t guiMode();
    virtual int32_t videoMode();

    // GUI: messages, pointer, colour bar, overlay.
    virtual int32_t receiveMessage(MsgQueue *queue, GuiMessage *message, int32_t timeout);
    virtual void busyPointer();
    virtual void standardPointer();
    virtual void movePointer(int32_t x, int32_t y);
    virtual void setPointerAttrs(int32_t a, int32_t b, int32_t c, int32_t d);
    virtual void colorBarOn();
    virtual void colorBarOff();
    virtual void drawOverlay(const uint32_t *pixels, int32_t zero, int32_t strideBytes, int32_t x,
                             int32_t y, int32_t width, int32_t height);
    virtual void drawOverlayMonitor(const uint32_t *pixels, int32_t zero, int32_t strideBytes,
                                    int32_t x, int32_t y, int32_t width, int32_t height,
                                    int32_t monitor);

    // Requesters.
    virtual int32_t createRequest(DreqRequest *request);
    virtual int32_t deleteRequest(DreqRequest *request);
    virtual int32_t textRequest(DreqTextRequest *request);
    virtual int32_t paletteRequest(DreqPaletteRequest *request);
    virtual int32_t fileRequest(DreqFileRequest *request);
    virtual int32_t archivesRequest(DreqArchivesRequest *request);

    // Resources.
    virtual ResTable *loadStrings(const char *name);
    virtual ResTable *loadImages(const char *name);
    virtual const XChar *string(ResTable *table, int32_t id);
    virtual const void *image(ResTable *table, int32_t id);
    virtual void freeStrings(ResTable *table);
    virtual void freeImages(ResTable *table);

    // Message queues.
    virtual MsgQueue *createQueue(int32_t count, int32_t size, int32_t flags);

    // Transfer requests.
    virtual TxRequest *allocTransfer(int32_t flags);
    virtual void setTransferPrefs(TxRequest *request, const void *descriptor);
    virtual void setTransferTypes(TxRequest *request, int32_t types);
    virtual int32_t runTransfer(TxRequest *request, int32_t flags);
    virtual int32_t transferStatus(TxRequest *request);
    virtual void getTransferPrefs(TxRequest *request, void *descriptor, int32_t size);
    virtual void freeTransfer(TxRequest *request);

    // Motion library.
    virtual uint16_t pixelAspect(int32_t a, int32_t monitor);
};

// Installs the backend that serves every host call (null removes it).
// Returns the previous one. The backend stays owned by the caller.
LFX_API HostBackend *lustraInstallBackend(HostBackend *backend);
LFX_API HostBackend *lustraCurrentBackend();

// The 8-bit log source the module reports ("src\LustraFex").
constexpr const char *kLogSource = "src\\LustraFex";

} // namespace lustra

#endif
