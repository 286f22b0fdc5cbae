// Field rendering: the host hands over fields; the effect works on frames.
// Field-wise rendering line-doubles one field of each input and returns one
// field; frame-wise rendering weaves two fields of each input into a frame on
// the first call of each pair and returns both fields at once.
#include "operator/FieldRendering.h"

#include "driver/FrameRender.h"
#include "engine/BufferRecycler.h"
#include "operator/Operator.h"

#include <cstdlib>
#include <cstring>

namespace lustra {

namespace {

void setScaleRatio(const OperatorContext &context) {
    if (context.renderFlags & 1) {
        fieldState.scaleNumerator = context.scaleNumerator;
        fieldState.scaleDenominator = context.scaleDenominator;
    } else {
        fieldState.scaleNumerator = 1;
        fieldState.scaleDenominator = 1;
    }
}

// A frame of this width and field height fits the render job's 16-bit
// geometry and is not empty.
bool frameFits(int32_t width, int32_t fieldHeight) {
    return width >= 1 && fieldHeight >= 1 && width <= kMaxFrameWidth &&
           2 * fieldHeight <= kMaxFrameHeight;
}

// A host field that has pixels and exactly the project's field geometry.
bool matchesProject(const OpImage *field) {
    return field->pixels && field->width == fieldState.projectFrameWidth &&
           2 * field->height == fieldState.projectFrameHeight;
}

void freeFrames() {
    giveBackBuffer(fieldState.inputFrame0);
    giveBackBuffer(fieldState.inputFrame1);
    fieldState.inputFrame0 = nullptr;
    fieldState.inputFrame1 = nullptr;
}

bool allocateFrames() {
    const size_t bytes =
        size_t(fieldState.projectFrameWidth) * size_t(fieldState.projectFrameHeight) * 4;
    // Both frames are filled completely from the fields before they are read.
    fieldState.inputFrame0 =
        static_cast<uint32_t *>(takeBuffer(bytes, BufferContents::unspecified));
    fieldState.inputFrame1 =
        static_cast<uint32_t *>(takeBuffer(bytes, BufferContents::unspecified));
    if (fieldState.inputFrame0 && fieldState.inputFrame1) return true;
    freeFrames();
    return false;
}

// Copies the rows of a field into every second frame row from firstRow on.
void copyFieldIntoFrame(const OpImage &field, uint32_t *frame, int32_t firstRow) {
    const int32_t width = fieldState.projectFrameWidth;
    for (int32_t y = 0; y < field.height; ++y)
        std::memcpy(frame + size_t(2 * y + firstRow) * width,
                    field.pixels + size_t(y) * field.width, size_t(field.width) * 4);
}

// Copies every second frame row of input 1's frame, from firstRow on, into
// the output field.
void copyFrameIntoField(OpImage &field, int32_t firstRow) {
    const int32_t width = fieldState.projectFrameWidth;
    const uint32_t *source = fieldState.inputFrame1 + size_t(firstRow) * width;
    for (int32_t y = 0; y < field.height; ++y)
        std::memcpy(field.pixels + size_t(y) * field.width, source + size_t(2 * y) * width,
                    size_t(field.width) * 4);
}

int32_t renderFieldWise(const OperatorContext &context) {
    OpImage *f0 = opGetField(0, context.fieldNumber);
    if (!f0) {
        logFailure(kLogFieldInput0Missing);
        return -1;
    }
    OpImage *f1 = opGetField(1, context.fieldNumber);
    if (!f1) {
        logFailure(kLogFieldInput1Missing);
        opFreeImage(f0);
        return -1;
    }
    setScaleRatio(context);
    // Both inputs must deliver usable fields of one geometry that fits the job.
    if (!f0->pixels || !f1->pixels || f0->width != f1->width || f0->height != f1->height ||
        !frameFits(f0->width, f0->height)) {
        logFailure(kLogFieldGeometryMismatch);
        opFreeImage(f0);
        opFreeImage(f1);
        return -1;
    }
    fieldState.projectFrameWidth = f0->width;
    fieldState.projectFrameHeight = 2 * f0->height;
    if (!allocateFrames()) {
        opFreeImage(f0);
        opFreeImage(f1);
        return -1;
    }

    // Line doubling: field row y fills frame rows 2y and 2y + 1.
    copyFieldIntoFrame(*f0, fieldState.inputFrame0, 0);
    copyFieldIntoFrame(*f0, fieldState.inputFrame0, 1);
    copyFieldIntoFrame(*f1, fieldState.inputFrame1, 0);
    copyFieldIntoFrame(*f1, fieldState.inputFrame1, 1);

    checkAbort();
    driverState.maskBuilt = 0;
    renderFrame(fieldState.projectFrameWidth, fieldState.projectFrameHeight,
                context.renderFlags & 1);
    checkAbort();
    if (driverState.engineError != 0) {
        freeFrames();
        opFreeImage(f0);
        opFreeImage(f1);
        return -1;
    }

    copyFrameIntoField(*f1, (context.renderFlags & 2) ? 1 : 0);
    freeFrames();
    opFreeImage(f0);
    return opPutField(f1);
}

// A new output field, checked against the project geometry; null (after
// logging and releasing it) when it does not match.
OpImage *allocateOutputField() {
    OpImage *field = opAllocImage(-1, -1, 1, 0);
    if (field && !matchesProject(field)) {
        logFailure(kLogOutputFieldMismatch);
        opFreeImage(field);
        return nullptr;
    }
    return field;
}

int32_t renderFrameWise(const OperatorContext &context) {
    if (fieldState.frameDelivered == 1) {
        fieldState.frameDelivered = 0;
        return 0;
    }
    fieldState.frameDelivered = 1;
    setScaleRatio(context);

    OpImage *geometry = opAllocImage(0, 0, 1, 0);
    if (!geometry) {
        logFailure(kLogFrameGeometryUnavailable);
        return -1;
    }
    const int32_t width = geometry->width, fieldHeight = geometry->height;
    opFreeImage(geometry);
    if (!frameFits(width, fieldHeight)) {
        logFailure(kLogFrameGeometryUnusable);
        return -1;
    }
    fieldState.projectFrameWidth = width;
    fieldState.projectFrameHeight = 2 * fieldHeight;
    if (!allocateFrames()) return -1;
    if (loadFieldPair(context.fieldNumber) != 0) {
        freeFrames();
        return -1;
    }

    checkAbort();
    driverState.maskBuilt = 0;
    renderFrame(fieldState.projectFrameWidth, fieldState.projectFrameHeight,
                context.renderFlags & 1);
    checkAbort();
    if (driverState.engineError != 0) {
        freeFrames();
        return -1;
    }

    // Field n (the odd rows) goes back first, field n + 1 (the even rows)
    // second; the result of the first hand-over is not used.
    OpImage *odd = opAllocImage(-1, -1, 1, 0);
    if (odd) {
        if (!matchesProject(odd)) {
            logFailure(kLogOutputFieldMismatch);
            opFreeImage(odd);
            freeFrames();
            return -1;
        }
        copyFrameIntoField(*odd, 1);
        opPutField(odd);
    }
    OpImage *even = allocateOutputField();
    if (!even) {
        freeFrames();
        return -1;
    }
    copyFrameIntoField(*even, 0);
    freeFrames();
    return opPutField(even);
}

// Fetches one field for loadFieldPair and checks its geometry; logs
// `missingLine` when the host has none.
OpImage *fetchPairField(int32_t input, int32_t fieldNumber, int32_t missingLine) {
    OpImage *field = opGetField(input, fieldNumber);
    if (!field) {
        logFailure(missingLine);
        return nullptr;
    }
    if (!matchesProject(field)) {
        logFailure(kLogPairFieldMismatch);
        opFreeImage(field);
        return nullptr;
    }
    return field;
}

} // namespace

int32_t loadFieldPair(int32_t fieldNumber) {
    driverState.maskBuilt = 0;
    const int32_t firstMissing[2] = {kLogPairFirstInput0, kLogPairFirstInput1};
    const int32_t secondMissing[2] = {kLogPairSecondInput0, kLogPairSecondInput1};
    uint32_t *frames[2] = {fieldState.inputFrame0, fieldState.inputFrame1};
    // n + 1, wrapping at the end of the 32-bit range instead of overflowing.
    const int32_t nextField = static_cast<int32_t>(static_cast<uint32_t>(fieldNumber) + 1u);
    if (!frames[0] || !frames[1]) return -1;
    for (int32_t input = 0; input < 2; ++input) {
        OpImage *first = fetchPairField(input, fieldNumber, firstMissing[input]);
        if (!first) return -1;
        copyFieldIntoFrame(*first, frames[input], 1);
        opFreeImage(first);
        OpImage *second = fetchPairField(input, nextField, secondMissing[input]);
        if (!second) return -1;
        copyFieldIntoFrame(*second, frames[input], 0);
        opFreeImage(second);
    }
    return 0;
}

int32_t renderFields(const OperatorContext &context) {
    return fieldWiseOption.value == 1 ? renderFieldWise(context) : renderFrameWise(context);
}

} // namespace lustra
