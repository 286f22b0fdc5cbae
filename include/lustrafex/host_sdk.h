/*
 * LustraFex host SDK.
 *
 * The binary interface between a video host and the LustraFex effect module:
 * the two functions the module exports, the records they exchange, and every
 * host service the module calls. The services are plain C functions; the
 * stand-in host library (libLustraHost) implements each of them by handing the
 * call to the backend that the host application installed (see
 * lustrafex/host_backend.h). A host executable may also define any of these
 * functions itself and export it (-rdynamic): ordinary ELF interposition then
 * routes the module's calls to the executable's definition.
 *
 * 64-bit Linux; all multi-byte numbers are little-endian.
 */
#ifndef LUSTRAFEX_HOST_SDK_H
#define LUSTRAFEX_HOST_SDK_H

#include <stdint.h>

#if defined(__GNUC__)
#define LFX_API __attribute__((visibility("default")))
#else
#define LFX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Records of the render side                                               */
/* ------------------------------------------------------------------------ */

/* A host image. Each pixel, read as a little-endian 32-bit word, holds Y in
 * bits 24..31, Cb in 16..23, Cr in 8..15 and the alpha (key) byte in 0..7.
 * Rows follow each other without a gap: the row pitch is the width. */
typedef struct OpImage {
    uint32_t *pixels;
    int16_t width;
    int16_t height;
} OpImage;

/* The host's request record, passed to OperatorAction (48 bytes). */
typedef struct OperatorContext {
    uint16_t action;          /* 0: 1 setup, 2 cleanup, 3 render, 4 edit, 6 delete settings */
    int16_t noDialog;         /* 2: action 4 only: non-zero opens no dialog */
    uint8_t renderFlags;      /* 4: bit 0 scaled render, bit 1 field-wise output takes odd rows */
    uint8_t reserved5[3];     /* 5 */
    uint32_t fieldCount;      /* 8: length of the effect in fields */
    int32_t fieldNumber;      /* 12: field to render */
    uint32_t node;            /* 16: opaque handle of the effect instance */
    uint8_t reserved20[4];    /* 20 */
    int16_t scaleNumerator;   /* 24 */
    int16_t scaleDenominator; /* 26 */
    uint8_t reserved28[16];   /* 28 */
    int16_t pixelAspect;      /* 44: pixel aspect in thousandths (1000 = square) */
    uint8_t reserved46[2];    /* 46 */
} OperatorContext;

/* One entry of the operator's description; the list ends with tag 0. */
typedef struct OperatorInfoTag {
    uintptr_t tag;
    uintptr_t value;
} OperatorInfoTag;

/* A choice parameter the host presents; the host writes `value`. */
typedef struct HostChoice {
    int16_t zero;
    int16_t labelId;
    int32_t zero2;
    const int32_t *optionIds; /* zero-terminated */
    int32_t value;
} HostChoice;

/* The module's text buffer record: buffer, capacity 128, 0. */
typedef struct TextBufferRecord {
    void *buffer;
    int32_t capacity;
    int32_t zero;
} TextBufferRecord;

/* The three-number record of tag 0x4F504504: 4, 101, 2. */
typedef struct ThreeNumbers {
    int16_t a;
    int16_t b;
    int32_t c;
} ThreeNumbers;

/* Tags of the operator description. */
#define LFX_TAG(n) (0x4F504500u + (n))

/* Size of the host's source descriptor stored in the settings record. */
#define LFX_SOURCE_DESCRIPTOR_SIZE 112

/* ------------------------------------------------------------------------ */
/* The module's two exports                                                 */
/* ------------------------------------------------------------------------ */

LFX_API int32_t OperatorAction(OperatorContext *context);
LFX_API const OperatorInfoTag *GetOperatorInfo(void);

/* ------------------------------------------------------------------------ */
/* Operator, transfer and logger services (render side)                     */
/* ------------------------------------------------------------------------ */

/* One field of input 0 or 1, host-owned, or null when not available. The
 * module reads it in place until it frees it, at the latest when the render
 * call returns; field-wise it renders into input 1's field and hands it back. */
LFX_API OpImage *opGetField(int32_t input, int32_t fieldNumber);
/* (0, 0, 1, 0): an image describing one field of the project;
 * (-1, -1, 1, 0): a new, empty output field of that geometry, whose every
 * pixel the module writes before it hands it back (its old pixels do not
 * matter). Null on failure. */
LFX_API OpImage *opAllocImage(int32_t width, int32_t height, int32_t depth, int32_t flags);
/* Hands a finished field to the host, which takes it over. */
LFX_API int32_t opPutField(OpImage *image);
LFX_API void opFreeImage(OpImage *image);
/* The host's abort check; its result is never examined. */
LFX_API int32_t opChkAbort(void);
/* Per-instance settings file name (host-owned, starts with "/"), or null. */
LFX_API const char *opGetCustomPrefsName(uint32_t node, const char *prefix, int32_t a, int32_t b);
/* The picture a 112-byte source descriptor names, or null. The module only
 * reads it, so it may be a view of pixels the host keeps. */
LFX_API OpImage *txGetOpImage(const void *descriptor, int32_t a, int32_t b);
/* Severity, line number, source "src\LustraFex", code 0x0C1B0000, text " ". */
LFX_API void loggerMessage(int32_t severity, int32_t line, const char *source, uint32_t code,
                           const char *text);

/* ------------------------------------------------------------------------ */
/* Dialog services                                                          */
/* ------------------------------------------------------------------------ */

/* Texts of the GUI, resource and character libraries are 16-bit characters. */
typedef uint16_t XChar;

/* Panel, gadget and request ids: non-zero when valid. */
typedef int32_t DgId;

/* A value-formatting callback of a slider: writes the text shown for value. */
typedef int32_t (*DgValueFormatter)(int32_t value, XChar *text, int32_t capacity);

/* Gadget extension record, from dgAllocGadExt; all fields start at 0. */
typedef struct DgGadgetExt {
    int32_t field1;
    int32_t field2;
    const XChar *label; /* third field: the gadget's label text */
    int32_t field4;
    DgValueFormatter formatter; /* fifth field: value-formatting callback */
    int16_t field6;
    int32_t field7;
    int32_t field8;
} DgGadgetExt;

/* A GUI message of the dialog's queue, 44 bytes. Fields by kind:
 *  kind 2 (pointer moved):   x at 12 (int16), y at 14 (int16)
 *  kind 3 (pointer button):  button at 12 (uint16), x at 14, y at 16 (int16)
 *  kind 4 (gadget event):    gadget id at 12 (int32), event code at 16 (uint16),
 *                            new value at 20 (8, 16 or 32 bits)
 *  kind 7 (close). */
typedef struct GuiMessage {
    uint8_t bytes[44];
} GuiMessage;

#define GUI_MESSAGE_KIND_OFFSET 8

/* The message queue of the dialog. */
typedef struct MsgQueue MsgQueue;

/* The GUI request (the dialog's full-screen window). */
typedef struct DreqRequest {
    DgId handle; /* filled in by dreqCreateRequest */
    int32_t zero;
    int16_t width;
    int16_t height;
    MsgQueue *queue;
    uint32_t flags;     /* 0x001021C0 */
    const XChar *title; /* null on monitor 1 */
    int32_t zero2[3];
} DreqRequest;

/* Text request: 0, text, 0, 0, 0, style, 0, result (1 = confirmed). */
typedef struct DreqTextRequest {
    int32_t zero0;
    const XChar *text;
    int32_t zero2;
    int32_t zero3;
    int32_t zero4;
    int32_t style; /* 1 message, 67 yes/no question */
    int32_t zero6;
    int32_t result;
} DreqTextRequest;

/* Colour request: 0, 0, colour (in and out), 25600, result. */
typedef struct DreqPaletteRequest {
    int32_t zero0;
    int32_t zero1;
    uint32_t colour; /* YCbCr colour value of the settings record */
    int16_t value25600;
    int16_t pad;
    int32_t result; /* 1 = a colour was chosen */
} DreqPaletteRequest;

/* File request: 0, directory, default name, mode, path buffer, its size, name
 * buffer, its size, status (1 = the user chose a file). */
typedef struct DreqFileRequest {
    int32_t zero;
    const char *directory; /* "/programs/lustra/", below VXHOME */
    XChar *defaultName;    /* the module's 128-byte text buffer */
    int32_t mode;          /* 1 load, 2 save, 3 delete */
    char *path;            /* full path of the chosen file */
    int32_t pathSize;
    XChar *name; /* the chosen file's name */
    int32_t nameSize;
    int32_t status;
} DreqFileRequest;

/* Archives request: title, then the action the user chose (4 load, 5 save,
 * 6 delete). */
typedef struct DreqArchivesRequest {
    const XChar *title;
    int32_t action;
} DreqArchivesRequest;

/* Resource tables of a resource file. */
typedef struct ResTable ResTable;

/* An image as the stand-in host's resource services hand it out (resGetImage
 * on a table of resLoadImages): width x height 32-bit host pixels (Y in bits
 * 24..31, Cb 16..23, Cr 8..15, alpha 0..7), row after row. */
typedef struct ResImage {
    int32_t width;
    int32_t height;
    const uint32_t *pixels;
} ResImage;

/* A transfer request (clip or operator picker). */
typedef struct TxRequest TxRequest;

/* GUI library: panels and gadgets. */
LFX_API DgId dgCreatePanel(DgId parent, int32_t x, int32_t y, int32_t width, int32_t height,
                           uint32_t flags, uint32_t flags2, int32_t zero);
LFX_API void dgRemovePanel(DgId panel);
LFX_API DgId dgAddSlider(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                         int32_t minimum, int32_t maximum, int32_t value, const XChar *label,
                         const XChar *valueText, uint32_t style, DgGadgetExt *extension);
LFX_API DgId dgAddCheckBox(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                           int32_t value, uint32_t state, DgGadgetExt *extension);
LFX_API DgId dgAddPopup(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                        void *itemList, int32_t value, const XChar *label, uint32_t state,
                        int32_t zero);
LFX_API DgId dgAddTextButton(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                             const XChar *text, uint32_t state, int32_t zero);
LFX_API DgId dgAddImageButton(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                              const void *image, uint32_t state, const DgGadgetExt *extension);
LFX_API DgId dgAddTextGadget(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                             const XChar *text, int32_t one, DgGadgetExt *extension);
LFX_API DgId dgAddPaletteButton(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                                const XChar *label, uint32_t colour, uint32_t state, int32_t zero);
LFX_API DgId dgBoxText(DgId panel, const XChar *text, int32_t x, int32_t y, int32_t width,
                       int32_t height, int32_t style);
LFX_API DgGadgetExt *dgAllocGadExt(void);
LFX_API void dgFreeGadExt(DgGadgetExt *extension);
/* Slider value formatter that shows a frame number as time. */
LFX_API int32_t dgSliderCallbackFramesTime(int32_t value, XChar *text, int32_t capacity);

/* GUI library: element attributes and colours. Attributes: 5 colour,
 * 39 slider maximum, 40 slider value, 43 text, 57 keyboard shortcut,
 * 80 help string table, 82 help string id. */
LFX_API int32_t dgChangeElement(DgId panel, DgId gadget, int32_t attribute, intptr_t value,
                                int32_t last);
LFX_API void dgEnableElement(DgId panel, DgId gadget);
LFX_API void dgDisableElement(DgId panel, DgId gadget);
LFX_API void dgActivateElement(DgId panel, DgId gadget);
LFX_API void dgSetColorYUV(uint32_t colour);
LFX_API uint32_t dgGetNewGuiColorYUV(int32_t which);
LFX_API uint32_t dgGetGuiColorYUV(int32_t which);
LFX_API ResTable *dgGetGuiResource(int32_t which);

/* GUI library: screens, monitors and fonts. */
LFX_API int32_t dgGetScreenWidth(void);
LFX_API int32_t dgGetScreenHeight(void);
LFX_API int32_t dgGetScreenWidthMonitor(int32_t monitor);
LFX_API int32_t dgGetScreenHeightMonitor(int32_t monitor);
LFX_API void dgGetVisibleArea(int32_t *left, int32_t *top, int32_t *right, int32_t *bottom);
LFX_API void dgGetVisibleAreaMonitor(int32_t *left, int32_t *top, int32_t *right, int32_t *bottom,
                                     int32_t monitor);
LFX_API int32_t dgGetDefaultMonitor(void);
LFX_API int32_t dgGetConnectedMonitors(void);
LFX_API int32_t dgGetFontHeightMonitor(int32_t monitor);
LFX_API int32_t dgGetAddHeight(void);
LFX_API int32_t dgGetGuiMode(void);
LFX_API int32_t dgGetVideoMode(void);

/* GUI library: messages, pointer, colour bar and overlay. */
LFX_API int32_t dgMsgQReceive(MsgQueue *queue, GuiMessage *message, int32_t timeout);
LFX_API void dgBusyPointer(void);
LFX_API void dgStandardPointer(void);
LFX_API void dgMovePointer(int32_t x, int32_t y);
LFX_API void dgSetPointerAttrs(int32_t a, int32_t b, int32_t c, int32_t d);
LFX_API void dgColorBarOn(void);
LFX_API void dgColorBarOff(void);
LFX_API void dgmxYUVAtoOvl(const uint32_t *pixels, int32_t zero, int32_t strideBytes, int32_t x,
                           int32_t y, int32_t width, int32_t height);
LFX_API void dgmxYUVAtoOvlMonitor(const uint32_t *pixels, int32_t zero, int32_t strideBytes,
                                  int32_t x, int32_t y, int32_t width, int32_t height,
                                  int32_t monitor);

/* Requester library. Each returns 0 on success. */
LFX_API int32_t dreqCreateRequest(DreqRequest *request);
LFX_API int32_t dreqDeleteRequest(DreqRequest *request);
LFX_API int32_t dreqTextRequest(DreqTextRequest *request);
LFX_API int32_t dreqPaletteRequest(DreqPaletteRequest *request);
LFX_API int32_t dreqFileRequest(DreqFileRequest *request);
LFX_API int32_t dreqArchivesRequest(DreqArchivesRequest *request);

/* Resource library, for resource files such as "lustra_ops". */
LFX_API ResTable *resLoadStrings(const char *name);
LFX_API ResTable *resLoadImages(const char *name);
LFX_API const XChar *resGetString(ResTable *table, int32_t id);
LFX_API const void *resGetImage(ResTable *table, int32_t id);
LFX_API void resFreeStrings(ResTable *table);
LFX_API void resFreeImages(ResTable *table);

/* Message-queue library: room for `count` messages of `size` bytes. */
LFX_API MsgQueue *msgQCreate(int32_t count, int32_t size, int32_t flags);

/* List library (called by ordinal in the host: 16 initialises a list
 * header, 10 appends a node to a list). */
LFX_API void lstInitList(void *list);
LFX_API void lstAppendNode(void *list, void *node);

/* Transfer library: the clip and operator picker. */
LFX_API TxRequest *txAllocRequest(int32_t flags);
LFX_API void txSetPrefs(TxRequest *request, const void *descriptor);
LFX_API void txSetTypes(TxRequest *request, int32_t types);
LFX_API int32_t txRequest(TxRequest *request, int32_t flags);
LFX_API int32_t txGetStatus(TxRequest *request);
LFX_API void txGetPrefs(TxRequest *request, void *descriptor, int32_t size);
LFX_API void txFreeRequest(TxRequest *request);

/* Character library: 16-bit character texts. sxprintf formats like
 * snprintf (the format is 8-bit) into at most `capacity` characters. */
LFX_API int32_t sxprintf(XChar *buffer, int32_t capacity, const char *format, ...);
LFX_API XChar *xcscpy(XChar *destination, const XChar *source);

/* Motion library: pixel aspect of a monitor, in thousandths. */
LFX_API uint16_t dmGetPixelAspect(int32_t a, int32_t monitor);

#ifdef __cplusplus
}
#endif

#endif /* LUSTRAFEX_HOST_SDK_H */
