// The package inspector: shows, lists, verifies and extracts a package as the
// installer reads it.
//   inspect info|list [--json]|verify|extract [--codepage N] PACKAGE [DIR]
#include "namecodec.h"
#include "outputtree.h"
#include "owners.h"
#include "packageinspect.h"
#include "packagerules.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const int USAGE = 2;
// Names are read in the code page the packages of our users are built in,
// unless --codepage says otherwise.
const int DEFAULT_CODEPAGE = 936;

int usage()
{
    fprintf(stderr, "usage: inspect info [--codepage N] PACKAGE\n"
                    "       inspect list [--json] [--codepage N] PACKAGE\n"
                    "       inspect verify [--codepage N] PACKAGE\n"
                    "       inspect extract [--codepage N] PACKAGE DIR\n"
                    "verify and extract: exit 0 when sound, 1 with one line per finding, 2 when the file\n"
                    "cannot be read as a package. extract reports what verify reports and writes every\n"
                    "entry it can read whole (also beside a digest mismatch or a name at fault); it exits\n"
                    "0 only when the package is sound and every entry was written. Names are read in code\n"
                    "page 936 unless --codepage says; control characters and bytes that are no character\n"
                    "of the code page are shown as \\xNN in every output.\n");
    return USAGE;
}

std::string jsonstring(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(char(c));
        } else if (c < 0x20) {
            char code[8];
            snprintf(code, sizeof code, "\\u%04x", unsigned(c));
            out += code;
        } else {
            out.push_back(char(c));
        }
    }
    return out + "\"";
}

void printfindings(int codepage, const std::vector<finding>& findings)
{
    for (const finding& f : findings) {
        std::string where = f.archive ? std::string("archive ") + f.archive + ": " : "";
        if (!f.name.empty()) where += shownname(codepage, f.name) + ": ";
        std::string other = f.other.empty() ? "" : shownname(codepage, f.other);
        printf("%s%s%s\n", where.c_str(), f.text.c_str(), other.c_str());
    }
}

void totals(const inspectedarchive& archive, unsigned long long& compressed, unsigned long long& size)
{
    compressed = size = 0;
    for (const inspectedentry& entry : archive.entries) {
        compressed += entry.compressed;
        size += entry.size;
    }
}

int info(const inspectedpackage& p)
{
    printf("file size: %lld bytes\n", p.filesize);
    if (p.signature)
        printf("signature: certificate table of %lld bytes at %d\n", p.filesize - p.searchend, int(p.searchend));
    else
        printf("signature: none\n");
    const PackageTrailer& t = p.trailer;
    printf("trailer: at %d, marker %d bytes before %s\n",
           int(p.searchend + p.distance - (TRAILER_SIZE - TRAILER_MARKER_SIZE)), int(-p.distance),
           p.signature ? "the certificate table" : "the end of the file");
    printf("offsetA: %u (stub size)\noffsetB: %u\n", unsigned(t.offsetA), unsigned(t.offsetB));
    if (p.trailerpos < 0) {
        printf("offsets: invalid (offsetA < offsetB <= trailer needed)\n");
        return INSPECT_FINDINGS;
    }
    const char* stored[2] = {t.digestA, t.digestB};
    const char* computed[2] = {p.computedA, p.computedB};
    const inspectedarchive* archives[2] = {&p.a, &p.b};
    for (int i = 0; i < 2; ++i) {
        bool same = memcmp(stored[i], computed[i], 32) == 0;
        printf("digest %c: trailer %.32s, computed %s (%s)\n", 'A' + i, stored[i], computed[i],
               same ? "match" : "MISMATCH");
    }
    for (int i = 0; i < 2; ++i) {
        const inspectedarchive& a = *archives[i];
        unsigned long long compressed, size;
        totals(a, compressed, size);
        printf("archive %c: %u bytes at %u, ", 'A' + i, unsigned(a.length), unsigned(a.start));
        if (!a.opened)
            printf("no ZIP end of central directory\n");
        else
            printf("%zu entries%s, %llu bytes compressed, %llu bytes\n", a.entries.size(),
                   a.complete ? "" : " readable (more announced)", compressed, size);
    }
    return INSPECT_SOUND;
}

// The entry's compression method by name, or by number when the reader
// knows no name for it.
std::string methodname(uint16_t method)
{
    const char* name = entrymethodname(method);
    return name ? name : "method-" + std::to_string(method);
}

int list(const inspectedpackage& p, int codepage, bool json)
{
    const inspectedarchive* archives[2] = {&p.a, &p.b};
    if (json) printf("{\"entries\": [");
    bool first = true;
    for (int i = 0; i < 2; ++i) {
        for (const inspectedentry& e : archives[i]->entries) {
            std::string converted;
            bool whole = toutf8(codepage, e.name, converted);
            std::string name = shownname(codepage, e.name);
            std::string method = methodname(e.method);
            if (json) {
                printf("%s\n  {\"archive\": \"%c\", \"name\": %s, \"converted\": %s, \"size\": %llu, "
                       "\"compressed\": %llu, \"crc\": \"%08x\", \"method\": %s}",
                       first ? "" : ",", 'A' + i, jsonstring(name).c_str(), whole ? "true" : "false",
                       (unsigned long long)e.size, (unsigned long long)e.compressed, unsigned(e.crc),
                       jsonstring(method).c_str());
            } else {
                printf("%c %12llu %12llu %08x %-9s %s\n", 'A' + i, (unsigned long long)e.size,
                       (unsigned long long)e.compressed, unsigned(e.crc), method.c_str(), name.c_str());
            }
            first = false;
        }
    }
    if (json) printf("%s]}\n", first ? "" : "\n");
    return p.trailerpos < 0 ? INSPECT_FINDINGS : INSPECT_SOUND;
}

// Writes each safe entry below the root, its name converted to UTF-8.
class extractsink : public entrysink {
public:
    extractsink(outputtree& tree, int codepage, std::vector<finding>& findings)
        : tree(tree), codepage(codepage), findings(findings)
    {
    }

    bool begin(const inspectedentry& entry) override
    {
        name = entry.name;
        // A name that reaches the sink starts with its archive's top directory.
        const size_t top = strlen(PACKAGE_SETUP_TREE);
        bool setup = name.size() > top && name.compare(0, top, PACKAGE_SETUP_TREE) == 0 && isseparator(name[top]);
        archive = setup ? 'A' : 'B';
        std::vector<std::string> components;
        for (const std::string& part : splitname(entry.name, leadbytesof(codepage))) {
            std::string converted;
            if (!toutf8(codepage, part, converted)) {
                findings.push_back(
                    {archive, name, "name not in code page " + std::to_string(codepage) + ": not written"});
                return false;
            }
            components.push_back(converted);
        }
        if (!tree.create(components)) {
            findings.push_back({archive, name, tree.why() + ": not written"});
            return false;
        }
        return true;
    }

    bool data(const unsigned char* bytes, size_t length) override
    {
        if (tree.write(bytes, length)) return true;
        findings.push_back({archive, name, tree.why()});
        return false;
    }

    int32_t end(int32_t result) override
    {
        if (tree.finish(result == ENTRY_OK) || result != ENTRY_OK) return result;
        findings.push_back({archive, name, tree.why()});
        return ENTRY_WRITE_FAILED;
    }

private:
    outputtree& tree;
    int codepage;
    std::vector<finding>& findings;
    char archive = 0;
    std::string name;
};

} // namespace

int main(int argc, char** argv)
{
    std::string command;
    bool json = false;
    int codepage = DEFAULT_CODEPAGE;
    std::vector<std::string> operands;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--json") {
            json = true;
        } else if (arg == "--codepage" && i + 1 < argc) {
            codepage = atoi(argv[++i]);
            if (!knowncodepage(codepage)) {
                fprintf(stderr, "inspect: unknown code page %s\n", argv[i]);
                return USAGE;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage();
        } else if (command.empty()) {
            command = arg;
        } else {
            operands.push_back(arg);
        }
    }
    bool extract = command == "extract";
    if (operands.size() != (extract ? 2u : 1u) ||
        !(extract || command == "info" || command == "list" || command == "verify") || (json && command != "list"))
        return usage();

    const char* path = operands[0].c_str();
    stdiofile stream(fopen(path, "rb"));
    if (!stream) {
        printf("%s: cannot be opened\n", path);
        return INSPECT_UNREADABLE;
    }
    packageinspector inspector;
    int result = inspector.open(stream.get());
    if (result == INSPECT_UNREADABLE) {
        printf("%s: not a package (no trailer marker, or the file cannot be read)\n", path);
        return INSPECT_UNREADABLE;
    }
    std::vector<finding> findings;
    if (command == "info") {
        result = info(inspector.package());
    } else if (command == "list") {
        result = list(inspector.package(), codepage, json);
    } else if (command == "verify") {
        result = inspector.verify(codepage, findings);
        printfindings(codepage, findings);
    } else {
        outputtree tree;
        if (!tree.open(operands[1])) {
            printf("%s\n", tree.why().c_str());
            return INSPECT_UNREADABLE;
        }
        extractsink sink(tree, codepage, findings);
        inspector.extract(codepage, &sink, findings);
        printfindings(codepage, findings);
        result = findings.empty() ? INSPECT_SOUND : INSPECT_FINDINGS;
    }
    return result;
}
