// The resource file "lustra_ops": every text and image the dialog asks for,
// the generator that writes it, and the stand-in host's reading of resource
// files, damaged ones included.
#include "dialog/DialogTest.h"

#include "ResourceFile.h"

#include <cstdlib>
#include <filesystem>
#include <set>

using namespace lustra;
using namespace lustra::test;

namespace {

std::string homeWithResource(const TempHome &home, const std::vector<uint8_t> &bytes) {
    writeBytes(home.path() + "/lustra_ops", bytes);
    return home.path();
}

std::u16string text(const XChar *units) {
    std::u16string out;
    for (; units && *units; ++units) out.push_back(char16_t(*units));
    return out;
}

// A resource file with the given entries (kind, id, data).
struct RawEntry {
    uint8_t kind;
    int32_t id;
    std::vector<uint8_t> data;
    int64_t offsetShift = 0;
};
std::vector<uint8_t> resourceFile(const std::vector<RawEntry> &entries) {
    std::vector<uint8_t> out = {'L', 'X', 'R', 'S', 1, 0, 0, 0};
    auto put32 = [&out](uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
    };
    put32(uint32_t(entries.size()));
    uint32_t offset = uint32_t(12 + 16 * entries.size());
    for (const RawEntry &entry : entries) {
        out.push_back(entry.kind);
        out.insert(out.end(), 3, 0);
        put32(uint32_t(entry.id));
        put32(uint32_t(offset + entry.offsetShift));
        put32(uint32_t(entry.data.size()));
        offset += uint32_t(entry.data.size());
    }
    for (const RawEntry &entry : entries)
        out.insert(out.end(), entry.data.begin(), entry.data.end());
    return out;
}
std::vector<uint8_t> utf16(const std::string &ascii) {
    std::vector<uint8_t> out;
    for (char c : ascii) {
        out.push_back(uint8_t(c));
        out.push_back(0);
    }
    return out;
}

class Resources : public DialogTest {};

} // namespace

TEST_F(Resources, EveryTextAndImageTheDialogUsesIsInTheShippedFile) {
    writeBytes(home.path() + "/lustra_ops",
               readBytes(std::string(LUSTRA_SOURCE_DATA_DIR) + "/lustra_ops"));
    host.realResources = true;
    // Visit every page and view, and the requesters with texts of their own.
    const std::vector<std::pair<int32_t, int32_t>> views = {
        {0, 0}, {0, 1}, {1, 0}, {2, 0}, {2, 1}, {3, 0}, {4, 0}, {4, 1}, {5, 0}, {5, 1},
        {6, 0}, {6, 1}, {7, 0}, {7, 1}, {8, 0}, {8, 1}, {8, 2}, {9, 0}, {9, 1}, {9, 2}};
    for (const auto &[page, view] : views) {
        host.gadgetEvent(host.pageButton(page));
        if (page != 1 && page != 3) host.gadgetEvent(host.headerPopup(), view);
    }
    host.gadgetEvent([this] {
        for (const Element *button : host.live(ElementKind::ImageButton))
            if (button->image == kGuiImageBase + 69) return button->id;
        return DgId(0);
    });
    host.gadgetEvent(host.byLabel(122)); // the reset question
    host.gadgetEvent(host.byLabel(121)); // the presets title
    host.closeMessage();
    runDialog();
    EXPECT_FALSE(host.ranDry);

    // Every text handed to the GUI resolved to a text of the file.
    std::set<int32_t> labels;
    for (const Element &element : host.elements) {
        if (element.kind == ElementKind::Panel) continue;
        EXPECT_NE(element.label, -1) << "a text the host did not hand out";
        if (element.label > 0) labels.insert(element.label);
        for (int32_t item : element.items) {
            EXPECT_GT(item, 0);
            labels.insert(item);
        }
        if (element.kind == ElementKind::Slider && element.key != 't') {
            EXPECT_GT(element.valueText, 0);
        }
        if (element.kind == ElementKind::ImageButton && element.image < kGuiImageBase) {
            EXPECT_GE(element.image, 101);
        }
        if (element.helpId) labels.insert(element.helpId);
    }
    EXPECT_GE(labels.size(), 130u);
    std::vector<int32_t> asked;
    for (const TextAsked &request : host.textsAsked) asked.push_back(request.text);
    EXPECT_EQ(asked, (std::vector<int32_t>{1002, 1001}));
    EXPECT_EQ(host.archivesTitles, std::vector<int32_t>{121});
}

TEST_F(Resources, TheFileHoldsEveryTextIdWithAClearText) {
    std::vector<int32_t> ids = {100, 101, 121, 122, 997, 999, 1000, 1001, 1002};
    for (int32_t id = 1100; id <= 1109; ++id) ids.push_back(id);
    for (int32_t id : {200, 201, 202, 203, 204, 205, 206, 207, 210, 211, 220, 221, 222, 223, 226,
                       227, 228, 229, 230, 240, 241, 242, 243, 244, 250, 251, 252, 254, 255})
        ids.push_back(id);
    for (int32_t base : {260, 280}) // the two image maps
        for (int32_t k : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12}) ids.push_back(base + k);
    for (int32_t base : {300, 350}) // the two fills
        for (int32_t k = 0; k <= 13; ++k) ids.push_back(base + k);
    for (int32_t base : {400, 430}) // the two textures
        for (int32_t k : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 21})
            ids.push_back(base + k);
    lustra::resources::Contents contents;
    ASSERT_TRUE(lustra::resources::parse(
        readBytes(std::string(LUSTRA_SOURCE_DATA_DIR) + "/lustra_ops"), contents));
    for (int32_t id : ids) {
        ASSERT_TRUE(contents.texts.count(id)) << id;
        EXPECT_GT(contents.texts.at(id).size(), 2u) << id; // not empty
    }
    auto ascii = [&](int32_t id) {
        std::string out;
        for (uint16_t unit : contents.texts.at(id))
            if (unit) out.push_back(char(unit));
        return out;
    };
    EXPECT_EQ(ascii(999), "%d");
    EXPECT_EQ(ascii(997), "%d %%");
    for (int32_t id = 101; id <= 110; ++id) {
        ASSERT_TRUE(contents.images.count(id)) << id;
        const auto &image = contents.images.at(id);
        EXPECT_EQ(image.width, 20);
        EXPECT_EQ(image.height, 20);
        int opaque = 0;
        for (uint32_t pixel : image.pixels) opaque += (pixel & 0xFF) == 0xFF;
        EXPECT_GT(opaque, 40) << id;
    }
    // No two page icons look the same.
    for (int32_t a = 101; a <= 110; ++a)
        for (int32_t b = a + 1; b <= 110; ++b)
            EXPECT_NE(contents.images.at(a).pixels, contents.images.at(b).pixels) << a << " " << b;
}

TEST_F(Resources, TheGeneratorWritesTheShippedFileByteForByte) {
    const std::string first = home.path() + "/first", second = home.path() + "/second";
    const std::string command =
        std::string(LUSTRA_MAKE_RESOURCES) + " " + LUSTRA_STRINGS_FILE + " ";
    ASSERT_EQ(std::system((command + first).c_str()), 0);
    ASSERT_EQ(std::system((command + second).c_str()), 0);
    const std::vector<uint8_t> written = readBytes(first);
    EXPECT_EQ(written, readBytes(second));
    EXPECT_EQ(written, readBytes(std::string(LUSTRA_SOURCE_DATA_DIR) + "/lustra_ops"))
        << "data/lustra_ops is out of date: build the regenerate_resources target";
}

TEST_F(Resources, TheHostReadsTextsAndImagesByIdFromTheDataDirectory) {
    HostBackend plain;
    lustraInstallBackend(&plain);
    homeWithResource(home, resourceFile({{1, 5, utf16("five")},
                                         {2, 9, {2, 0, 1, 0, 1, 2, 3, 4, 5, 6, 7, 8}},
                                         {1, 6, utf16("six")}}));
    ResTable *strings = resLoadStrings("lustra_ops");
    ResTable *images = resLoadImages("lustra_ops");
    ASSERT_NE(strings, nullptr);
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(text(resGetString(strings, 5)), u"five");
    EXPECT_EQ(text(resGetString(strings, 6)), u"six");
    EXPECT_EQ(resGetString(strings, 7), nullptr);
    EXPECT_EQ(resGetString(images, 5), nullptr); // an image table holds no texts
    EXPECT_EQ(resGetImage(strings, 9), nullptr);
    const auto *image = static_cast<const ResImage *>(resGetImage(images, 9));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 2);
    EXPECT_EQ(image->height, 1);
    EXPECT_EQ(image->pixels[0], 0x04030201u);
    EXPECT_EQ(image->pixels[1], 0x08070605u);
    resFreeStrings(strings);
    resFreeImages(images);
    // Freed tables answer nothing, and freeing again is harmless.
    EXPECT_EQ(resGetString(strings, 5), nullptr);
    resFreeStrings(strings);
    lustraInstallBackend(&host);
}

TEST_F(Resources, DamagedResourceFilesAreRefusedOrSkippedEntryByEntry) {
    HostBackend plain;
    lustraInstallBackend(&plain);
    auto load = [&](const std::vector<uint8_t> &bytes) {
        homeWithResource(home, bytes);
        return resLoadStrings("lustra_ops");
    };
    std::vector<uint8_t> good = resourceFile({{1, 1, utf16("a")}});
    std::vector<uint8_t> badSignature = good;
    badSignature[0] = 'X';
    EXPECT_EQ(load(badSignature), nullptr);
    std::vector<uint8_t> badVersion = good;
    badVersion[4] = 2;
    EXPECT_EQ(load(badVersion), nullptr);
    EXPECT_EQ(load({good.begin(), good.begin() + 20}), nullptr); // directory cut off
    EXPECT_EQ(load({}), nullptr);
    std::vector<uint8_t> hugeCount = good;
    hugeCount[11] = 0x7F;
    EXPECT_EQ(load(hugeCount), nullptr);

    // Damaged entries are skipped, the others still load.
    ResTable *table = load(resourceFile({{1, 1, utf16("ok")},
                                         {1, 2, {1, 2, 3}},                // odd size
                                         {1, 3, utf16("far"), 1 << 20},    // beyond the end
                                         {1, 1, utf16("again")},           // a repeated id
                                         {2, 4, {2, 0, 2, 0, 1, 2, 3, 4}}, // short image
                                         {2, 5, {0, 0, 1, 0}},             // empty image
                                         {9, 6, utf16("unknown kind")}}));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(text(resGetString(table, 1)), u"ok");
    for (int32_t id : {2, 3, 6}) EXPECT_EQ(resGetString(table, id), nullptr) << id;
    resFreeStrings(table);

    // Only plain file names of the data directory are read.
    homeWithResource(home, good);
    for (const char *name : {"../lustra_ops", "/lustra_ops", "lustra/../lustra_ops", "", ".."})
        EXPECT_EQ(resLoadStrings(name), nullptr) << name;
    EXPECT_EQ(resLoadStrings(nullptr), nullptr);
    std::filesystem::create_directory(home.path() + "/folder");
    EXPECT_EQ(resLoadStrings("folder"), nullptr);
    // Tables the stand-in never handed out are not touched.
    int notATable = 0;
    EXPECT_EQ(resGetString(reinterpret_cast<ResTable *>(&notATable), 1), nullptr);
    resFreeStrings(reinterpret_cast<ResTable *>(&notATable));
    resFreeImages(nullptr);
    lustraInstallBackend(&host);
}
