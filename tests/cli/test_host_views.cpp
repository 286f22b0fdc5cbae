// Host frames kept field by field and the fields the command-line host
// hands over as views of them: the rows stay the frame's rows, a render
// through views gives the bytes of a render through copies, and views never
// outlive, free or alter what they show.
#include "CliHost.h"
#include "Colour.h"

#include "support/TestHost.h"
#include "support/TitleShape.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace lustra::cli;

namespace {

using Layout = HostFrame::Layout;

// Pixel x of row y of a frame numbered `tag`: unique within a test.
uint32_t mark(uint32_t tag, int x, int y) {
    return (tag << 24) | (uint32_t(y) << 12) | uint32_t(x);
}

HostFrame markedFrame(int width, int height, uint32_t tag, Layout layout = Layout::Fields) {
    HostFrame frame(width, height, 0, layout);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) frame.row(y)[x] = mark(tag, x, y);
    return frame;
}

bool inside(const uint32_t *pixels, const HostFrame &frame) {
    return pixels >= frame.pixels.data() && pixels < frame.pixels.data() + frame.pixels.size();
}

TEST(HostFrameLayout, FieldOrderKeepsEveryRowAndEachFieldIsOneBlock) {
    for (int width : {1, 3, 8})
        for (int height = 1; height <= 7; ++height) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
            const HostFrame rows = markedFrame(width, height, 1, Layout::Rows);
            HostFrame fields = markedFrame(width, height, 1);
            // Every row in its own place, all of them within the pixels.
            std::set<size_t> offsets;
            for (int y = 0; y < height; ++y) {
                EXPECT_EQ(rows.rowOffset(y), size_t(y) * width);
                EXPECT_LE(fields.rowOffset(y) + width, fields.pixels.size());
                EXPECT_TRUE(offsets.insert(fields.rowOffset(y)).second);
                EXPECT_TRUE(std::equal(rows.row(y), rows.row(y) + width, fields.row(y)));
            }
            // Each field's rows follow one another from row(parity) on.
            ASSERT_TRUE(fields.fieldsAreBlocks());
            EXPECT_EQ(rows.fieldsAreBlocks(), height <= 3);
            for (int parity = 0; parity < 2 && parity < height; ++parity)
                for (int y = 0; y < height / 2; ++y)
                    EXPECT_EQ(fields.row(2 * y + parity), fields.row(parity) + size_t(y) * width);
            // The conversions read and write frame rows in either layout.
            std::vector<uint8_t> fromRows(size_t(width) * height * 4), fromFields(fromRows.size());
            hostFrameToRgba(rows, fromRows.data(), width * 4);
            hostFrameToRgba(fields, fromFields.data(), width * 4);
            EXPECT_EQ(fromRows, fromFields);
            HostFrame back(width, height, 0xFFFFFFFFu);
            rgbaToHostFrame(fromFields.data(), width * 4, true, back);
            HostFrame backRows(width, height, 0xFFFFFFFFu, Layout::Rows);
            rgbaToHostFrame(fromFields.data(), width * 4, true, backRows);
            for (int y = 0; y < height; ++y)
                EXPECT_TRUE(std::equal(back.row(y), back.row(y) + width, backRows.row(y)));
            // An odd height grown by a row appended to the pixels, and
            // shrunk again by dropping the last one, keeps its rows.
            if (height % 2 == 1) {
                fields.pixels.insert(fields.pixels.end(), size_t(width), 0xABCDu);
                ++fields.height;
                for (int y = 0; y < height; ++y)
                    EXPECT_TRUE(std::equal(rows.row(y), rows.row(y) + width, fields.row(y)));
                EXPECT_EQ(fields.row(height)[0], 0xABCDu);
                fields.pixels.resize(fields.pixels.size() - width);
                --fields.height;
                for (int y = 0; y < height; ++y)
                    EXPECT_TRUE(std::equal(rows.row(y), rows.row(y) + width, fields.row(y)));
            }
        }
}

TEST(CliBackendViews, FrameWiseFieldsAreViewsAndPutViewsStayInPlace) {
    CliHost host;
    host.setFieldWise(false);
    const HostFrame title = markedFrame(5, 7, 1), background = markedFrame(5, 7, 2);
    HostFrame output(5, 7, 0x77777777u);
    host.setFrames(3, &background, &title);
    host.setOutput(&output);
    host.expectPuts({1, 0});
    OpImage *odd = opGetField(1, 6), *even = opGetField(0, 7);
    ASSERT_TRUE(odd && even);
    EXPECT_TRUE(inside(odd->pixels, title));
    EXPECT_TRUE(inside(even->pixels, background));
    EXPECT_EQ(odd->height, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(odd->pixels[y * 5 + x], mark(1, x, 2 * y + 1));
            EXPECT_EQ(even->pixels[y * 5 + x], mark(2, x, 2 * y));
        }
    opFreeImage(odd);
    opFreeImage(even);

    // An output field freed instead of put back leaves the output and the
    // queue of puts as they were.
    OpImage *dropped = opAllocImage(-1, -1, 1, 0);
    ASSERT_NE(dropped, nullptr);
    EXPECT_TRUE(inside(dropped->pixels, output));
    opFreeImage(dropped);
    EXPECT_EQ(host.pendingPuts(), 2);
    for (uint32_t pixel : output.pixels) EXPECT_EQ(pixel, 0x77777777u);

    // Taken in one order and put back in the other: each lands in the rows
    // of its turn, and the view still held follows its rows.
    OpImage *first = opAllocImage(-1, -1, 1, 0), *second = opAllocImage(-1, -1, 1, 0);
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(inside(first->pixels, output) && inside(second->pixels, output));
    EXPECT_NE(first->pixels, second->pixels);
    std::fill(first->pixels, first->pixels + 15, 0x11u);
    std::fill(second->pixels, second->pixels + 15, 0x22u);
    EXPECT_EQ(opPutField(second), 0); // the odd rows' turn
    std::fill(first->pixels, first->pixels + 15, 0x33u);
    EXPECT_EQ(opPutField(first), 0);
    EXPECT_EQ(host.pendingPuts(), 0);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(output.row(y)[x], y == 6 ? 0x77777777u : y % 2 ? 0x22u : 0x33u) << y;

    // A field of an input put back is copied into the output.
    host.expectPuts({0});
    OpImage *input = opGetField(0, 7);
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(opPutField(input), 0);
    for (int y = 0; y < 6; y += 2) EXPECT_EQ(output.row(y)[4], mark(2, 4, y));
    EXPECT_EQ(title.row(1)[0], mark(1, 0, 1));
    EXPECT_EQ(host.liveImages(), 0);
}

TEST(CliBackendViews, ViewsAreCutOffWhenTheirFramesAreReplaced) {
    CliHost host;
    host.setFieldWise(false);
    HostFrame title = markedFrame(4, 4, 1), background = markedFrame(4, 4, 2), output(4, 4);
    host.setFrames(0, &background, &title);
    host.setOutput(&output);
    host.expectPuts({1});
    OpImage *input = opGetField(1, 0), *out = opAllocImage(-1, -1, 1, 0);
    ASSERT_TRUE(input && out);
    const uint32_t *shown = input->pixels;
    host.setFrames(0, &background, &title); // the same frame chosen again
    host.setOutput(&output);
    EXPECT_EQ(input->pixels, shown);
    EXPECT_NE(out->pixels, nullptr);
    host.setFrames(1, &background, &title); // the next frame, in the same frames
    EXPECT_EQ(input->pixels, nullptr);
    EXPECT_NE(out->pixels, nullptr);
    HostFrame next(4, 4, 0x5u);
    host.setOutput(&next);
    EXPECT_EQ(out->pixels, nullptr);
    EXPECT_EQ(opPutField(out), 0); // nothing to put: counted as unexpected
    EXPECT_EQ(host.unexpectedPuts(), 1);
    for (uint32_t pixel : next.pixels) EXPECT_EQ(pixel, 0x5u);
    opFreeImage(input);
    EXPECT_EQ(host.liveImages(), 0);
}

TEST(CliBackendViews, FieldWiseTheTitleFieldIsACopyAndRowFramesAreCopied) {
    CliHost host; // field-wise until told otherwise
    const HostFrame title = markedFrame(3, 6, 1), background = markedFrame(3, 6, 2);
    HostFrame output(3, 6);
    host.setFrames(0, &background, &title);
    host.setOutput(&output);
    host.expectPuts({1});
    OpImage *f0 = opGetField(0, 0), *f1 = opGetField(1, 0);
    ASSERT_TRUE(f0 && f1);
    EXPECT_TRUE(inside(f0->pixels, background));
    EXPECT_FALSE(inside(f1->pixels, title));
    std::fill(f1->pixels, f1->pixels + 9, 0x99u); // rendered into
    opFreeImage(f0);
    EXPECT_EQ(opPutField(f1), 0);
    for (int y = 0; y < 6; ++y) {
        EXPECT_EQ(title.row(y)[2], mark(1, 2, y));
        if (y % 2) {
            EXPECT_EQ(output.row(y)[2], 0x99u);
        }
    }
    // Frames whose rows are in order cannot hand out a field in place.
    host.setFieldWise(false);
    const HostFrame rows = markedFrame(3, 6, 3, Layout::Rows);
    host.setFrames(0, &rows, &rows);
    OpImage *copy = opGetField(0, 1);
    ASSERT_NE(copy, nullptr);
    EXPECT_FALSE(inside(copy->pixels, rows));
    for (int y = 0; y < 3; ++y) EXPECT_EQ(copy->pixels[y * 3 + 1], mark(3, 1, 2 * y));
    opFreeImage(copy);
    EXPECT_EQ(host.liveImages(), 0);
}

// Under AddressSanitizer: freeing views, and the host going with views still
// held, must never free or touch the frames' storage.
TEST(CliBackendViews, FreeingViewsNeverFreesFrameMemory) {
    HostFrame title = markedFrame(6, 8, 1), background = markedFrame(6, 8, 2), output(6, 8);
    const HostFrame picture = markedFrame(2, 5, 4, Layout::Rows);
    {
        CliHost host;
        host.setFieldWise(false);
        host.resolveSource = [&](const std::string &) -> const HostFrame * { return &picture; };
        for (int frame = 0; frame < 3; ++frame) {
            host.setFrames(frame, &background, &title);
            host.setOutput(&output);
            host.expectPuts({1, 0});
            OpImage *fields[4] = {opGetField(0, 2 * frame), opGetField(0, 2 * frame + 1),
                                  opGetField(1, 2 * frame), opGetField(1, 2 * frame + 1)};
            uint8_t descriptor[LFX_SOURCE_DESCRIPTOR_SIZE] = {'/', 'p'};
            OpImage *source = txGetOpImage(descriptor, 1, 0);
            ASSERT_NE(source, nullptr);
            EXPECT_EQ(source->pixels, picture.pixels.data());
            opFreeImage(source);
            OpImage *out[2] = {opAllocImage(-1, -1, 1, 0), opAllocImage(-1, -1, 1, 0)};
            for (OpImage *field : fields) opFreeImage(field);
            opPutField(out[0]);
            opPutField(out[1]);
        }
        host.expectPuts({1});
        opGetField(1, 4); // still held when the host goes
        opAllocImage(-1, -1, 1, 0);
    }
    for (int y = 0; y < 8; ++y) {
        title.row(y)[5] = background.row(y)[5] = output.row(y)[5] = 1;
        EXPECT_EQ(title.row(y)[0], mark(1, 0, y));
    }
    EXPECT_EQ(picture.row(4)[1], mark(4, 1, 4));
}

// The built module renders the same bytes whether the host hands its
// fields over as views (frames kept field by field) or as copies (frames
// with their rows in order), frame-wise and field-wise.
class CountingHost : public CliHost {
  public:
    const HostFrame *output = nullptr;
    int putsInPlace = 0, puts = 0;
    int32_t putField(OpImage *image) override {
        ++puts;
        if (output && image && inside(image->pixels, *output)) ++putsInPlace;
        return CliHost::putField(image);
    }
};

HostFrame toFrame(const std::vector<uint32_t> &rows, int width, int height, Layout layout) {
    HostFrame frame(width, height, 0, layout);
    for (int y = 0; y < height; ++y)
        std::copy_n(rows.begin() + std::ptrdiff_t(y) * width, width, frame.row(y));
    return frame;
}

// With `intoTitle` the title frame itself is the output, as lustra render
// does with a title frame of one frame alone.
HostFrame renderThrough(Layout layout, bool fieldWise, int width, int height,
                        bool intoTitle = false) {
    lustra::test::TempHome home;
    CountingHost host; // goes after the module's clean-up
    host.setFieldWise(fieldWise);
    lustra::test::Module module;
    module.getOperatorInfo();
    module.setChoices(0, 0, fieldWise ? 1 : 0);
    module.action(1);
    HostFrame title = toFrame(lustra::tools::titleFrame(width, height), width, height, layout);
    const HostFrame background =
        toFrame(lustra::tools::backgroundFrame(width, height), width, height, layout);
    HostFrame separate(width, height, 0, layout);
    HostFrame &output = intoTitle ? title : separate;
    host.output = &output;
    host.setFrames(0, &background, &title);
    host.setOutput(&output);
    if (fieldWise) {
        host.expectPuts({1});
        EXPECT_EQ(module.action(3, 0, 2), 0);
        host.expectPuts({0});
        EXPECT_EQ(module.action(3, 1, 0), 0);
    } else {
        host.expectPuts({1, 0});
        EXPECT_EQ(module.action(3, 0, 0), 0);
        EXPECT_EQ(module.action(3, 1, 0), 0);
    }
    EXPECT_EQ(host.pendingPuts(), 0);
    EXPECT_EQ(host.unexpectedPuts(), 0);
    EXPECT_EQ(host.liveImages(), 0);
    EXPECT_EQ(host.puts, 2);
    const bool inPlace = layout == Layout::Fields && !fieldWise;
    EXPECT_EQ(host.putsInPlace, inPlace ? 2 : 0);
    // Frame-wise through views, not even the geometry query costs a field.
    if (inPlace) {
        EXPECT_EQ(host.pooledPixelBytes(), 0u);
    }
    host.setOutput(nullptr);
    return intoTitle ? title : separate;
}

TEST(CliBackendViews, ARenderThroughViewsMatchesARenderThroughCopies) {
    for (const auto &[width, height] : {std::pair{96, 54}, std::pair{37, 20}})
        for (bool fieldWise : {false, true}) {
            SCOPED_TRACE(std::to_string(width) + (fieldWise ? " field-wise" : " frame-wise"));
            const HostFrame viewed = renderThrough(Layout::Fields, fieldWise, width, height);
            const HostFrame copied = renderThrough(Layout::Rows, fieldWise, width, height);
            size_t differing = 0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) differing += viewed.row(y)[x] != copied.row(y)[x];
            EXPECT_EQ(differing, 0u);
            // Rendered into the title frame itself: the module reads every
            // title pixel it needs before it writes over it.
            const HostFrame inPlace = renderThrough(Layout::Fields, fieldWise, width, height, true);
            differing = 0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) differing += viewed.row(y)[x] != inPlace.row(y)[x];
            EXPECT_EQ(differing, 0u);
            const HostFrame title =
                toFrame(lustra::tools::titleFrame(width, height), width, height, Layout::Rows);
            size_t rendered = 0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) rendered += viewed.row(y)[x] != title.row(y)[x];
            EXPECT_GT(rendered, 0u) << "the effect changed the title";
        }
}

} // namespace
