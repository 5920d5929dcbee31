// Prints the version resource of a Windows module, read straight from the PE
// file without any Windows code: the resource's language, the fixed file
// information and every string and translation, one per line.
//   pe_version MODULE
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Reader {
    std::vector<uint8_t> data;
    bool ok = true;

    uint32_t U16(size_t at) {
        if (at + 2 > data.size()) {
            ok = false;
            return 0;
        }
        return data[at] | data[at + 1] << 8;
    }
    uint32_t U32(size_t at) { return U16(at) | U16(at + 2) << 16; }
    // A NUL-terminated UTF-16 string of ASCII characters ('?' for others).
    std::string Text(size_t at, size_t *end) {
        std::string text;
        for (;;) {
            const uint32_t c = U16(at);
            at += 2;
            if (!ok || c == 0) break;
            text += c < 0x80 ? static_cast<char>(c) : '?';
        }
        *end = at;
        return text;
    }
};

size_t Align4(size_t at, size_t base) { return base + ((at - base + 3) & ~size_t{3}); }

struct Section {
    uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

// One node of the version tree: length, value length, type, key; then the
// value and the children.
void Walk(Reader &r, size_t at, size_t limit, const std::string &parent, size_t block) {
    while (at + 6 <= limit && r.ok) {
        const size_t length = r.U16(at);
        const size_t valueLength = r.U16(at + 2);
        const uint32_t type = r.U16(at + 4);
        if (length < 6 || at + length > limit) {
            r.ok = false;
            return;
        }
        size_t keyEnd = 0;
        const std::string key = r.Text(at + 6, &keyEnd);
        const size_t value = Align4(keyEnd, block);
        const size_t end = at + length;
        if (key == "VS_VERSION_INFO") {
            if (r.U32(value) != 0xFEEF04BDu) {
                std::printf("error: no fixed file information\n");
                r.ok = false;
                return;
            }
            const uint32_t fileMs = r.U32(value + 8), fileLs = r.U32(value + 12);
            const uint32_t productMs = r.U32(value + 16), productLs = r.U32(value + 20);
            std::printf("file-version %u.%u.%u.%u\n", fileMs >> 16, fileMs & 0xFFFF, fileLs >> 16, fileLs & 0xFFFF);
            std::printf("product-version %u.%u.%u.%u\n", productMs >> 16, productMs & 0xFFFF, productLs >> 16,
                        productLs & 0xFFFF);
            std::printf("file-type %u\n", r.U32(value + 36));
            Walk(r, Align4(value + valueLength, block), end, key, block);
        } else if (key == "StringFileInfo" || key == "VarFileInfo") {
            Walk(r, Align4(value + (type == 1 ? valueLength * 2 : valueLength), block), end, key, block);
        } else if (parent == "StringFileInfo") {
            std::printf("string-table %s\n", key.c_str());
            Walk(r, value, end, "table:" + key, block);
        } else if (parent.rfind("table:", 0) == 0) {
            size_t textEnd = 0;
            const std::string text = valueLength ? r.Text(value, &textEnd) : std::string();
            std::printf("string %s %s=%s\n", parent.substr(6).c_str(), key.c_str(), text.c_str());
        } else if (parent == "VarFileInfo" && key == "Translation") {
            for (size_t i = 0; i + 4 <= valueLength; i += 4)
                std::printf("translation %04x %u\n", r.U16(value + i), r.U16(value + i + 2));
        } else {
            std::printf("unknown %s\n", key.c_str());
        }
        at = Align4(end, block);
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pe_version MODULE\n");
        return 2;
    }
    Reader r;
    if (FILE *file = std::fopen(argv[1], "rb")) {
        uint8_t buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) r.data.insert(r.data.end(), buffer, buffer + n);
        std::fclose(file);
    } else {
        std::fprintf(stderr, "pe_version: cannot read %s\n", argv[1]);
        return 1;
    }
    const size_t pe = r.U32(0x3C);
    if (r.U32(pe) != 0x00004550u) {
        std::printf("error: not a PE file\n");
        return 1;
    }
    const size_t coff = pe + 4;
    const uint32_t sections = r.U16(coff + 2);
    const size_t optional = coff + 20;
    const uint32_t magic = r.U16(optional);
    const size_t directories = optional + (magic == 0x20B ? 112 : 96);
    const uint32_t resourceRva = r.U32(directories + 2 * 8);
    std::vector<Section> table;
    const size_t sectionTable = optional + r.U16(coff + 16);
    for (uint32_t i = 0; i < sections; ++i) {
        const size_t s = sectionTable + 40 * i;
        table.push_back({r.U32(s + 12), r.U32(s + 8), r.U32(s + 20), r.U32(s + 16)});
    }
    auto offsetOf = [&](uint32_t rva) -> size_t {
        for (const Section &s : table)
            if (rva >= s.virtualAddress && rva < s.virtualAddress + std::max(s.virtualSize, s.rawSize))
                return s.rawOffset + (rva - s.virtualAddress);
        return SIZE_MAX;
    };
    const size_t root = offsetOf(resourceRva);
    if (!r.ok || root == SIZE_MAX) {
        std::printf("error: no resources\n");
        return 1;
    }
    // Type 16 (version), then its one name, then its languages.
    auto find = [&](size_t directory, uint32_t id, bool any, uint32_t *found) -> size_t {
        const uint32_t named = r.U16(directory + 12), ids = r.U16(directory + 14);
        for (uint32_t i = 0; i < named + ids; ++i) {
            const size_t entry = directory + 16 + 8 * i;
            const uint32_t name = r.U32(entry);
            if (any || name == id) {
                if (found) *found = name;
                return r.U32(entry + 4);
            }
        }
        return SIZE_MAX;
    };
    const size_t types = find(root, 16, false, nullptr);
    if (types == SIZE_MAX || !(types & 0x80000000u)) {
        std::printf("error: no version resource\n");
        return 1;
    }
    const size_t names = root + (types & 0x7FFFFFFFu);
    const size_t languages = find(names, 0, true, nullptr);
    if (languages == SIZE_MAX || !(languages & 0x80000000u)) return 1;
    const size_t languageDirectory = root + (languages & 0x7FFFFFFFu);
    const uint32_t count = r.U16(languageDirectory + 12) + r.U16(languageDirectory + 14);
    std::printf("version-resources %u\n", count);
    uint32_t language = 0;
    const size_t leaf = find(languageDirectory, 0, true, &language);
    std::printf("language %04x\n", language);
    const size_t dataEntry = root + leaf;
    const size_t block = offsetOf(r.U32(dataEntry));
    const size_t size = r.U32(dataEntry + 4);
    if (!r.ok || block == SIZE_MAX || block + size > r.data.size()) {
        std::printf("error: version resource out of the file\n");
        return 1;
    }
    Walk(r, block, block + size, "", block);
    return r.ok ? 0 : 1;
}
