// The module as a host sees it: its dynamic symbols, its description, the
// action codes and the settings files.
#include "support/TestHost.h"

#include <gtest/gtest.h>

#include <elf.h>

#include <cstring>
#include <filesystem>
#include <fstream>

using namespace lustra::test;
namespace fs = std::filesystem;

namespace {

// The defined global and weak symbols of a shared object's dynamic symbol
// table, read straight from the ELF file.
std::vector<std::string> definedDynamicSymbols(const std::string &path) {
    std::vector<uint8_t> file = readBytes(path);
    std::vector<std::string> names;
    if (file.size() < sizeof(Elf64_Ehdr)) return names;
    const auto *header = reinterpret_cast<const Elf64_Ehdr *>(file.data());
    const auto *sections = reinterpret_cast<const Elf64_Shdr *>(file.data() + header->e_shoff);
    for (int i = 0; i < header->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNSYM) continue;
        const Elf64_Shdr &strings = sections[sections[i].sh_link];
        const auto *symbols =
            reinterpret_cast<const Elf64_Sym *>(file.data() + sections[i].sh_offset);
        const size_t count = sections[i].sh_size / sizeof(Elf64_Sym);
        for (size_t s = 1; s < count; ++s) {
            const int binding = ELF64_ST_BIND(symbols[s].st_info);
            if (symbols[s].st_shndx == SHN_UNDEF || binding == STB_LOCAL) continue;
            names.emplace_back(reinterpret_cast<const char *>(file.data() + strings.sh_offset +
                                                              symbols[s].st_name));
        }
    }
    return names;
}

} // namespace

TEST(ModuleInterface, ExportsExactlyTheTwoEntryPoints) {
    std::vector<std::string> names = definedDynamicSymbols(LUSTRAFEX_MODULE_PATH);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"GetOperatorInfo", "OperatorAction"}));
}

TEST(ModuleInterface, DescribesItselfWithTheTagList) {
    TestHost host;
    Module module;
    const OperatorInfoTag *tags = module.getOperatorInfo();
    const uint32_t expected[] = {0x4F504500, 0x4F504501, 0x4F504503, 0x4F50450D,
                                 0x4F504510, 0x4F504509, 0x4F504504, 0x4F504505,
                                 0x4F504506, 0x4F504507, 0};
    for (size_t i = 0; i < std::size(expected); ++i) EXPECT_EQ(tags[i].tag, expected[i]) << i;
    EXPECT_EQ(tags[0].value, 32u);
    EXPECT_EQ(tags[1].value, 0u);
    EXPECT_EQ(tags[2].value, reinterpret_cast<uintptr_t>(module.operatorAction));
    EXPECT_EQ(tags[3].value, 2u);
    const std::string version = reinterpret_cast<const char *>(tags[4].value);
    EXPECT_EQ(version.rfind("$Id: LustraFex,v 1.0 2014/11/26 00:00:00 ", 0), 0u) << version;
    EXPECT_EQ(version.substr(version.size() - 2), " $");

    const auto *text = reinterpret_cast<const TextBufferRecord *>(tags[5].value);
    EXPECT_EQ(text->capacity, 128);
    EXPECT_EQ(text->zero, 0);
    EXPECT_EQ(*static_cast<const uint16_t *>(text->buffer), 0);
    const auto *three = reinterpret_cast<const ThreeNumbers *>(tags[6].value);
    EXPECT_EQ(three->a, 4);
    EXPECT_EQ(three->b, 101);
    EXPECT_EQ(three->c, 2);

    const int16_t labels[3] = {102, 105, 108};
    for (int c = 0; c < 3; ++c) {
        const auto *choice = reinterpret_cast<const HostChoice *>(tags[7 + c].value);
        EXPECT_EQ(choice->zero, 0);
        EXPECT_EQ(choice->labelId, labels[c]);
        EXPECT_EQ(choice->zero2, 0);
        EXPECT_EQ(choice->optionIds[0], labels[c] + 1);
        EXPECT_EQ(choice->optionIds[1], labels[c] + 2);
        EXPECT_EQ(choice->optionIds[2], 0);
        EXPECT_EQ(choice->value, 0);
    }
    EXPECT_EQ(module.getOperatorInfo(), tags) << "the same list on every call";
}

TEST(ModuleInterface, UnknownActionsChangeNothing) {
    TestHost host;
    TempHome home;
    Module module;
    module.getOperatorInfo();
    for (uint16_t code : {0, 5, 7, 8, 100, 65535}) EXPECT_EQ(module.action(code), 0) << code;
    EXPECT_TRUE(host.fieldRequests.empty());
    EXPECT_TRUE(host.logLines.empty());
}

TEST(ModuleInterface, EditWithoutDialogOnlyDeterminesTheSettingsName) {
    TestHost host;
    TempHome home;
    Module module;
    module.getOperatorInfo();
    module.context.noDialog = 1;
    EXPECT_EQ(module.action(4), 0);
    module.context.noDialog = 0;
    EXPECT_EQ(module.action(4), 0);
    EXPECT_TRUE(host.logLines.empty());
}

TEST(ModuleInterface, DeleteSettingsRemovesOnlyACustomFile) {
    TestHost host;
    TempHome home;
    Module module;
    module.getOperatorInfo();
    writeBytes(home.settingsPath(), std::vector<uint8_t>(824, 0));
    writeBytes(home.settingsPath("clip7.prf"), std::vector<uint8_t>(824, 0));

    // Without a custom name: line 998, -1, and "last.prf" stays.
    EXPECT_EQ(module.action(6), -1);
    ASSERT_EQ(host.logLines.size(), 1u);
    const LogLine &log = host.logLines[0];
    EXPECT_EQ(log.severity, 4);
    EXPECT_EQ(log.line, 998);
    EXPECT_EQ(log.source, "src\\LustraFex");
    EXPECT_EQ(log.code, 0x0C1B0000u);
    EXPECT_EQ(log.text, " ");
    EXPECT_TRUE(fs::exists(home.settingsPath()));

    host.customName = "/programs/lustra/settings/clip7.prf";
    EXPECT_EQ(module.action(6), 0);
    EXPECT_FALSE(fs::exists(home.settingsPath("clip7.prf")));
    EXPECT_TRUE(fs::exists(home.settingsPath()));
    EXPECT_EQ(module.action(6), 0) << "a missing file is not an error";
}

TEST(ModuleInterface, OverlongSettingsPathsAreRefused) {
    TestHost host;
    TempHome home;
    Module module;
    module.getOperatorInfo();
    std::string name = "/" + std::string(2000, 'n');
    host.customName = name.c_str();
    EXPECT_EQ(module.action(1), 0) << "set-up goes on with the defaults";
    EXPECT_EQ(module.action(6), -1);
    EXPECT_EQ(host.loggedLines(), std::vector<int32_t>{999});
}
