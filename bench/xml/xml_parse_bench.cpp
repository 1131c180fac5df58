// Parse throughput of the document index against pugixml on the same generated configuration text.
#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "xmldoc.h"

namespace {

// A configuration-like document: nested sections, attributes, text, comments, about targetBytes long.
std::string generate(size_t targetBytes)
{
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- generated configuration -->\n<config version=\"3\">\n";
    unsigned seed = 12345;
    auto next = [&]() { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    for (int s = 0; out.size() < targetBytes; ++s) {
        out += "  <section name=\"section" + std::to_string(s) + "\" id=\"" + std::to_string(next()) + "\">\n";
        out += "    <!-- settings of section " + std::to_string(s) + " -->\n";
        const int items = 4 + static_cast<int>(next() % 12);
        for (int i = 0; i < items; ++i) {
            out += "    <item key=\"k" + std::to_string(i) + "\" value='" + std::to_string(next()) +
                   "' enabled=\"true\" path=\"C:\\Program Files\\App\\file" + std::to_string(i) + ".dat\"/>\n";
            if (i % 4 == 0) {
                out += "    <group kind=\"g\">\n      <entry>text &amp; more text " + std::to_string(next()) +
                       "</entry>\n      <entry><![CDATA[raw <data> here]]></entry>\n    </group>\n";
            }
        }
        out += "  </section>\n";
    }
    out += "</config>\n";
    return out;
}

template <typename F>
double bestSeconds(int runs, F&& run)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const auto end = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(end - start).count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    const size_t megabytes = argc > 1 ? static_cast<size_t>(std::atoi(argv[1])) : 40;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string bytes = generate(megabytes * 1000000);
    const std::u16string units(bytes.begin(), bytes.end()); // the generated text is ASCII
    const double mb = static_cast<double>(bytes.size()) / 1e6;

    size_t elements = 0;
    bool sound = false;
    const double ours = bestSeconds(runs, [&] {
        xmldoc doc;
        sound = doc.setText(std::u16string_view(units));
        elements = static_cast<size_t>(doc.nextFreeRecord - 1);
    });

    size_t pugiNodes = 0;
    bool pugiOk = false;
    const double pugi = bestSeconds(runs, [&] {
        pugi::xml_document doc;
        pugiOk = doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_utf8);
        pugiNodes = doc.first_child() ? 1 : 0;
    });

    const double pugiInPlace = bestSeconds(runs, [&] {
        std::string copy = bytes;
        pugi::xml_document doc;
        pugiOk = pugiOk && doc.load_buffer_inplace(&copy[0], copy.size(), pugi::parse_default, pugi::encoding_utf8);
    });

    std::printf("document: %.1f MB of text, %zu elements, sound %s, pugixml %s\n", mb, elements, sound ? "yes" : "no",
                pugiOk && pugiNodes ? "ok" : "failed");
    std::printf("xmldoc::setText (UTF-16 text, copy + index): %8.1f MB/s (%.3f s)\n", mb / ours, ours);
    std::printf("pugixml load_buffer (UTF-8, copy + DOM):     %8.1f MB/s (%.3f s)\n", mb / pugi, pugi);
    std::printf("pugixml load_buffer_inplace (incl. a copy):  %8.1f MB/s (%.3f s)\n", mb / pugiInPlace, pugiInPlace);
    std::printf("ratio xmldoc / pugixml load_buffer: %.2f\n", pugi / ours);
    // A parse that failed makes the figures meaningless: the run fails.
    return sound && pugiOk && pugiNodes ? 0 : 1;
}
