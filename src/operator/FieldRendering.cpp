// Field rendering: the host hands over fields; the effect works on frames.
// Field-wise rendering line-doubles one field of each input and returns one
// field; frame-wise rendering weaves two fields of each input into a frame on
// the first call of each pair and returns both fields at once.
#include "operator/FieldRendering.h"

#include "driver/FrameRender.h"
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

// The render reads both inputs from the host's fields and converts the
// result straight into the fields handed back; nothing is woven into the
// frame buffers. Ends that for the current call.
void forgetFieldRows() {
    fieldState.input0Rows = FrameRows{};
    fieldState.input1Rows = FrameRows{};
    fieldState.outputRows = FrameRows{};
}

// Copies the rows of a field into every second frame row from firstRow on.
void copyFieldIntoFrame(const OpImage &field, uint32_t *frame, int32_t firstRow) {
    const int32_t width = fieldState.projectFrameWidth;
    for (int32_t y = 0; y < field.height; ++y)
        std::memcpy(frame + size_t(2 * y + firstRow) * width,
                    field.pixels + size_t(y) * field.width, size_t(field.width) * 4);
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

    // Line doubling: field row y is frame rows 2y and 2y + 1 of its input,
    // read from the field itself; the rows of the parity that renderFlags
    // bit 1 picks are rendered back into input 1's field.
    const size_t pitch = size_t(f0->width);
    fieldState.input0Rows = FrameRows{{f0->pixels, f0->pixels}, pitch};
    fieldState.input1Rows = FrameRows{{f1->pixels, f1->pixels}, pitch};
    const int32_t parity = (context.renderFlags & 2) ? 1 : 0;
    fieldState.outputRows.field[parity] = f1->pixels;
    fieldState.outputRows.pitch = pitch;

    checkAbort();
    driverState.maskBuilt = 0;
    renderFrame(fieldState.projectFrameWidth, fieldState.projectFrameHeight,
                context.renderFlags & 1);
    checkAbort();
    forgetFieldRows();
    if (driverState.engineError != 0) {
        opFreeImage(f0);
        opFreeImage(f1);
        return -1;
    }

    opFreeImage(f0);
    return opPutField(f1);
}

// Fetches one field for a field pair and checks its geometry; logs
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

// Fields n (odd rows) and n + 1 (even rows) of both inputs, woven into
// inputFrame0 and inputFrame1 and released, or, with `kept` given, handed to
// the caller, which releases them: kept[input][1] holds the odd rows,
// kept[input][0] the even rows. Returns 0 or -1 (nothing kept then).
int32_t fetchFieldPair(int32_t fieldNumber, OpImage *kept[2][2]) {
    driverState.maskBuilt = 0;
    const int32_t firstMissing[2] = {kLogPairFirstInput0, kLogPairFirstInput1};
    const int32_t secondMissing[2] = {kLogPairSecondInput0, kLogPairSecondInput1};
    uint32_t *frames[2] = {fieldState.inputFrame0, fieldState.inputFrame1};
    // n + 1, wrapping at the end of the 32-bit range instead of overflowing.
    const int32_t nextField = static_cast<int32_t>(static_cast<uint32_t>(fieldNumber) + 1u);
    if (!kept && (!frames[0] || !frames[1])) return -1;
    auto releaseKept = [&]() {
        for (int32_t input = 0; input < 2; ++input)
            for (int32_t parity = 0; parity < 2; ++parity) {
                if (kept[input][parity]) opFreeImage(kept[input][parity]);
                kept[input][parity] = nullptr;
            }
    };
    for (int32_t input = 0; input < 2; ++input) {
        OpImage *first = fetchPairField(input, fieldNumber, firstMissing[input]);
        if (!first) {
            if (kept) releaseKept();
            return -1;
        }
        if (kept) {
            kept[input][1] = first;
        } else {
            copyFieldIntoFrame(*first, frames[input], 1);
            opFreeImage(first);
        }
        OpImage *second = fetchPairField(input, nextField, secondMissing[input]);
        if (!second) {
            if (kept) releaseKept();
            return -1;
        }
        if (kept) {
            kept[input][0] = second;
        } else {
            copyFieldIntoFrame(*second, frames[input], 0);
            opFreeImage(second);
        }
    }
    return 0;
}

void freeImages(OpImage *const *images, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        if (images[i]) opFreeImage(images[i]);
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
    OpImage *inputs[2][2] = {{nullptr, nullptr}, {nullptr, nullptr}}; // [input][parity]
    if (fetchFieldPair(context.fieldNumber, inputs) != 0) return -1;
    // The two output fields, taken before the render so that the result is
    // converted straight into them: output[1] gets the odd rows, [0] the even
    // rows. One unlike the project geometry is not written; it fails the
    // call where it would be handed over.
    OpImage *output[2] = {nullptr, nullptr};
    output[1] = opAllocImage(-1, -1, 1, 0);
    output[0] = opAllocImage(-1, -1, 1, 0);
    const size_t pitch = size_t(width);
    fieldState.input0Rows = FrameRows{{inputs[0][0]->pixels, inputs[0][1]->pixels}, pitch};
    fieldState.input1Rows = FrameRows{{inputs[1][0]->pixels, inputs[1][1]->pixels}, pitch};
    fieldState.outputRows.pitch = pitch;
    for (int32_t parity = 0; parity < 2; ++parity)
        if (output[parity] && matchesProject(output[parity]))
            fieldState.outputRows.field[parity] = output[parity]->pixels;

    checkAbort();
    driverState.maskBuilt = 0;
    renderFrame(fieldState.projectFrameWidth, fieldState.projectFrameHeight,
                context.renderFlags & 1);
    checkAbort();
    forgetFieldRows();
    freeImages(inputs[0], 2);
    freeImages(inputs[1], 2);
    if (driverState.engineError != 0) {
        freeImages(output, 2);
        return -1;
    }

    // Field n (the odd rows) goes back first, field n + 1 (the even rows)
    // second; the result of the first hand-over is not used.
    if (output[1]) {
        if (!matchesProject(output[1])) {
            logFailure(kLogOutputFieldMismatch);
            freeImages(output, 2);
            return -1;
        }
        opPutField(output[1]);
    }
    if (output[0] && !matchesProject(output[0])) {
        logFailure(kLogOutputFieldMismatch);
        opFreeImage(output[0]);
        return -1;
    }
    if (!output[0]) return -1;
    return opPutField(output[0]);
}

} // namespace

int32_t loadFieldPair(int32_t fieldNumber) {
    return fetchFieldPair(fieldNumber, nullptr);
}

int32_t renderFields(const OperatorContext &context) {
    return fieldWiseOption.value == 1 ? renderFieldWise(context) : renderFrameWise(context);
}

} // namespace lustra
